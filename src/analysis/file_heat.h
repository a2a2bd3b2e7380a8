#pragma once
// Per-file heat: every line scored, then weighed by its brace block, its
// depth, the trend of the lines above it and the hot lines around it.

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/language_profile.h"
#include "analysis/lexer.h"
#include "analysis/line_split.h"
#include "analysis/text_scanner.h"
#include "model/model.h"

namespace varnholt_app {

// Limits and thresholds of the per-file pass, shared with the explanation of
// a line, which must recompose the same heat to the bit.
inline constexpr int32_t kMaxDepth = 512;
inline constexpr int32_t kFactorDepth = 24;
inline constexpr double kMaxHeat = 1e9;
inline constexpr double kHotScore = 1.65;  // a line above it lifts its neighbours

// Working record of one line, valid in AnalysisScratch until the next call.
struct LineRecord {
  double rawScore = 0.0;  // 0 when the line is not scored
  double keywordTrend = 0.0;
  double tokenTrend = 0.0;
  double spread = 0.0;    // forward sum, and the larger with the backward sum once the line may be lifted
  int32_t depth = 0;     // brace depth at the start of the line, 0..512
  uint32_t block = 0;    // index into AnalysisScratch::blocks; only for scored lines
};

struct BlockStats {
  int32_t lineCount = 0;
  int64_t typeKwSum = 0;
  double keywordSum = 0.0;
  double factor = 0.0;  // block part of the block factor, once needed
  bool factorReady = false;
};

// Blocks of a family whose blocks come from indentation (Python). A
// statement whose code ends in ":" (a trailing comment aside) opens a block
// holding the lines after it that are indented deeper than the statement;
// the depth of a line is the number of such blocks open. Only a line that
// starts a statement moves blocks: lines inside open brackets, after a
// backslash or starting inside a string continue the statement before, and
// blank and comment-only lines close nothing. Indentation counts a space as
// 1 and a tab up to the next multiple of 8, as Python reads it. Braces are
// brackets here and open no block.
struct IndentBlocks {
  static constexpr uint32_t kNoBlock = UINT32_MAX;
  struct Open {
    int64_t header;  // indentation of the statement that opened it; -1 for the file
    uint32_t block;  // kNoBlock until a scored line lands in it
  };
  std::vector<Open> open;  // innermost last
  int64_t brackets = 0;    // brackets left open for the lines after
  bool continued = false;  // the line before ended in a backslash
  bool headerPending = false;
  int64_t headerIndent = 0;
  int64_t statementIndent = 0;

  void start();
  // Opens and closes blocks for a line, before the line is placed.
  // `firstNonBlank`: offset of the first byte not in " \t\r", or the size.
  void enter(std::string_view line, size_t firstNonBlank, const LineFacts& facts);
  // Carries the line's brackets and ending to the next line.
  void leave(const LineFacts& facts);
  int32_t depth() const;
  // The innermost open block for a scored line: a block is numbered, as the
  // next entry of `blocks`, when its first scored line comes.
  template <class Blocks>
  uint32_t scoredBlock(Blocks& blocks) {
    uint32_t& id = open.back().block;
    if (id == kNoBlock) {
      id = static_cast<uint32_t>(blocks.size());
      blocks.emplace_back();
    }
    return id;
  }
};

// Called for every line of a Python file: inline.
inline void IndentBlocks::enter(std::string_view line, size_t firstNonBlank, const LineFacts& f) {
  if (f.startsInside != 0 || brackets > 0 || continued) return;
  if (firstNonBlank >= line.size() || line[firstNonBlank] == '#') return;  // blank or a comment
  // Mostly spaces only: eight at a time, then the rest byte by byte.
  size_t i = 0;
  while (i + 8 <= firstNonBlank && std::memcmp(line.data() + i, "        ", 8) == 0) i += 8;
  auto width = static_cast<int64_t>(i);
  for (; i < firstNonBlank; ++i) {
    if (line[i] == ' ') {
      ++width;
    } else if (line[i] == '\t') {
      width = (width / 8 + 1) * 8;
    }
  }
  while (open.size() > 1 && open.back().header >= width) open.pop_back();
  if (headerPending && width > headerIndent) open.push_back({headerIndent, kNoBlock});
  headerPending = false;
  statementIndent = width;
}

// Working memory that a thread analysing many files can reuse, so that it
// does not reallocate per file. Blocks are numbered here in the order of
// their first scored line, which changes no result.
struct AnalysisScratch {
  std::vector<LineRecord> records;  // of the listed lines only: see `lifted`
  std::vector<BlockStats> blocks;
  struct StackRun {
    uint32_t block;  // kNoBlock until a scored line lands in it
    uint64_t count;  // entries of this run: fresh blocks are alike until used
  };
  static constexpr uint32_t kNoBlock = UINT32_MAX;
  std::vector<StackRun> scopes;
  IndentBlocks indents;
  struct CacheSlot {
    uint64_t key = 0;
    double value = 0.0;
  };
  static constexpr uint32_t kCacheBits = 9;
  std::vector<CacheSlot> heatCache;  // complexity bits -> base heat
  double cacheRef = 0.0;             // the profile reference the cache was filled for
  // Scores of a scored line by its packed counts: most lines repeat a few
  // shapes. Valid for the weights it was filled with.
  struct ScoreSlot {
    uint64_t key = 0;
    double keyword = 0.0;
    double heatBase = 0.0;
    double rawScore = 0.0;
  };
  static constexpr uint32_t kScoreBits = 10;
  std::vector<ScoreSlot> scoreCache;
  std::array<double, 14> scoreWeights{};
  // The lines above the lift score, in order, as the first entries of both
  // buffers: their line numbers, and their records (only these are read
  // back, so no other line keeps one).
  std::vector<size_t> lifted;
  size_t listed = 0;  // how many of them the last text had
  std::vector<double> heats;   // heat per line, copied out once the line count is known
  std::vector<ScannedLine> lines;  // lines of the text scanner, a batch at a time
  std::string text;  // file buffer of analyzeFile
};

// Reads the whole file in binary. False when it cannot be opened or sized,
// or is larger than the window; an empty file succeeds with empty text.
// `sizeHint`: the size the walk saw, or -1 (see readWholeFile).
bool readFileText(std::string_view utf8Path, std::string& out, int64_t sizeHint = -1);

// Heat of every line of `text` (one entry per line of splitLines) and their
// sum in line order.
void analyzeText(std::string_view text, const LanguageProfile& profile,
                 std::vector<double>& lineHeatRaw, double& heatRaw, AnalysisScratch& scratch);
void analyzeText(std::string_view text, LanguageId language, std::vector<double>& lineHeatRaw,
                 double& heatRaw, AnalysisScratch& scratch);
void analyzeText(std::string_view text, LanguageId language, std::vector<double>& lineHeatRaw,
                 double& heatRaw);

// Reads file.path and recomputes file.lineHeatRaw and file.heatRaw; an
// unreadable file leaves them empty and 0.
void analyzeFile(ProjectFile& file, AnalysisScratch& scratch);
void analyzeFile(ProjectFile& file);

// The per-line tests analyzeText applies, for explanations (profile prepared).
bool lineIsScored(const LineFacts& facts, std::string_view line);
bool lineLooksLikeDeclaration(const LineFacts& facts, std::string_view line,
                              const LanguageProfile& profile);
double lineRawScore(const LineFacts& facts);

}  // namespace varnholt_app
