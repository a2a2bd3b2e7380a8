#include "analysis/lexer.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "analysis/literal_skip.h"

namespace varnholt_app {

namespace {

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

template <class Count>
LineFacts scanPrepared(std::string_view line, LexState& state, const LanguageProfile& profile) {
  const CompiledProfile& table = profile.compiled;
  const char* p = line.data();
  const char* const end = p + line.size();
  state.escapePending = false;
  Counts<Count> n;
  uint8_t code = 0;
  const uint8_t startsInside = insideKind(state);
  char lastCode = 0;
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
        lastCode = table.setsCode[c] ? *p : lastCode;
        ++p;
        continue;
      }
      if (cls == kByteLetter) {
        const char* const begin = p;
        ++p;
        while (p < end && table.continuesToken[static_cast<unsigned char>(*p)]) ++p;
        code = 1;
        lastCode = p[-1];
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
          lastCode = p[-1];
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
          lastCode = table.setsCode[c] ? *p : lastCode;
          ++p;
          continue;
        }
      }
      lastCode = *p;
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
        case kByteQuestionMark:
          n.slots[kSlotTernary] += questionIsTernary(line, static_cast<size_t>(p - line.data()), profile.questionRule);
          code = 1;
          ++p;
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
  facts.hasCode = code != 0;
  facts.startsInside = startsInside;
  facts.endsInside = insideKind(state);
  if (profile.indentBlocks) {
    facts.openBrackets = saturate(static_cast<int64_t>(n.slots[kSlotOpenParen]) + n.slots[kSlotOpenSquare] +
                                  n.slots[kSlotOpenBrace]);
    facts.closeBrackets = saturate(static_cast<int64_t>(n.slots[kSlotCloseParen]) + n.slots[kSlotCloseSquare] +
                                   n.slots[kSlotCloseBrace]);
    facts.lastCodeByte = lastCode;
  }
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

bool questionIsTernary(std::string_view line, size_t at, QuestionRule rule) {
  if (rule == QuestionRule::kEvery) return true;
  const auto byteAt = [&](size_t i) { return i < line.size() ? line[i] : '\0'; };
  const char before = at > 0 ? line[at - 1] : '\0';
  const char after = byteAt(at + 1);
  const char second = byteAt(at + 2);
  if (before == '?' || after == '?' || before == '<') return false;  // "??", "??=", "<?"
  // No condition can stand before it: "(?int $a", ", ?Foo", "): ?int".
  size_t back = at;
  while (back > 0 && (line[back - 1] == ' ' || line[back - 1] == '\t')) --back;
  if (back > 0 && (line[back - 1] == '(' || line[back - 1] == ',' || line[back - 1] == ':')) return false;
  switch (after) {
    case '.':  // "?." but not "c ?.5 : 1"
      if (second < '0' || second > '9') return false;
      break;
    case '-':  // "?->"
      if (second == '>') return false;
      break;
    case '[': case ':': case '>': case ',': case ')': case ';':
      return false;
    default:
      break;
  }
  if (rule != QuestionRule::kTyped) return true;
  // A nullable type ends its name with "?": "Int? x", "T[]?", "as? T".
  const bool afterBlank = at + 1 >= line.size() || after == ' ' || after == '\t' || after == '\r';
  if (afterBlank && (isWordByte(static_cast<unsigned char>(before)) || before == '>' || before == ']')) return false;
  // "Map<K, ? extends V>" and "? super T".
  size_t i = at + 1;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  for (std::string_view bound : {std::string_view("extends"), std::string_view("super")}) {
    if (line.substr(i, bound.size()) == bound &&
        !isWordByte(static_cast<unsigned char>(byteAt(i + bound.size())))) {
      return false;
    }
  }
  return true;
}

}  // namespace varnholt_app
