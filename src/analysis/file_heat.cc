#include "analysis/file_heat.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <optional>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "analysis/heat_math.h"
#include "analysis/lexer.h"
#include "analysis/line_split.h"
#include "analysis/text_scanner.h"
#include "analysis/scoring.h"
#include "base/file_io.h"
#include "base/native_string.h"

namespace varnholt_app {

namespace {

double clamp01(double v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }

struct WordBytes {
  bool table[256];
  constexpr WordBytes() : table() {
    for (int c = 0; c < 256; ++c) {
      table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '_';
    }
  }
};
constexpr WordBytes kWordBytes;

#ifdef __SSE2__
constexpr size_t kMaskedBytes = 256;

// Word bytes (A-Z a-z 0-9 _) of the n <= kMaskedBytes bytes at p, one bit
// each, 64 to an element; bits past n are 0.
void wordBits(const char* p, size_t n, uint64_t* out) {
  alignas(16) char bytes[kMaskedBytes];
  const size_t chunks = (n + 15) / 16;
  std::memcpy(bytes, p, n);
  std::memset(bytes + n, 0, chunks * 16 - n);
  for (size_t k = 0; k < (chunks + 3) / 4; ++k) out[k] = 0;
  for (size_t c = 0; c < chunks; ++c) {
    const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes + 16 * c));
    const __m128i fromA = _mm_sub_epi8(_mm_or_si128(v, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
    const __m128i alpha = _mm_cmpeq_epi8(_mm_min_epu8(fromA, _mm_set1_epi8(25)), fromA);
    const __m128i from0 = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(from0, _mm_set1_epi8(9)), from0);
    const __m128i word = _mm_or_si128(_mm_or_si128(alpha, digit), _mm_cmpeq_epi8(v, _mm_set1_epi8('_')));
    out[c / 4] |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(word))) << (16 * (c % 4));
  }
}
#endif

// C-family declaration test over the raw line, comments and strings
// included: no loop or branch word, and a modifier or both "(" and "{".
bool looksLikeDeclaration(std::string_view line, const LanguageProfile& profile, size_t from = 0,
                          uint8_t knownBits = 0) {
  const char* p = line.data() + from;
  const char* const end = line.data() + line.size();
  bool modifier = (knownBits & kKwDeclModifier) != 0;
#ifdef __SSE2__
  // Words from bit masks: a byte loop would guess wrong at every word's end.
  const size_t n = line.size() - from;
  if (n <= kMaskedBytes) {
    uint64_t bits[kMaskedBytes / 64];
    wordBits(p, n, bits);
    const size_t elements = (n + 63) / 64;
    uint64_t carry = 0;  // the byte before the element is a word byte
    for (size_t k = 0; k < elements; ++k) {
      const uint64_t w = bits[k];
      for (uint64_t starts = w & ~((w << 1) | carry); starts != 0; starts &= starts - 1) {
        const auto s = static_cast<size_t>(std::countr_zero(starts));
        size_t length = static_cast<size_t>(std::countr_zero(~(w >> s)));
        for (size_t j = k + 1; s + length == 64 * (j - k) && j < elements; ++j) {
          length += static_cast<size_t>(std::countr_zero(~bits[j]));
        }
        const uint8_t kw = keywordMask(profile, p + 64 * k + s, length, end);
        if (kw & (kKwLoop | kKwBranch)) return false;
        if (kw & kKwDeclModifier) modifier = true;
      }
      carry = w >> 63;
    }
    p = end;
  }
#endif
  while (p < end) {
    if (!kWordBytes.table[static_cast<unsigned char>(*p)]) {
      ++p;
      continue;
    }
    const char* word = p;
    while (p < end && kWordBytes.table[static_cast<unsigned char>(*p)]) ++p;
    const uint8_t bits = keywordMask(profile, word, static_cast<size_t>(p - word), end);
    if (bits & (kKwLoop | kKwBranch)) return false;
    if (bits & kKwDeclModifier) modifier = true;
  }
  if (modifier) return true;
  return std::memchr(line.data(), '(', line.size()) != nullptr &&
         std::memchr(line.data(), '{', line.size()) != nullptr;
}

