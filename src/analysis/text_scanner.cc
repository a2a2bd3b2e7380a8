#include "analysis/text_scanner.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

#include "analysis/byte_masks.h"
#include "analysis/literal_skip.h"

namespace varnholt_app {

ScanBytes::ScanBytes(const LanguageProfile& p) {
  event[0] = '\n';
  event[1] = '"';
  event[2] = '\'';
  event[3] = p.backtickStrings ? '`' : '"';
  event[4] = p.lineComment.empty() ? '"' : p.lineComment[0];
  event[5] = p.hasBlockComments && !p.blockOpen.empty() ? p.blockOpen[0] : '"';
  ternary = p.countTernary ? '?' : '\n';
  boolOps = p.countBooleanOps && !p.compiled.wordOperatorMode;
  backticks = p.backtickStrings;
  indentBlocks = p.indentBlocks;
  questionRule = p.countTernary ? p.questionRule : QuestionRule::kEvery;
  maxKeyword = p.compiled.maxKeywordLength;
  static_assert(CompiledProfile::kMaxKeyLength <= 16, "four doubling steps reach 16 bytes");
  uint32_t window = 1;
  for (uint8_t& shift : reachShifts) {
    shift = static_cast<uint8_t>(std::min(window, std::max(maxKeyword, window) - window));
    window += shift;
  }
  reachKeep = maxKeyword == 0 ? 0 : ~uint64_t{0};
  // Made with the profile: a per-file pass over 256 bytes shows on small files.
  oneByteKeywords = p.compiled.oneByteWord;
  for (int first = 0; first < 32; ++first) {
    const uint16_t seconds = p.compiled.secondNibbles[static_cast<size_t>(first)];
    secondBelow8[first >> 4][first & 15] = static_cast<uint8_t>(seconds);
    secondFrom8[first >> 4][first & 15] = static_cast<uint8_t>(seconds >> 8);
  }
}

namespace {

using byte_masks::RawMasks;

// What the byte rules make of a block, given how the block before it ended.
struct BlockMasks {
  uint64_t events;      // line breaks, quotes and comment-marker starts
  uint64_t blank;       // tab, CR, space
  uint64_t word;        // A-Z a-z 0-9 _
  uint64_t wordBefore;  // the byte before is a word byte
  uint64_t inToken;     // word bytes from the first letter of their run on
  uint64_t tokenStart;  // first byte of every token
  uint64_t candidates;  // token starts that may begin a keyword
  uint64_t code;        // bytes that make the line code
  uint64_t openBrace, closeBrace, dot, ternary, paren;
  uint64_t closeParen, openSquare, closeSquare;
  uint64_t ampPairs, pipePairs;  // first byte of every "&&" / "||" taken
  uint32_t nextRun;              // word bytes the block after begins with
};

// First bytes of the pairs a left-to-right scan takes from `a`, with runs
// of three or more (rare) taken one by one.
[[gnu::noinline]] uint64_t pairStartsSlow(uint64_t a, bool nextSame) {
  uint64_t starts = 0;
  for (int i = 0; i < 64; ++i) {
    if (((a >> i) & 1) == 0) continue;
    const bool follows = i == 63 ? nextSame : ((a >> (i + 1)) & 1) != 0;
    if (follows) {
      starts |= uint64_t{1} << i;
      ++i;
    }
  }
  return starts;
}

// First bytes of the pairs a left-to-right scan takes from the runs of "&"
// and "|" bytes; `ampNext` and `pipeNext` say whether the byte after the
// block continues a run. Bytes followed by one of their kind are the pairs
// unless a run is three or more long (rare), which one test finds for both.
inline void pairStarts(uint64_t amp, bool ampNext, uint64_t pipe, bool pipeNext, uint64_t& ampPairs,
                       uint64_t& pipePairs) {
  const uint64_t ampTwo = amp & ((amp >> 1) | uint64_t{ampNext} << 63);
  const uint64_t pipeTwo = pipe & ((pipe >> 1) | uint64_t{pipeNext} << 63);
  if (((ampTwo & (ampTwo >> 1)) | (pipeTwo & (pipeTwo >> 1))) != 0) [[unlikely]] {
    ampPairs = pairStartsSlow(amp, ampNext);
    pipePairs = pairStartsSlow(pipe, pipeNext);
    return;
  }
  ampPairs = ampTwo;
  pipePairs = pipeTwo;
}

// Raw masks of the 64 bytes at `at`; bytes past the end of the text read
// as line breaks. The classifier may look at the byte after the 64.
template <int kWide>
[[gnu::always_inline]] inline void classifyAt(std::string_view text, size_t at, const ScanBytes& sb, RawMasks& r) {
  char pad[65];
  const char* bytes = text.data() + at;
  if (at >= text.size() || text.size() - at < sizeof pad) {
    std::memset(pad, '\n', sizeof pad);
    if (at < text.size()) std::memcpy(pad, text.data() + at, text.size() - at);
    bytes = pad;
  }
#ifdef VARNHOLT_WIDE_SCAN
  if constexpr (kWide == 2) {
    byte_masks::classify512(bytes, sb, r);
  } else if constexpr (kWide == 1) {
    byte_masks::classifyWide(bytes, sb, r);
  } else {
    byte_masks::classify(bytes, sb, r);
  }
#else
  byte_masks::classify(bytes, sb, r);
#endif
}

// Bits p of `e` spread to every p - k, k < maxKeyword: positions with a
// set bit of `e` among the maxKeyword bytes from them on. Fixed steps: a
// loop over the length would cost guessed branches per block.
inline uint64_t reachingBack(uint64_t e, const ScanBytes& sb) {
  e |= e >> sb.reachShifts[0];
  e |= e >> sb.reachShifts[1];
  e |= e >> sb.reachShifts[2];
  e |= e >> sb.reachShifts[3];
  return e & sb.reachKeep;
}

// What the last byte of a block hands to the next one, as bit 0 of each.
struct BlockCarry {
  uint64_t word = 0, inToken = 0, ampPair = 0, pipePair = 0;
};

// Masks of a block from its raw masks and those of the block after it.
// `before` is from the block before it when the scan runs on into this one,
// else zero (the byte before the resume point is then a line break, a quote
// or a marker end, which carries nothing).
[[gnu::always_inline]] inline void deriveMasks(const RawMasks& r, const RawMasks& after, const ScanBytes& sb,
                        const BlockCarry& before, BlockMasks& m) {
  const uint64_t carryWord = before.word;
  const uint64_t carryToken = before.inToken;
  // Digits before the first letter of a word run make no token ("2x" is x).
  const uint64_t runStart = r.word & ~((r.word << 1) | carryWord);
  const uint64_t seed = (runStart | (carryWord & ~carryToken)) & r.digit;
  const uint64_t leading = ((r.digit + seed) ^ r.digit) & r.digit;
  m.events = r.events;
  m.blank = r.blank;
  m.word = r.word;
  m.wordBefore = (r.word << 1) | carryWord;
  m.inToken = r.word & ~leading;
  m.tokenStart = m.inToken & ~((m.inToken << 1) | carryToken);
  // Tokens short enough to be a keyword (one running into the next block
  // counts as ending here: the probe checks the real length).
  const uint64_t ends = m.inToken & ~(m.inToken >> 1);
  // One-byte tokens ("i", "x") are common and no keyword in most families; a
  // token in the last byte may run on into the next block.
  const uint64_t oneByte = sb.oneByteKeywords ? 0 : m.tokenStart & ends & ~((after.word & 1) << 63);
  m.candidates = m.tokenStart & r.keywordFirst & reachingBack(ends, sb) & ~oneByte;
  m.code = ~(r.blank | r.events);
  m.openBrace = r.openBrace;
  m.closeBrace = r.closeBrace;
  m.dot = r.dot;
  m.ternary = r.ternary;
  m.paren = r.paren;
  m.closeParen = r.closeParen;
  m.openSquare = r.openSquare;
  m.closeSquare = r.closeSquare;
  // A word running through the whole next block is longer than any keyword
  // already: 64 tells the probe all it needs.
  m.nextRun = static_cast<uint32_t>(std::countr_zero(~after.word));
  // Both masks are empty where "&&" and "||" do not count.
  pairStarts(r.amp & ~before.ampPair, (after.amp & 1) != 0, r.pipe & ~before.pipePair, (after.pipe & 1) != 0,
             m.ampPairs, m.pipePairs);
}

int32_t bitCount(uint64_t v) { return static_cast<int32_t>(std::popcount(v)); }

// One batch of lines; kWide: 0 classifies bytes one at a time, 1 with AVX2
// and hardware bit ops, 2 with AVX-512;
// kIndent and kEvery: the profile's indentBlocks and whether every "?"
// counts, fixed per file, so the loop tests neither.
template <int kWide, bool kIndent, bool kEvery>
[[gnu::always_inline]] inline size_t scanBatch(TextScanState& st, ScannedLine* out, size_t room) {
  const char* const data = st.text.data();
  const size_t size = st.text.size();
  const LanguageProfile& profile = *st.profile;
  const CompiledProfile& table = profile.compiled;
  const ScanBytes& sb = st.bytes;
  LexState& lex = st.lex;

  BlockMasks m{};
  size_t block = 0;
  // The current block's raw masks and the next block's, classified in
  // advance; the two swap places as the scan runs on.
  RawMasks raw[2];
  unsigned current = 0;
  size_t nextAt = SIZE_MAX;
  const auto load = [&](size_t at, bool runsOn) __attribute__((always_inline)) {
    if (nextAt == at) {
      current ^= 1;
    } else {
      classifyAt<kWide>(st.text, at, sb, raw[current]);
    }
    RawMasks& next = raw[current ^ 1];
    classifyAt<kWide>(st.text, at + 64, sb, next);
    nextAt = at + 64;
    BlockCarry carry;
    if (runsOn) carry = {m.word >> 63, m.inToken >> 63, m.ampPairs >> 63, m.pipePairs >> 63};
    deriveMasks(raw[current], next, sb, carry, m);
    block = at;
  };
  const auto moveTo = [&](size_t at) __attribute__((always_inline)) {
    const size_t want = at & ~size_t{63};
    if (want != block) load(want, want == block + 64);
  };

  ScannedLine* line = out;  // the line being scanned, filled in place
  ScannedLine* const outEnd = out + room;
  size_t lineStart = st.lineStart;
  size_t lineBreak = SIZE_MAX;  // found when a literal or comment needs it
  size_t firstNonBlank = 0;
  size_t codeUntil = 0;        // where the first comment or literal of the line begins
  LineFacts* f = nullptr;  // its facts
  bool code = false;
  const auto startLine = [&](size_t at) __attribute__((always_inline)) {
    lineStart = at;
    lineBreak = SIZE_MAX;
    f = &line->facts;
    *f = LineFacts{};
    code = false;
    // In a comment or literal from the line before.
    const bool startedInside = lex.inBlockComment | lex.inString;
    f->leftCode = startedInside;
    f->startsInside = insideKind(lex);
    codeUntil = startedInside ? at : SIZE_MAX;
    lex.escapePending = false;
    const uint64_t nonBlank = ~m.blank & (~uint64_t{0} << (at - block));
    if (nonBlank != 0) [[likely]] {
      firstNonBlank = block + static_cast<size_t>(std::countr_zero(nonBlank));
    } else {
      size_t q = block + 64;
      while (q < size && (data[q] == ' ' || data[q] == '\t' || data[q] == '\r')) ++q;
      firstNonBlank = q;
    }
  };
  const auto findBreak = [&](size_t from) __attribute__((always_inline)) {
    if (lineBreak == SIZE_MAX) {
      const auto* nl = static_cast<const char*>(std::memchr(data + from, '\n', size - from));
      lineBreak = nl != nullptr ? static_cast<size_t>(nl - data) : size;
    }
    return lineBreak;
  };
  const auto count = [&](uint32_t from, uint32_t to) __attribute__((always_inline)) {
    const uint64_t range = (to == 64 ? ~uint64_t{0} : (uint64_t{1} << to) - 1) & (~uint64_t{0} << from);
    code |= (m.code & range) != 0;
    f->codeParen |= (m.paren & range) != 0;
    f->openBraces += bitCount(m.openBrace & range);
    f->closeBraces += bitCount(m.closeBrace & range);
    f->dots += bitCount(m.dot & range);
    if (kEvery) {
      f->ternaries += bitCount(m.ternary & range);
    } else {
      // "?" is rare: each one is looked at in its line.
      for (uint64_t q = m.ternary & range; q != 0; q &= q - 1) {
        const size_t at = block + static_cast<size_t>(std::countr_zero(q));
        const size_t nl = findBreak(at);
        const size_t lineEnd = nl > lineStart && data[nl - 1] == '\r' ? nl - 1 : nl;
        f->ternaries += questionIsTernary(std::string_view(data + lineStart, lineEnd - lineStart), at - lineStart,
                                          sb.questionRule);
      }
    }
    if constexpr (kIndent) {
      f->openBrackets += bitCount((m.paren | m.openSquare | m.openBrace) & range);
      f->closeBrackets += bitCount((m.closeParen | m.closeSquare | m.closeBrace) & range);
      const uint64_t shown = m.code & range;
      if (shown != 0) f->lastCodeByte = data[block + 63 - static_cast<size_t>(std::countl_zero(shown))];
    }
    f->boolOps += bitCount((m.ampPairs | m.pipePairs) & range);
    const uint64_t starts = m.tokenStart & range;
    f->tokenCount += bitCount(starts);
    for (uint64_t t = m.candidates & range; t != 0; t &= t - 1) {
      const auto s = static_cast<uint32_t>(std::countr_zero(t));
      const uint64_t rest = ~(m.inToken >> s);
      size_t length = rest != 0 ? static_cast<size_t>(std::countr_zero(rest)) : 64 - s;
      const size_t begin = block + s;
      length += s + length == 64 ? m.nextRun : 0;
      if (!mayBeKeyword(table, data[begin], length)) continue;
      const uint8_t bits = probeKeyword(table, data + begin, length, data + size);
      if (bits == 0) continue;
      // Digits before the token belong to its word in wordTokens ("2if").
      const bool afterDigit = ((m.wordBefore >> s) & 1) != 0;
      f->codeKeywordBits = static_cast<uint8_t>(f->codeKeywordBits | (bits & (afterDigit ? 0 : 0xff)));
      f->loopKw += bits & kKwLoop;
      f->branchKw += (bits >> 1) & 1;
      f->exceptionKw += (bits >> 2) & 1;
      f->functionKw += (bits >> 3) & 1;
      f->typeKw += (bits >> 4) & 1;
      f->boolOps += (bits >> 5) & 1;
    }
  };

  // The next event at or after `from`, running on through the blocks.
  const auto nextEvent = [&](size_t from) __attribute__((always_inline)) {
    for (;;) {
      if (from - block == 64) [[unlikely]] load(block + 64, true);
      const uint64_t ahead = m.events & (~uint64_t{0} << (from - block));
      if (ahead != 0) return block + static_cast<size_t>(std::countr_zero(ahead));
      load(block + 64, true);
      from = block;
    }
  };
  const std::string& close = profile.blockClose;
  const bool closeByEvents = profile.hasBlockComments && close.size() == 2 &&
                             std::find(std::begin(sb.event), std::end(sb.event), close[1]) != std::end(sb.event);
  const char closeFirst = closeByEvents ? close[0] : '\0';
  const char closeLast = closeByEvents ? close[1] : '\0';
  // First bytes of the markers, or a line break (handled before): most
  // events are quotes, which need no compare of the whole marker.
  const std::string& lineMarker = profile.lineComment;
  const std::string& blockMarker = profile.blockOpen;
  const char lineFirst = lineMarker.empty() ? '\n' : lineMarker[0];
  const char blockFirst = profile.hasBlockComments && !blockMarker.empty() ? blockMarker[0] : '\n';

  load(lineStart & ~size_t{63}, false);
  startLine(lineStart);
  size_t p = lineStart;
  for (;;) {
    size_t endsAt = SIZE_MAX;  // the line break (or text end) once the line is done
    if (lex.inBlockComment || lex.inString) {
      if (lex.inBlockComment ? closeByEvents : (lex.stringKind == 1 || lex.stringKind == 2)) {
        // The closing byte is an event: no need to look at the bytes between.
        const size_t from = p;
        const char quote = lex.stringKind == 2 ? '"' : '\'';
        for (;;) {
          const size_t at = nextEvent(p);
          const char c = at < size ? data[at] : '\n';
          if (c == '\n') {
            endsAt = at;
            break;
          }
          p = at + 1;
          if (lex.inBlockComment) {
            if (c == closeLast && at > from && data[at - 1] == closeFirst) {
              lex.inBlockComment = false;
              break;
            }
          } else if (c == quote) {
            // Escaped when an odd run of backslashes of this line leads to it.
            size_t q = at;
            while (q > from && data[q - 1] == '\\') --q;
            if (((at - q) & 1) == 0) {
              lex.inString = false;
              lex.stringKind = 0;
              break;
            }
          }
        }
        if (endsAt == SIZE_MAX) {
          moveTo(p);
          continue;
        }
      } else [[unlikely]] {
        const size_t nl = findBreak(p);
        const size_t lineEnd = nl > lineStart && data[nl - 1] == '\r' ? nl - 1 : nl;
        const char* q = data + p;
        const char* const e = data + lineEnd;
        while (q < e && (lex.inBlockComment || lex.inString)) {
          q = lex.inBlockComment ? skipBlockComment(q, e, profile, lex) : skipString(q, e, lex);
        }
        if (lex.inBlockComment || lex.inString) {
          endsAt = nl;
        } else {
          p = static_cast<size_t>(q - data);
          moveTo(p);
          continue;
        }
      }
    } else {
      const auto off = static_cast<uint32_t>(p - block);
      const uint64_t ahead = m.events & (~uint64_t{0} << off);
      if (ahead == 0) {
        count(off, 64);
        load(block + 64, true);
        p = block;
        continue;
      }
      const auto e = static_cast<uint32_t>(std::countr_zero(ahead));
      count(off, e);
      const size_t at = block + e;
      const char c = at < size ? data[at] : '\n';
      if (c == '\n') {
        endsAt = at;
      } else if (c == lineFirst && matchesAt(data + at, data + size, lineMarker)) {
        codeUntil = std::min(codeUntil, at);
        f->leftCode = true;
        size_t q = at + 1;
        for (;;) {
          q = nextEvent(q);
          if (q >= size || data[q] == '\n') break;
          ++q;
        }
        endsAt = q;
      } else if (c == blockFirst && matchesAt(data + at, data + size, blockMarker)) {
        codeUntil = std::min(codeUntil, at);
        f->leftCode = true;
        lex.inBlockComment = true;
        p = at + profile.blockOpen.size();
      } else if (c == '"' || c == '\'' || (c == '`' && sb.backticks)) {
        const bool triple = c != '`' && profile.tripleQuoteStrings && size - at >= 3 &&
                            data[at + 1] == c && data[at + 2] == c;
        openString(lex, triple ? (c == '"' ? 5 : 4) : (c == '"' ? 2 : c == '\'' ? 1 : 3));
        codeUntil = std::min(codeUntil, at);
        f->leftCode = true;
        if constexpr (kIndent) f->lastCodeByte = c;
        p = at + (triple ? 3 : 1);
      } else {
        // A marker's first byte that opens nothing is a plain byte.
        code = true;
        if constexpr (kIndent) f->lastCodeByte = c;
        p = at + 1;
      }
      if (endsAt == SIZE_MAX) {
        moveTo(p);
        continue;
      }
    }

    // The line ends at endsAt.
    // A "\r" before the break is dropped; the byte before an empty line is
    // the break before it, and one at 0 has no byte before it.
    const size_t back = endsAt != 0;
    const size_t lineEnd = endsAt - (back & (data[endsAt - back] == '\r'));
    line->text = std::string_view(data + lineStart, lineEnd - lineStart);
    f->isBlank = !(code | lex.inBlockComment | lex.inString);
    f->hasCode = code;
    f->endsInside = insideKind(lex);
    f->lineLength = static_cast<int32_t>(lineEnd - lineStart);
    const size_t blanks = std::min(firstNonBlank, lineEnd) - lineStart;
    f->blankPrefix = f->startsInside != 0 ? 0 : static_cast<int32_t>(blanks);
    line->firstNonBlank = static_cast<uint32_t>(blanks);
    line->codeUntil = static_cast<uint32_t>(std::min(codeUntil, lineEnd) - lineStart);
    if (endsAt >= size) [[unlikely]] {
      st.done = true;
      return static_cast<size_t>(line + 1 - out);
    }
    if (++line == outEnd) [[unlikely]] {
      st.lineStart = endsAt + 1;
      return room;
    }
    moveTo(endsAt + 1);
    startLine(endsAt + 1);
    p = lineStart;
  }
}

#ifdef VARNHOLT_WIDE_SCAN
// The bit instructions of every AVX2 CPU too: mask shifts, "lowest bit off"
// and length cuts each become one instruction.
template <bool kIndent, bool kEvery>
[[gnu::target("avx2,popcnt,bmi,bmi2")]] size_t scanBatchWide(TextScanState& st, ScannedLine* out, size_t room) {
  return scanBatch<1, kIndent, kEvery>(st, out, room);
}
template <bool kIndent, bool kEvery>
[[gnu::target(VARNHOLT_AVX512_TARGET)]] size_t scanBatch512(TextScanState& st, ScannedLine* out, size_t room) {
  return scanBatch<2, kIndent, kEvery>(st, out, room);
}
#endif

template <bool kIndent, bool kEvery>
size_t scanBatchPlain(TextScanState& st, ScannedLine* out, size_t room) {
  return scanBatch<0, kIndent, kEvery>(st, out, room);
}

template <bool kIndent, bool kEvery>
ScanBatch batchFor(ScanWidth width) {
#ifdef VARNHOLT_WIDE_SCAN
  if (width == ScanWidth::kAvx512) return scanBatch512<kIndent, kEvery>;
  if (width == ScanWidth::kAvx2) return scanBatchWide<kIndent, kEvery>;
#else
  (void)width;
#endif
  return scanBatchPlain<kIndent, kEvery>;
}

}  // namespace

bool canScanWhole(const LanguageProfile& p) {
  const CompiledProfile& c = p.compiled;
  if (!c.ready || c.slowLookup || !c.wordSafeMarkers) return false;
  for (const std::string* marker : {&p.lineComment, &p.blockOpen, &p.blockClose}) {
    if (marker->find_first_of("\r\n") != std::string::npos) return false;
  }
  // A marker's first byte must mean nothing else when no marker starts there.
  const auto plain = [&](const std::string& marker) {
    return marker.empty() || c.markerFallback[static_cast<unsigned char>(marker[0])] == kByteOther;
  };
  return plain(p.lineComment) && (!p.hasBlockComments || plain(p.blockOpen));
}

ScanWidth widestScanWidth() {
#ifdef VARNHOLT_WIDE_SCAN
  // Asked once: the answer cannot change while the program runs.
  static const ScanWidth widest = [] {
    if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("popcnt") || !__builtin_cpu_supports("bmi") ||
        !__builtin_cpu_supports("bmi2")) {
      return ScanWidth::kPlain;
    }
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") ? ScanWidth::kAvx512
                                                                                  : ScanWidth::kAvx2;
  }();
  return widest;
#else
  return ScanWidth::kPlain;
#endif
}

TextScanner::TextScanner(std::string_view text, const LanguageProfile& profile, ScanWidth widest) {
  state_.text = text;
  state_.profile = &profile;
  state_.done = text.empty();
  state_.bytes = ScanBytes(profile);
  const ScanWidth width = std::min(widest, widestScanWidth());
  const bool every = state_.bytes.questionRule == QuestionRule::kEvery;
  if (state_.bytes.indentBlocks) {
    state_.batch = every ? batchFor<true, true>(width) : batchFor<true, false>(width);
  } else {
    state_.batch = every ? batchFor<false, true>(width) : batchFor<false, false>(width);
  }
}

size_t TextScanner::next(ScannedLine* out, size_t room) {
  if (state_.done || room == 0) return 0;
  return state_.batch(state_, out, room);
}

}  // namespace varnholt_app
