#include "analysis/lexer.h"

#include <algorithm>
#include <climits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace varnholt_app {

namespace {

bool matchesAt(const char* p, const char* end, const std::string& marker) {
  return !marker.empty() && static_cast<size_t>(end - p) >= marker.size() &&
         std::memcmp(p, marker.data(), marker.size()) == 0;
}

// Counts of a line, in 64 bits only for a line too long for 32.
template <class Count>
struct Counts {
  Count tokens = 0;
  Count slots[kSlotCount] = {};  // braces, dots, ternaries, "(" by CountSlot
  Count boolOps = 0;
  Count loopKw = 0;
  Count branchKw = 0;
  Count exceptionKw = 0;
  Count functionKw = 0;
  Count typeKw = 0;
  uint8_t codeBits = 0;
};

int32_t saturate(int64_t v) { return static_cast<int32_t>(std::min<int64_t>(v, INT32_MAX)); }

template <class Count>
[[gnu::always_inline]] inline void countToken(const LanguageProfile& profile, const char* lineStart,
                                              const char* begin, const char* end,
                                              const char* lineEnd, Counts<Count>& n) {
  ++n.tokens;
  const uint8_t bits = keywordMask(profile, begin, static_cast<size_t>(end - begin), lineEnd);
  if (bits == 0) return;
  // Digits before the token belong to its word in wordTokens ("2if").
  if (begin == lineStart || begin[-1] < '0' || begin[-1] > '9') {
    n.codeBits = static_cast<uint8_t>(n.codeBits | bits);
  }
  n.loopKw += bits & kKwLoop;
  n.branchKw += (bits >> 1) & 1;
  n.exceptionKw += (bits >> 2) & 1;
  n.functionKw += (bits >> 3) & 1;
  n.typeKw += (bits >> 4) & 1;
  n.boolOps += (bits >> 5) & 1;
}

// Skips inside a block comment; returns where scanning goes on.
const char* skipBlockComment(const char* p, const char* end, const LanguageProfile& profile,
                             LexState& state) {
  const std::string& close = profile.blockClose;
  if (!profile.hasBlockComments || close.empty()) return end;
  if (close.size() == 2) {
    // Look for the rarer second byte: comment text is full of "*".
    const char* from = p + 1;
    while (from < end) {
      const auto* q = static_cast<const char*>(std::memchr(from, close[1], static_cast<size_t>(end - from)));
      if (q == nullptr) return end;
      if (q[-1] == close[0]) {
        state.inBlockComment = false;
        return q + 1;
      }
      from = q + 1;
    }
    return end;
  }
  const std::string_view rest(p, static_cast<size_t>(end - p));
  const size_t at = rest.find(close);
  if (at == std::string_view::npos) return end;
  state.inBlockComment = false;
  return p + at + close.size();
}

// Skips inside a string literal; returns where scanning goes on.
const char* skipString(const char* p, const char* end, LexState& state) {
  switch (state.stringKind) {
    case 1:
    case 2: {
      const char quote = state.stringKind == 2 ? '"' : '\'';
      while (p < end) {
        const char c = *p++;
        if (state.escapePending) {
          state.escapePending = false;
        } else if (c == quote) {
          state.inString = false;
          state.stringKind = 0;
          return p;
        } else if (c == '\\') {
          state.escapePending = true;
        }
      }
      return end;
    }
    case 3: {
      const auto* q = static_cast<const char*>(std::memchr(p, '`', static_cast<size_t>(end - p)));
      if (q == nullptr) return end;
      state.inString = false;
      state.stringKind = 0;
      return q + 1;
    }
    case 4:
    case 5: {
      const char quote = state.stringKind == 5 ? '"' : '\'';
      while (end - p >= 3) {
        const auto* q = static_cast<const char*>(std::memchr(p, quote, static_cast<size_t>(end - p)));
        if (q == nullptr || end - q < 3) return end;
        if (q[1] == quote && q[2] == quote) {
          state.inString = false;
          state.stringKind = 0;
          return q + 3;
        }
        p = q + 1;
      }
      return end;
    }
    default:
      // A kind no rule closes: the literal swallows the rest of the line.
      return end;
  }
}

void openString(LexState& state, int32_t kind) {
  state.inString = true;
  state.stringKind = kind;
  state.escapePending = false;
}

template <class Count>
LineFacts scanPrepared(std::string_view line, LexState& state, const LanguageProfile& profile) {
  const CompiledProfile& table = profile.compiled;
  const char* p = line.data();
  const char* const end = p + line.size();
  state.escapePending = false;
  Counts<Count> n;
  uint8_t code = 0;
  bool leftCode = state.inBlockComment || state.inString;
  const char* token = nullptr;  // start of the identifier being read
  if (!leftCode) {
    while (p < end && table.byteClass[static_cast<unsigned char>(*p)] == kByteSpace) ++p;
  }
  const auto blankPrefix = static_cast<size_t>(p - line.data());

  while (p < end) {
    if (state.inBlockComment) {
      p = skipBlockComment(p, end, profile, state);
      continue;
    }
    if (state.inString) {
      p = skipString(p, end, state);
      continue;
    }
    // Code: runs until the line ends or a comment or literal opens. A token
    // is counted as soon as it ends, unless a comment marker follows it,
    // which may turn out to continue it; so no token is open at a byte
    // of the first two kinds below.
    bool opened = false;
    while (p < end) {
      const auto c = static_cast<unsigned char>(*p);
      uint8_t cls = table.byteClass[c];
      if (cls <= kByteDigit) {
        // Blanks, braces, brackets, dots, "?", digits and other bytes.
        ++n.slots[table.countSlot[c]];
        code = static_cast<uint8_t>(code | table.setsCode[c]);
        ++p;
        continue;
      }
      if (cls == kByteLetter) {
        const char* const begin = p;
        ++p;
        while (p < end && table.continuesToken[static_cast<unsigned char>(*p)]) ++p;
        code = 1;
        if (p < end && table.byteClass[static_cast<unsigned char>(*p)] == kByteMarker) {
          token = begin;
        } else {
          countToken(profile, line.data(), begin, p, end, n);
        }
        continue;
      }
      if (cls == kByteMarker) {
        if (matchesAt(p, end, profile.lineComment)) {
          if (token != nullptr) countToken(profile, line.data(), token, p, end, n);
          token = nullptr;
          leftCode = true;
          p = end;
          break;
        }
        if (profile.hasBlockComments && matchesAt(p, end, profile.blockOpen)) {
          if (token != nullptr) countToken(profile, line.data(), token, p, end, n);
          token = nullptr;
          state.inBlockComment = true;
          leftCode = true;
          p += profile.blockOpen.size();
          break;
        }
        cls = table.markerFallback[c];
        if (cls == kByteLetter || (cls == kByteDigit && token != nullptr)) {
          if (token == nullptr) token = p;
          ++p;
          while (p < end && table.continuesToken[static_cast<unsigned char>(*p)]) ++p;
          code = 1;
          if (p >= end || table.byteClass[static_cast<unsigned char>(*p)] != kByteMarker) {
            countToken(profile, line.data(), token, p, end, n);
            token = nullptr;
          }
          continue;
        }
        if (token != nullptr) {
          countToken(profile, line.data(), token, p, end, n);
          token = nullptr;
        }
        if (cls <= kByteDigit) {
          ++n.slots[table.countSlot[c]];
          code = static_cast<uint8_t>(code | table.setsCode[c]);
          ++p;
          continue;
        }
      }
      switch (cls) {
        case kByteAmp:
        case kBytePipe:
          if (end - p >= 2 && p[1] == p[0]) {
            ++n.boolOps;
            p += 2;
          } else {
            ++p;
          }
          code = 1;
          break;
        case kByteDoubleQuote:
          if (profile.tripleQuoteStrings && end - p >= 3 && p[1] == '"' && p[2] == '"') {
            openString(state, 5);
            p += 3;
          } else {
            openString(state, 2);
            ++p;
          }
          opened = true;
          break;
        case kByteSingleQuote:
          if (profile.tripleQuoteStrings && end - p >= 3 && p[1] == '\'' && p[2] == '\'') {
            openString(state, 4);
            p += 3;
          } else {
            openString(state, 1);
            ++p;
          }
          opened = true;
          break;
        default:  // the backtick of a family with backtick strings
          openString(state, 3);
          ++p;
          opened = true;
          break;
      }
      if (opened) break;
    }
    if (opened) leftCode = true;
  }
  if (token != nullptr) countToken(profile, line.data(), token, end, end, n);

  LineFacts facts;
  facts.isBlank = code == 0 && !state.inBlockComment && !state.inString;
  facts.tokenCount = saturate(n.tokens);
  facts.openBraces = saturate(n.slots[kSlotOpenBrace]);
  facts.closeBraces = saturate(n.slots[kSlotCloseBrace]);
  facts.dots = saturate(n.slots[kSlotDot]);
  facts.boolOps = saturate(n.boolOps);
  facts.ternaries = saturate(n.slots[kSlotTernary]);
  facts.loopKw = saturate(n.loopKw);
  facts.branchKw = saturate(n.branchKw);
  facts.exceptionKw = saturate(n.exceptionKw);
  facts.functionKw = saturate(n.functionKw);
  facts.typeKw = saturate(n.typeKw);
  facts.lineLength = saturate(static_cast<int64_t>(line.size()));
  facts.codeKeywordBits = n.codeBits;
  facts.leftCode = leftCode;
  facts.codeParen = n.slots[kSlotOpenParen] > 0;
  facts.blankPrefix = saturate(static_cast<int64_t>(blankPrefix));
  return facts;
}

// Every count of a line is at most its length, so 32 bits do unless the
// line is longer than INT32_MAX bytes.
LineFacts scanPreparedAnyLength(std::string_view line, LexState& state,
                                const LanguageProfile& profile) {
  if (line.size() <= static_cast<size_t>(INT32_MAX)) {
    return scanPrepared<int32_t>(line, state, profile);
  }
  return scanPrepared<int64_t>(line, state, profile);
}

bool isWordByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

size_t countSplitLines(std::string_view text) {
  if (text.empty()) return 0;
  const char* data = text.data();
  const size_t size = text.size();
  size_t breaks = 0;
  size_t i = 0;
#ifdef __SSE2__
  // Sixteen bytes at a time; per-lane counters are folded before they wrap.
  const __m128i newline = _mm_set1_epi8('\n');
  while (size - i >= 16) {
    const size_t blocks = std::min<size_t>((size - i) / 16, 255);
    __m128i lanes = _mm_setzero_si128();
    for (size_t b = 0; b < blocks; ++b, i += 16) {
      const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
      lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(chunk, newline));
    }
    const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
    breaks += static_cast<size_t>(_mm_cvtsi128_si32(sums)) +
              static_cast<size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  }
#else
  // Eight bytes at a time: mark the zero bytes of (word ^ "\n\n\n...").
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7full;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, data + i, 8);
    const uint64_t x = word ^ (kOnes * '\n');
    const uint64_t zero = ~(((x & kLow7) + kLow7) | x) & ~kLow7;
    breaks += static_cast<size_t>(((zero >> 7) * kOnes) >> 56);
  }