// The same answer from what the lexer saw: code tokens are exactly the
// letter-led words outside comments and strings, so a line without either
// needs no second pass, and one that has them needs it only from
// `codeUntil`, where the first of them begins (no word spans that byte).
bool declarationFlag(const LineFacts& f, std::string_view line, const LanguageProfile& profile,
                     size_t codeUntil = 0) {
  if (!profile.compiled.wordSafeMarkers) return looksLikeDeclaration(line, profile);
  const bool loopOrBranch = (f.codeKeywordBits & (kKwLoop | kKwBranch)) != 0;
  // One branch, for the few lines whose comments or strings must be read:
  // which lines have a loop or branch word follows no pattern.
  if (f.leftCode & (!loopOrBranch)) [[unlikely]] {
    return looksLikeDeclaration(line, profile, codeUntil, f.codeKeywordBits);
  }
  return (!loopOrBranch) & (((f.codeKeywordBits & kKwDeclModifier) != 0) | (f.codeParen & (f.openBraces > 0)));
}

// The trivial test goes last: most lines are decided before it.
inline bool isScored(const LineFacts& f, std::string_view line, size_t knownBlanks) {
  // Counts are never negative: one OR tells whether any is set.
  const bool counts = (f.tokenCount | f.branchKw | f.loopKw | f.exceptionKw | f.boolOps | f.ternaries | f.dots) != 0;
  const bool braceless = static_cast<int64_t>(f.openBraces) + f.closeBraces == 0;
  // A line wholly inside a multi-line string holds no code, like a comment.
  if (f.isBlank | isStringOnly(f) | !(counts | braceless)) return false;
  // Most scored lines begin with a byte or two no trivial line begins with.
  if (knownBlanks < line.size()) {
    const auto lead = static_cast<unsigned char>(line[knownBlanks]);
    if (!kTrivialLeads.may[lead]) return true;
    const char second = kTrivialLeads.second[lead];
    if (second != 0 && (knownBlanks + 1 == line.size() || line[knownBlanks + 1] != second)) return true;
    if (kTrivialLeads.comment[lead]) {
      const char next = knownBlanks + 1 < line.size() ? line[knownBlanks + 1] : '\0';
      return lead == '/' && next != '/' && next != '*';
    }
  }
  return !isTrivialUntrimmed(line, knownBlanks);
}

double rawScoreOf(const LineFacts& f, double k) {
  return std::max(k + 0.055 * std::max(std::min(f.tokenCount, 60) - 12, 0) +
                      0.22 * std::max(f.dots - 3, 0) + 0.08 * std::min(f.typeKw, 10),
                  0.0);
}

// What a line adds to the spread sums: 0.55 * rawScore on a hot line, else
// +0.0 (rawScore is never negative), by a mask: hot lines come in no pattern.
inline double hotShare(double rawScore) {
  const uint64_t keep = uint64_t{0} - static_cast<uint64_t>(rawScore > kHotScore);
  return std::bit_cast<double>(std::bit_cast<uint64_t>(0.55 * rawScore) & keep);
}

// Lines at or below it have no intensity, so nothing lifts them.
constexpr double kLiftScore = 1.2;

double intensityOf(double rawScore) { return clamp01((rawScore - 1.2) * 0.25); }

// Base heat through a small exact cache: many lines share a complexity.
double cachedBaseHeat(double complexity, const LanguageProfile& profile,
                      AnalysisScratch& scratch) {
  uint64_t bits;
  std::memcpy(&bits, &complexity, sizeof bits);
  const auto slot = static_cast<size_t>((bits * 0x9e3779b97f4a7c15ull) >>
                                        (64 - AnalysisScratch::kCacheBits));
  AnalysisScratch::CacheSlot& entry = scratch.heatCache[slot];
  if (entry.key != bits) {
    entry.key = bits;
    entry.value = lineHeatFromComplexity(complexity, profile);
  }
  return entry.value;
}

// The counts that decide a scored line's scores, packed; 0 when one does
// not fit (such a line is scored directly).
#if defined(__SSE2__) && defined(__x86_64__)
// Eight counts that lie side by side, narrowed to a byte each in one step.
static_assert(offsetof(LineFacts, boolOps) == offsetof(LineFacts, dots) + 4 &&
              offsetof(LineFacts, branchKw) == offsetof(LineFacts, dots) + 16 &&
              offsetof(LineFacts, typeKw) == offsetof(LineFacts, dots) + 28);
