#pragma once
// Line splitting and the shallow byte-level line lexer.

#include <cstddef>
#include <cstdint>
#include <cstring>
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
  return !f.hasCode && (f.startsInside == kInsideMultiLineString || f.endsInside == kInsideMultiLineString);
}

// Whether the "?" at line[at] is a ternary operator under `rule`, from the
// bytes around it in the line.
bool questionIsTernary(std::string_view line, size_t at, QuestionRule rule);

// Number of lines splitLines gives for `text`.
size_t countSplitLines(std::string_view text);

// Calls visit(line) for every line of `text` in order, exactly as
// splitLines cuts them: "\n" ends a line, one "\r" before it is dropped,
// a lone "\r" stays, and a final "\n" leaves an empty last line.
template <class Visit>
void forEachLine(std::string_view text, Visit&& visit) {
  if (text.empty()) return;
  const char* p = text.data();
  const char* const end = p + text.size();
  for (;;) {
    const auto* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    const char* stop = nl != nullptr ? nl : end;
    std::string_view line(p, static_cast<size_t>(stop - p));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    visit(line);
    if (nl == nullptr) return;
    p = nl + 1;
  }
}

// The lines of `text` as views into it, without their line breaks.
std::vector<std::string_view> splitLines(std::string_view text);

// Scans one line with the file's lexer state (read and updated).
LineFacts scanLine(std::string_view line, LexState& state, const LanguageProfile& profile);

// One line as the whole-text scanner reports it.
struct ScannedLine {
  std::string_view text;  // as splitLines cuts it
  LineFacts facts;        // as scanLine gives them
  uint32_t firstNonBlank; // offset of the first byte not in " \t\r", or text.size()
  uint32_t codeUntil;     // offset where the first comment or literal begins, or text.size()
};

// Where a TextScanner stands between two batches of lines.
struct TextScanState {
  std::string_view text;
  const LanguageProfile* profile = nullptr;
  LexState lex;
  size_t lineStart = 0;
  bool done = false;
  bool wide = false;  // AVX2 and hardware bit counts
};

// Scans a whole text once, line after line, with the same results as
// forEachLine and scanLine with one LexState; bytes are classified 64 at a
// time and the bytes between two events (a line break, a quote or a comment
// marker) are counted from bit masks. Only for profiles where canScanWhole
// holds.
class TextScanner {
 public:
  // `wideIfAble`: use AVX2 when the CPU has it (off only to test the other path).
  TextScanner(std::string_view text, const LanguageProfile& profile, bool wideIfAble = true);
  // Fills up to `room` lines; returns how many, 0 after the last line.
  size_t next(ScannedLine* out, size_t room);

 private:
  TextScanState state_;
};

// The profiles TextScanner handles: prepared, with comment markers and
// keyword words that only the table probe and the byte rules need.
bool canScanWhole(const LanguageProfile& profile);

// isTrivialLine of the trimmed line, decided in one pass over the raw line;
// the first `knownBlanks` bytes are known to be blanks.
bool isTrivialUntrimmed(std::string_view line, size_t knownBlanks);

// Lower-cased word tokens of a raw line, comments and strings included.
std::vector<std::string> wordTokens(std::string_view line);

// `line` without spaces, tabs, "\r" and "\n" at either end.
std::string_view trimLine(std::string_view line);

// Lines that are never scored: empty, comment starts, preprocessor and import
// lines, and lines of brackets and separators only. Expects a trimmed line
// (trims again, which changes nothing for one).
bool isTrivialLine(std::string_view trimmedLine);

}  // namespace varnholt_app
