#pragma once
// The whole-text scanner: the line lexer's results for a whole file, from
// 64-byte bit masks.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "analysis/language_profile.h"
#include "analysis/lexer.h"

namespace varnholt_app {

// One line as the whole-text scanner reports it.
struct ScannedLine {
  std::string_view text;  // as splitLines cuts it
  LineFacts facts;        // as scanLine gives them
  uint32_t firstNonBlank; // offset of the first byte not in " \t\r", or text.size()
  uint32_t codeUntil;     // offset where the first comment or literal begins, or text.size()
};

// The bytes that leave the mask rules, and which counted bytes are on.
struct ScanBytes {
  char event[6] = {};
  char ternary = '\n';  // '?', or a line break when "?" does not count
  bool boolOps = false;
  bool backticks = false;
  bool indentBlocks = false;
  QuestionRule questionRule = QuestionRule::kEvery;
  uint32_t maxKeyword = 0;  // longest keyword, 0 for none
  // Shifts that spread a bit over the maxKeyword bytes before it, in four
  // steps that double at most; and ~0, or 0 when there is no keyword.
  uint8_t reachShifts[4] = {};
  uint64_t reachKeep = 0;
  bool oneByteKeywords = false;
  // The first two bytes of keywords, for token starts (folded, high nibble
  // 6 or 7): per high nibble and low nibble of the first byte, bit n & 7 for
  // second-byte low nibbles n below 8 (`secondBelow8`) and from 8 on
  // (`secondFrom8`); no bit for a byte no keyword begins with.
  alignas(16) uint8_t secondBelow8[2][16] = {};
  alignas(16) uint8_t secondFrom8[2][16] = {};
  ScanBytes() = default;
  explicit ScanBytes(const LanguageProfile& p);
};

// How many bytes the scanner classifies per instruction: one at a time, 32
// (AVX2) or 64 (AVX-512, which also compares straight into bit masks).
enum class ScanWidth : uint8_t { kPlain, kAvx2, kAvx512 };

// The widest the CPU and this build can run.
ScanWidth widestScanWidth();

struct TextScanState;
// Scans the next batch of lines (one instance per set of byte rules).
using ScanBatch = size_t (*)(TextScanState& st, ScannedLine* out, size_t room);

// Where a TextScanner stands between two batches of lines.
struct TextScanState {
  std::string_view text;
  const LanguageProfile* profile = nullptr;
  LexState lex;
  size_t lineStart = 0;
  bool done = false;
  ScanBytes bytes;    // made once per text
  ScanBatch batch = nullptr;
};

// Scans a whole text once, line after line, with the same results as
// forEachLine and scanLine with one LexState; bytes are classified 64 at a
// time and the bytes between two events (a line break, a quote or a comment
// marker) are counted from bit masks. Only for profiles where canScanWhole
// holds.
class TextScanner {
 public:
  // `widest`: the widest classifier to use where the CPU has it (narrower
  // only to test the other paths).
  TextScanner(std::string_view text, const LanguageProfile& profile, ScanWidth widest = ScanWidth::kAvx512);
  // Fills up to `room` lines; returns how many, 0 after the last line.
  size_t next(ScannedLine* out, size_t room);

 private:
  TextScanState state_;
};

// The profiles TextScanner handles: prepared, with comment markers and
// keyword words that only the table probe and the byte rules need.
bool canScanWhole(const LanguageProfile& profile);

}  // namespace varnholt_app