uint64_t scoreKey(const LineFacts& f, bool declaration) {
  const auto* counts = reinterpret_cast<const char*>(&f.dots);
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(counts));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(counts + 16));
  // Saturating: a count too large for its field stays too large.
  const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(low, high), _mm_setzero_si128());
  // dots, boolOps, ternaries, loopKw, branchKw, exceptionKw, functionKw, typeKw
  const auto packed = static_cast<uint64_t>(_mm_cvtsi128_si64(bytes));
  if ((packed & 0xf8f8f8f8f8f8f8e0ull) != 0) return 0;  // dots from 32, any other from 8
  const auto tokens = static_cast<uint64_t>(std::min(f.tokenCount, 60));
  const uint64_t length = f.lineLength >= 240 ? 2 : (f.lineLength >= 140 ? 1 : 0);
  // The rest in the bits those limits leave free.
  return packed | (tokens & 31) << 59 | (tokens >> 5) << 51 | length << 52 | uint64_t{declaration} << 54 |
         uint64_t{1} << 55;
}
#else
uint64_t scoreKey(const LineFacts& f, bool declaration) {
  const auto small = static_cast<uint32_t>(f.loopKw | f.branchKw | f.exceptionKw | f.functionKw | f.typeKw |
                                           f.boolOps | f.ternaries);
  if (small >= 8 || static_cast<uint32_t>(f.dots) >= 32) return 0;
  const auto u = [](int32_t v) { return static_cast<uint64_t>(v); };
  const uint64_t length = f.lineLength >= 240 ? 2 : (f.lineLength >= 140 ? 1 : 0);
  return u(std::min(f.tokenCount, 60)) | u(f.loopKw) << 6 | u(f.branchKw) << 9 | u(f.exceptionKw) << 12 |
         u(f.functionKw) << 15 | u(f.typeKw) << 18 | u(f.boolOps) << 21 | u(f.ternaries) << 24 |
         u(f.dots) << 27 | length << 32 | (declaration ? uint64_t{1} << 34 : 0) | uint64_t{1} << 63;
}
#endif

std::array<double, 14> scoreWeightsOf(const LanguageProfile& p) {
  return {p.wBase, p.wTokens, p.wLoop, p.wBranch, p.wException, p.wFunction, p.wType,
          p.wBoolOp, p.wTernary, p.wDot, p.wLongLine, p.wVeryLongLine,
          p.longLinePenalty ? 1.0 : 0.0, p.compiled.heatRef};
}

// `lines`: a guess, only to size buffers and to decide which are worth keeping.
void prepareScratch(AnalysisScratch& scratch, const LanguageProfile& profile, size_t lines) {
  // Keep buffers for reuse, but not a huge one left by an exceptional file.
  constexpr size_t kKeep = size_t{1} << 16;
  if (scratch.heats.capacity() > std::max(kKeep, 4 * lines)) std::vector<double>().swap(scratch.heats);
  if (scratch.records.size() > std::max(kKeep, 4 * lines)) std::vector<LineRecord>().swap(scratch.records);
  if (scratch.blocks.capacity() > std::max(kKeep, 4 * lines)) {
    std::vector<BlockStats>().swap(scratch.blocks);
  }
  if (scratch.scopes.capacity() > std::max(kKeep, 4 * lines)) {
    std::vector<AnalysisScratch::StackRun>().swap(scratch.scopes);
  }
  if (scratch.lifted.size() > std::max(kKeep, 4 * lines)) std::vector<size_t>().swap(scratch.lifted);
  scratch.heats.clear();
  scratch.heats.reserve(lines);
  scratch.blocks.clear();
  scratch.scopes.clear();
  scratch.scopes.reserve(128);
  // Base heat depends on the profile only through its reference value.
  if (scratch.cacheRef != profile.compiled.heatRef || scratch.heatCache.empty()) {
    scratch.heatCache.assign(size_t{1} << AnalysisScratch::kCacheBits, {});
    scratch.cacheRef = profile.compiled.heatRef;
  }
  const std::array<double, 14> weights = scoreWeightsOf(profile);
  if (scratch.scoreWeights != weights || scratch.scoreCache.empty()) {
    scratch.scoreCache.assign(size_t{1} << AnalysisScratch::kScoreBits, {});
    scratch.scoreWeights = weights;
  }
}

