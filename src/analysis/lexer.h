#pragma once
// The shallow byte-level line lexer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/language_profile.h"

namespace varnholt_app {

// Carried from one line to the next while one file is scanned.
struct LexState {
  bool inBlockComment = false;
  bool inString = false;
  int32_t stringKind = 0;  // 0 none, 1 '...', 2 "...", 3 `...`, 4 '''...''', 5 """..."""
  bool escapePending = false;
};

// Counts of one line. Counts that would not fit saturate at INT32_MAX.
struct LineFacts {
  bool isBlank = false;
  int32_t tokenCount = 0;
  int32_t openBraces = 0;
  int32_t closeBraces = 0;
  int32_t dots = 0;
  int32_t boolOps = 0;
  int32_t ternaries = 0;
  int32_t loopKw = 0;
  int32_t branchKw = 0;
  int32_t exceptionKw = 0;
  int32_t functionKw = 0;
  int32_t typeKw = 0;
  int32_t lineLength = 0;
  // For the C-family declaration test, which can then mostly skip its own
  // pass over the line.
  uint8_t codeKeywordBits = 0;  // KeywordBits of code tokens not led by a digit
  bool leftCode = false;        // some byte lay in a comment or string literal
  bool codeParen = false;       // "(" in code
  int32_t blankPrefix = 0;      // leading bytes known to be blanks
  bool hasCode = false;         // some byte of the line is code
  // What the line begins and ends inside of: 0 code, 1 a block comment, 2 a
  // quoted string, 3 a multi-line string (backtick or triple quotes).
  uint8_t startsInside = 0;
  uint8_t endsInside = 0;
  // Only where blocks come from indentation, else 0: brackets "([{" and
  // ")]}" in code, and the line's last byte that is neither blank nor in a
  // comment (the opening quote when a string comes last).
  int32_t openBrackets = 0;
  int32_t closeBrackets = 0;
  char lastCodeByte = 0;
};

inline constexpr uint8_t kInsideMultiLineString = 3;

// A line of a multi-line string that holds no code: it begins or ends
// inside the string (the prose of a docstring, its opening line).
inline bool isStringOnly(const LineFacts& f) {
  // Bitwise: which lines these are follows no pattern a branch could learn.
  return (!f.hasCode) & ((f.startsInside == kInsideMultiLineString) | (f.endsInside == kInsideMultiLineString));
}

// Whether the "?" at line[at] is a ternary operator under `rule`, from the
// bytes around it in the line.
bool questionIsTernary(std::string_view line, size_t at, QuestionRule rule);

// Scans one line with the file's lexer state (read and updated).
LineFacts scanLine(std::string_view line, LexState& state, const LanguageProfile& profile);

// Lower-cased word tokens of a raw line, comments and strings included.
std::vector<std::string> wordTokens(std::string_view line);

}  // namespace varnholt_app