#endif
  for (; i < size; ++i) breaks += data[i] == '\n' ? 1 : 0;
  return breaks + 1;
}

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  lines.reserve(countSplitLines(text));
  forEachLine(text, [&](std::string_view line) { lines.push_back(line); });
  return lines;
}

LineFacts scanLine(std::string_view line, LexState& state, const LanguageProfile& profile) {
  if (!profile.compiled.ready) {
    LanguageProfile prepared = profile;
    prepareProfile(prepared);
    return scanPreparedAnyLength(line, state, prepared);
  }
  return scanPreparedAnyLength(line, state, profile);
}

std::vector<std::string> wordTokens(std::string_view line) {
  std::vector<std::string> tokens;
  size_t i = 0;
  while (i < line.size()) {
    if (!isWordByte(static_cast<unsigned char>(line[i]))) {
      ++i;
      continue;
    }
    std::string token;
    while (i < line.size() && isWordByte(static_cast<unsigned char>(line[i]))) {
      char c = line[i++];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      token.push_back(c);
    }
    tokens.push_back(std::move(token));
  }
  return tokens;
}

std::string_view trimLine(std::string_view line) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  size_t b = 0;
  size_t e = line.size();
  while (b < e && blank(line[b])) ++b;
  while (e > b && blank(line[e - 1])) --e;
  return line.substr(b, e - b);
}

bool isTrivialLine(std::string_view trimmedLine) {
  const std::string_view s = trimLine(trimmedLine);
  if (s.empty()) return true;
  if (s.starts_with("//") || s.starts_with("/*")) return true;
  if (s[0] == '*' || s[0] == '#') return true;
  if (s.starts_with("import ") || s.starts_with("package ") || s.starts_with("using ")) return true;
  for (char c : s) {
    switch (c) {
      case '(': case ')': case ',': case ';': case '[': case ']': case '{': case '}':
        break;
      default:
        return false;
    }
  }
  return true;
}

}  // namespace varnholt_app