// Applies a line's braces to the scope stack: all pushes, then all pops,
// and the file-level block is never popped.
void applyBraces(std::vector<AnalysisScratch::StackRun>& scopes, uint64_t& entries, int64_t opens,
                 int64_t closes) {
  if (opens >= closes) {
    const auto fresh = static_cast<uint64_t>(opens - closes);
    if (fresh == 0) return;
    if (scopes.back().block == AnalysisScratch::kNoBlock) {
      scopes.back().count += fresh;
    } else {
      scopes.push_back({AnalysisScratch::kNoBlock, fresh});
    }
    entries += fresh;
    return;
  }
  uint64_t pops = std::min(static_cast<uint64_t>(closes - opens), entries - 1);
  entries -= pops;
  while (pops > 0) {
    AnalysisScratch::StackRun& top = scopes.back();
    const uint64_t take = std::min(pops, top.count);
    top.count -= take;
    pops -= take;
    if (top.count == 0) scopes.pop_back();
  }
}

// The innermost open block, numbered on first use.
uint32_t currentBlock(AnalysisScratch& scratch) {
  AnalysisScratch::StackRun& top = scratch.scopes.back();
  if (top.block != AnalysisScratch::kNoBlock) return top.block;
  const auto id = static_cast<uint32_t>(scratch.blocks.size());
  scratch.blocks.emplace_back();
  if (top.count == 1) {
    top.block = id;
  } else {
    --top.count;
    scratch.scopes.push_back({id, 1});
  }
  return id;
}

double blockFactor(BlockStats& b) {
  if (!b.factorReady) {
    const int32_t n = std::max(b.lineCount, 0);
    const int64_t s = std::max<int64_t>(b.typeKwSum, 0);
    const double a = b.lineCount > 0 ? b.keywordSum / b.lineCount : 0.0;
    b.factor = (1 + 0.12 * portableLog(1.0 + n)) *
               (1 + 0.18 * portableLog(1.0 + static_cast<double>(s))) *
               (1 + 0.1 * clamp01(a / 3.5));
    b.factorReady = true;
  }
  return b.factor;
}

// Final heat of a scored line with positive intensity.
double liftedHeat(double heatBase, const LineRecord& r, AnalysisScratch& scratch) {
  const double intensity = intensityOf(r.rawScore);
  const int32_t d = std::min(r.depth, kFactorDepth);
  const double block = blockFactor(scratch.blocks[r.block]) * (1 + 0.008 * d);
  const double trend = ((1 + 0.03 * clamp01(0.25 * r.keywordTrend)) *
                            (1 + 0.018 * clamp01(r.tokenTrend / 18)) -
                        1) *
                           intensity +
                       1;
  const double depth = (0.007 * (d * d) + 0.012 * d) * intensity + 1;
  double spread = 1;
  // Up to a spread of 2 the first clamp is 0 and the factor exactly 1.
  if (r.spread > 2) {
    spread = 1 + 1.15 * clamp01((r.spread - 2) / 3.5) *
                     clamp01(portablePow(std::max(portableLog(1 + r.spread), 0.0), 1.35) / 4.5);
  }
  const double heat = ((block - 1) * intensity + 1) * heatBase * trend * depth *
                      ((spread - 1) * intensity + 1);
  return std::clamp(heat, 0.0, kMaxHeat);
}

}  // namespace

void IndentBlocks::start() {
  open.assign(1, {-1, kNoBlock});
  brackets = 0;
  continued = false;
  headerPending = false;
  headerIndent = 0;
  statementIndent = 0;
}

void IndentBlocks::leave(const LineFacts& f) {
  brackets = std::max<int64_t>(brackets + f.openBrackets - f.closeBrackets, 0);
  if (f.lastCodeByte == 0) return;  // nothing but blanks and comments
  continued = f.lastCodeByte == '\\';
  headerPending = brackets == 0 && f.lastCodeByte == ':';
  headerIndent = statementIndent;
}

int32_t IndentBlocks::depth() const {
  return static_cast<int32_t>(std::min<size_t>(open.size() - 1, kMaxDepth));
}

bool readFileText(std::string_view utf8Path, std::string& out, int64_t sizeHint) {
  out.clear();
  // A NUL would cut the path short and name another file.
  if (utf8Path.empty() || utf8Path.find('\0') != std::string_view::npos) return false;
  // A file that grew past the window since the walk is not analysed.
  return readWholeFile(utf8ToNative(utf8Path), out, kFileWindowBytes, sizeHint);
}

void analyzeText(std::string_view text, const LanguageProfile& givenProfile,
                 std::vector<double>& lineHeatRaw, double& heatRaw, AnalysisScratch& scratch) {
  std::optional<LanguageProfile> preparedCopy;  // only for a hand-made profile
  if (!givenProfile.compiled.ready) {
    preparedCopy.emplace(givenProfile);
    prepareProfile(*preparedCopy);
  }
  const LanguageProfile& profile = preparedCopy ? *preparedCopy : givenProfile;

  heatRaw = 0.0;
  // Lines are not counted first, which took a pass over the text: the
  // buffers grow, and the result is copied out at its exact size.
  prepareScratch(scratch, profile, text.size() / 32 + 1);
  std::vector<double>& heats = scratch.heats;

  scratch.scopes.push_back({AnalysisScratch::kNoBlock, 1});
  uint64_t scopeEntries = 1;
  const bool indented = profile.indentBlocks;
  IndentBlocks& indents = scratch.indents;
  if (indented) indents.start();
  // What runs on from line to line.
  struct Running {
    int32_t depth = 0;
    double keywordTrend = 0.0;
    double tokenTrend = 0.0;
    double forward = 0.0;
    size_t liftable = 0;  // lines listed in scratch.lifted
  } running;

  // Per-line pass: base heat, trends, blocks and forward spread, a batch
  // of lines per call so that the running sums stay in registers.
  const auto visit = [&](const ScannedLine* lines, size_t count) {
    // Room for every line of the batch to be listed, and one more: each
    // line writes the entry after the listed ones and keeps it if it qualifies.
    const size_t room = running.liftable + count + 1;
    if (scratch.lifted.size() < room) scratch.lifted.resize(std::max(room, 2 * scratch.lifted.size()));
    if (scratch.records.size() < room) scratch.records.resize(std::max(room, 2 * scratch.records.size()));
    // The batch's heats are written by index: a push per line costs a
    // capacity test and a size update each.
    const size_t firstLine = heats.size();
    heats.resize(firstLine + count);
    double* const heatOut = heats.data() + firstLine;
    size_t* const listedOut = scratch.lifted.data();
    LineRecord* const recordOut = scratch.records.data();
    Running now = running;
    for (size_t n = 0; n < count; ++n) {
      const ScannedLine& l = lines[n];
      const std::string_view line = l.text;
      const LineFacts& f = l.facts;
      const size_t firstNonBlank = l.firstNonBlank;
      const bool scored = isScored(f, line, firstNonBlank);
      // Written in place, in the entry after the listed ones; the fields
      // other than rawScore are all set below where a listed line needs them.
      LineRecord& r = recordOut[now.liftable];
      r.rawScore = 0.0;
      if (indented) {
        indents.enter(line, firstNonBlank, f);
        now.depth = indents.depth();
      }
      r.depth = now.depth;
      double k = 0.0;
      double heatBase = 0.0;
      if (scored) {
        const bool declaration =
            profile.compiled.declarationTest && declarationFlag(f, line, profile, l.codeUntil);
        const uint64_t key = scoreKey(f, declaration);
        AnalysisScratch::ScoreSlot* slot = nullptr;
        if (key != 0) {
          slot = &scratch.scoreCache[static_cast<size_t>((key * 0x9e3779b97f4a7c15ull) >>
                                                         (64 - AnalysisScratch::kScoreBits))];
        }
        if (slot != nullptr && slot->key == key) {
          k = slot->keyword;
          heatBase = slot->heatBase;
          r.rawScore = slot->rawScore;
        } else {
          k = keywordWeight(f);
          heatBase = std::min(cachedBaseHeat(lineComplexity(f, profile, declaration), profile, scratch),
                              kMaxHeat);
          r.rawScore = rawScoreOf(f, k);
          if (slot != nullptr) *slot = {key, k, heatBase, r.rawScore};
        }
        r.block = indented ? indents.scoredBlock(scratch.blocks) : currentBlock(scratch);
        BlockStats& b = scratch.blocks[r.block];
        b.lineCount += 1;
        b.typeKwSum += f.typeKw;
        b.keywordSum += k;
      } else if ((f.loopKw | f.branchKw | f.ternaries | f.boolOps | f.exceptionKw) != 0) {
        k = keywordWeight(f);
      }
      now.keywordTrend = 0.92 * now.keywordTrend + 0.08 * k;
      now.tokenTrend = 0.94 * now.tokenTrend + 0.06 * std::min(f.tokenCount, 40);
      r.keywordTrend = now.keywordTrend;
      r.tokenTrend = now.tokenTrend;
      now.forward = hotShare(r.rawScore) + 0.6 * now.forward;
      r.spread = now.forward;
      if (indented) {
        indents.leave(f);
      } else {
        applyBraces(scratch.scopes, scopeEntries, f.openBraces, f.closeBraces);
        const int64_t next = static_cast<int64_t>(now.depth) + f.openBraces - f.closeBraces;
        now.depth = static_cast<int32_t>(std::clamp<int64_t>(next, 0, kMaxDepth));
      }
      // Listed without a branch: which lines qualify follows no pattern.
      listedOut[now.liftable] = firstLine + n;
      now.liftable += r.rawScore > kLiftScore;
      heatOut[n] = heatBase;
    }
    running = now;
  };
  if (canScanWhole(profile) && text.size() <= static_cast<size_t>(INT32_MAX)) {
    TextScanner scanner(text, profile);
    scratch.lines.resize(256);
    while (const size_t got = scanner.next(scratch.lines.data(), scratch.lines.size())) {
      visit(scratch.lines.data(), got);
    }
  } else {
    LexState lex;
    forEachLine(text, [&](std::string_view line) {
      // codeUntil 0: the declaration test, where it runs, reads the whole
      // line. Clamped: no file window holds 4 GiB of leading blanks.
      const auto blanks = static_cast<uint32_t>(
          std::min({line.find_first_not_of(" \t\r"), line.size(), size_t{UINT32_MAX}}));
      const ScannedLine scanned{line, scanLine(line, lex, profile), blanks, 0};
      visit(&scanned, 1);
    });
  }

  // Backward spread, and the lift of lines with real keyword load; all
  // other lines keep their base heat, as every blended factor is 1 there.
  // The same sums as in the forward pass, visiting only the listed lines:
  // a line in between adds +0.0, which leaves 0.6 * backward as it is.
  // A sum below kSpreadNegligible need not shrink further: added to a hot
  // line's share (at least 0.55 * kHotScore) it is under half its last bit
  // either way, and a spread only counts above 2. So long runs of cold lines
  // end early, and the sum does not go subnormal, where each product is slow.
  scratch.listed = running.liftable;
  constexpr double kSpreadNegligible = 1e-20;
  double backward = 0.0;
  size_t after = heats.size();  // the listed line visited last
  for (size_t k = running.liftable; k-- > 0;) {
    const size_t i = scratch.lifted[k];
    for (size_t n = after - i - 1; n > 0 && backward >= kSpreadNegligible; --n) backward = 0.6 * backward;
    LineRecord& r = scratch.records[k];
    backward = hotShare(r.rawScore) + 0.6 * backward;
    r.spread = std::max(r.spread, backward);
    if (heats[i] > 0) heats[i] = liftedHeat(heats[i], r, scratch);
    after = i;
  }

  if (lineHeatRaw.capacity() != heats.size()) std::vector<double>().swap(lineHeatRaw);
  lineHeatRaw.assign(heats.begin(), heats.end());  // allocates the exact size: no slack kept
  double sum = 0.0;
  for (double h : lineHeatRaw) sum += h;
  heatRaw = sum;
}

void analyzeText(std::string_view text, LanguageId language, std::vector<double>& lineHeatRaw,
                 double& heatRaw, AnalysisScratch& scratch) {
  analyzeText(text, profileForLanguage(language), lineHeatRaw, heatRaw, scratch);
}

void analyzeText(std::string_view text, LanguageId language, std::vector<double>& lineHeatRaw,
                 double& heatRaw) {
  AnalysisScratch scratch;
  analyzeText(text, language, lineHeatRaw, heatRaw, scratch);
}

void analyzeFile(ProjectFile& file, AnalysisScratch& scratch) {
  const LanguageProfile& profile = profileForLanguage(file.language);
  file.lineHeatRaw = LineHeats();
  file.heatRaw = 0.0;
  if (!readFileText(file.path, scratch.text)) return;
  std::vector<double> heats;
  analyzeText(scratch.text, profile, heats, file.heatRaw, scratch);
  file.lineHeatRaw = LineHeats(heats);
}

void analyzeFile(ProjectFile& file) {
  AnalysisScratch scratch;
  analyzeFile(file, scratch);
}

bool lineIsScored(const LineFacts& facts, std::string_view line) {
  return isScored(facts, line, static_cast<size_t>(facts.blankPrefix));
}

bool lineLooksLikeDeclaration(const LineFacts& facts, std::string_view line,
                              const LanguageProfile& profile) {
  return profile.compiled.declarationTest && declarationFlag(facts, line, profile);
}

double lineRawScore(const LineFacts& facts) { return rawScoreOf(facts, keywordWeight(facts)); }

}  // namespace varnholt_app
