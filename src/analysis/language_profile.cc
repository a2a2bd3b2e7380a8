#include "analysis/language_profile.h"

#include <algorithm>
#include <initializer_list>
#include <vector>

namespace varnholt_app {

namespace {

constexpr std::string_view kDeclarationModifiers[] = {
    "operator", "constexpr", "inline", "static",   "virtual",  "public",
    "private",  "protected", "override", "final",  "template", "typename"};

bool isTokenByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Only words made of the bytes a token can hold, with no capital, can ever
// equal a lower-cased token; the rest are left out of the table.
bool canMatchToken(std::string_view word) {
  if (word.empty()) return false;
  for (char ch : word) {
    const auto c = static_cast<unsigned char>(ch);
    if (!isTokenByte(c) || (c >= 'A' && c <= 'Z')) return false;
  }
  return true;
}

struct WordBits {
  std::string_view word;
  uint8_t bits;
};

void addWord(std::vector<WordBits>& words, std::string_view word, uint8_t bit) {
  if (!canMatchToken(word)) return;
  for (WordBits& w : words) {
    if (w.word == word) {
      w.bits = static_cast<uint8_t>(w.bits | bit);
      return;
    }
  }
  words.push_back({word, bit});
}

void addWords(std::vector<WordBits>& words, const std::unordered_set<std::string>& set,
              uint8_t bit) {
  for (const std::string& word : set) addWord(words, word, bit);
}

void insertSlot(CompiledProfile& table, std::string_view word, uint8_t bits) {
  uint64_t key[2] = {0, 0};
  auto* out = reinterpret_cast<unsigned char*>(key);
  for (size_t i = 0; i < word.size(); ++i) out[i] = static_cast<unsigned char>(word[i] | 0x20);
  const uint64_t hash = (key[0] ^ (key[1] * 0x9e3779b97f4a7c15ull)) * 0xff51afd7ed558ccdull;
  constexpr uint32_t mask = (1u << CompiledProfile::kSlotBits) - 1;
  uint32_t index = static_cast<uint32_t>(hash >> (64 - CompiledProfile::kSlotBits));
  while (table.slots[index].key0 != 0) index = (index + 1) & mask;
  table.slots[index] = {key[0], key[1], bits};
}

void setWords(std::unordered_set<std::string>& set, std::initializer_list<const char*> words) {
  set.clear();
  for (const char* w : words) set.insert(w);
}

void setCLikeComments(LanguageProfile& p) {
  // Built as whole strings: gcc 12 at -O3 warns falsely about assigning
  // short literals into these members.
  p.lineComment = std::string(2, '/');
  p.hasBlockComments = true;
  p.blockOpen = std::string{'/', '*'};
  p.blockClose = std::string{'*', '/'};
}

LanguageProfile finished(LanguageProfile p) {
  prepareProfile(p);
  return p;
}

}  // namespace

void prepareProfile(LanguageProfile& p) {
  CompiledProfile c;
  c.wordOperatorMode = p.lineComment == "#" && p.tripleQuoteStrings;
  c.declarationTest = p.functionKeywords.empty();
  c.heatRef = std::max(10 * p.wTokens + p.wBase + 0.5 * p.wBranch + 0.3 * p.wLoop + 0.8 * p.wBoolOp,
                       0.08);

  std::vector<WordBits> words;
  addWords(words, p.loopKeywords, kKwLoop);
  addWords(words, p.branchKeywords, kKwBranch);
  addWords(words, p.exceptionKeywords, kKwException);
  addWords(words, p.functionKeywords, kKwFunction);
  addWords(words, p.typeKeywords, kKwType);
  if (c.wordOperatorMode && p.countBooleanOps) {
    addWord(words, "and", kKwBoolWord);
    addWord(words, "or", kKwBoolWord);
  }
  if (c.declarationTest) {
    for (std::string_view m : kDeclarationModifiers) addWord(words, m, kKwDeclModifier);
  }

  for (const WordBits& w : words) {
    if (w.word.size() > CompiledProfile::kMaxKeyLength) c.slowLookup = true;
  }
  if (words.size() > CompiledProfile::kMaxTableWords) c.slowLookup = true;
  if (!c.slowLookup) {
    for (const WordBits& w : words) {
      insertSlot(c, w.word, w.bits);
      const auto first = static_cast<unsigned char>(w.word[0] | 0x20);
      c.lengthsByFirstByte[first] |= 1u << w.word.size();
      c.oneByteWord |= w.word.size() == 1;
      if (first >= 0x60 && first < 0x80) {
        c.secondNibbles[first - 0x60] |=
            static_cast<uint16_t>(w.word.size() == 1 ? 0xffffu : 1u << ((w.word[1] | 0x20) & 15));
      }
      c.maxKeywordLength = std::max(c.maxKeywordLength, static_cast<uint32_t>(w.word.size()));
    }
  }

  for (int b = 0; b < 256; ++b) {
    const auto ch = static_cast<unsigned char>(b);
    uint8_t cls = kByteOther;
    if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || ch == '_') {
      cls = kByteLetter;
    } else if (ch >= '0' && ch <= '9') {
      cls = kByteDigit;
    } else {
      switch (ch) {
        case '\t': case '\r': case ' ': cls = kByteSpace; break;
        case '{': cls = kByteOpenBrace; break;
        case '}': cls = kByteCloseBrace; break;
        case '(': case ')': cls = kByteParen; break;
        case '.': cls = kByteDot; break;
        case '&': cls = (p.countBooleanOps && !c.wordOperatorMode) ? kByteAmp : kByteOther; break;
        case '|': cls = (p.countBooleanOps && !c.wordOperatorMode) ? kBytePipe : kByteOther; break;
        case '?':
          cls = !p.countTernary                             ? kByteOther
                : p.questionRule == QuestionRule::kEvery ? kByteQuestion
                                                         : kByteQuestionMark;
          break;
        case '"': cls = kByteDoubleQuote; break;
        case '\'': cls = kByteSingleQuote; break;
        case '`': cls = p.backtickStrings ? kByteBacktick : kByteOther; break;
        default: break;
      }
    }
    c.byteClass[ch] = cls;
    c.markerFallback[ch] = cls;
    c.continuesToken[ch] = (cls == kByteLetter || cls == kByteDigit) ? 1 : 0;
    switch (cls) {
      case kByteOpenBrace: c.countSlot[ch] = kSlotOpenBrace; break;
      case kByteCloseBrace: c.countSlot[ch] = kSlotCloseBrace; break;
      case kByteDot: c.countSlot[ch] = kSlotDot; break;
      case kByteQuestion: c.countSlot[ch] = kSlotTernary; break;
      case kByteParen:
        c.countSlot[ch] = ch == '(' ? kSlotOpenParen : (p.indentBlocks ? kSlotCloseParen : kSlotNone);
        break;
      default: c.countSlot[ch] = kSlotNone; break;
    }
    if (p.indentBlocks && (ch == '[' || ch == ']')) c.countSlot[ch] = ch == '[' ? kSlotOpenSquare : kSlotCloseSquare;
    c.setsCode[ch] = cls == kByteSpace ? 0 : 1;
  }
  // Comment markers are tested before every other rule, so their first byte
  // is routed through a marker check that falls back to the byte's own class.
  if (!p.lineComment.empty()) {
    c.byteClass[static_cast<unsigned char>(p.lineComment[0])] = kByteMarker;
    c.continuesToken[static_cast<unsigned char>(p.lineComment[0])] = 0;
  }
  if (p.hasBlockComments && !p.blockOpen.empty()) {
    c.byteClass[static_cast<unsigned char>(p.blockOpen[0])] = kByteMarker;
    c.continuesToken[static_cast<unsigned char>(p.blockOpen[0])] = 0;
  }
  c.wordSafeMarkers = true;
  for (const std::string* marker : {&p.lineComment, &p.blockOpen, &p.blockClose}) {
    for (char ch : *marker) {
      if (isTokenByte(static_cast<unsigned char>(ch))) c.wordSafeMarkers = false;
    }
  }
  c.ready = true;
  p.compiled = c;
}

uint8_t keywordMaskSlow(const LanguageProfile& p, std::string_view token) {
  std::string lower(token);
  for (char& ch : lower) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  uint8_t bits = 0;
  if (p.loopKeywords.count(lower)) bits |= kKwLoop;
  if (p.branchKeywords.count(lower)) bits |= kKwBranch;
  if (p.exceptionKeywords.count(lower)) bits |= kKwException;
  if (p.functionKeywords.count(lower)) bits |= kKwFunction;
  if (p.typeKeywords.count(lower)) bits |= kKwType;
  if (p.lineComment == "#" && p.tripleQuoteStrings && p.countBooleanOps &&
      (lower == "and" || lower == "or")) {
    bits |= kKwBoolWord;
  }
  if (p.functionKeywords.empty()) {
    for (std::string_view m : kDeclarationModifiers) {
      if (lower == m) bits |= kKwDeclModifier;
    }
  }
  return bits;
}

LanguageProfile makeSwiftProfile() {
  LanguageProfile p;
  setCLikeComments(p);
  setWords(p.loopKeywords, {"for", "while", "repeat"});
  setWords(p.branchKeywords, {"if", "else", "guard", "switch", "case", "where"});
  setWords(p.exceptionKeywords, {"try", "catch", "throw", "throws", "rethrows", "defer"});
  setWords(p.functionKeywords, {"func", "init", "deinit"});
  setWords(p.typeKeywords, {"class", "struct", "enum", "protocol", "extension"});
  p.questionRule = QuestionRule::kTyped;  // optionals: "Int?", "x?.y", "a ?? b"
  return finished(std::move(p));
}

LanguageProfile makeCFamilyProfile() {
  LanguageProfile p;
  setCLikeComments(p);
  setWords(p.loopKeywords, {"for", "while", "do"});
  setWords(p.branchKeywords, {"if", "else", "switch", "case", "default"});
  setWords(p.exceptionKeywords, {"try", "catch", "throw"});
  setWords(p.typeKeywords, {"class", "struct", "enum", "namespace", "template"});
  p.wTokens = 0.009;
  p.wLoop = 0.2;
  p.wBranch = 0.15;
  p.wBoolOp = 0.028;
  return finished(std::move(p));
}

LanguageProfile makePythonProfile() {
  LanguageProfile p;
  p.lineComment = "#";
  p.hasBlockComments = false;
  p.tripleQuoteStrings = true;
  p.indentBlocks = true;
  setWords(p.loopKeywords, {"for", "while"});
  setWords(p.branchKeywords, {"if", "elif", "else", "match", "case"});
  setWords(p.exceptionKeywords, {"try", "except", "raise", "finally"});
  setWords(p.functionKeywords, {"def", "lambda"});
  setWords(p.typeKeywords, {"class"});
  p.wBoolOp = 0.03;
  return finished(std::move(p));
}

LanguageProfile makeJavaScriptProfile() {
  LanguageProfile p;
  setCLikeComments(p);
  p.backtickStrings = true;
  p.questionRule = QuestionRule::kScript;  // "?.", "??" and TypeScript's "x?: T"
  setWords(p.loopKeywords, {"for", "while", "do"});
  setWords(p.branchKeywords, {"if", "else", "switch", "case", "default"});
  setWords(p.exceptionKeywords, {"try", "catch", "throw", "finally"});
  setWords(p.functionKeywords, {"function"});
  setWords(p.typeKeywords, {"class"});
  return finished(std::move(p));
}

LanguageProfile makeShellProfile() {
  LanguageProfile p;
  p.lineComment = "#";
  p.hasBlockComments = false;
  setWords(p.loopKeywords, {"for", "while", "until", "do", "done"});
  setWords(p.branchKeywords, {"if", "then", "elif", "else", "fi", "case", "esac"});
  setWords(p.functionKeywords, {"function"});
  p.wTokens = 0.012;
  return finished(std::move(p));
}

LanguageProfile makeGoProfile() {
  LanguageProfile p;
  setCLikeComments(p);
  p.backtickStrings = true;  // raw strings: span lines, no escapes
  setWords(p.loopKeywords, {"for"});
  setWords(p.branchKeywords, {"if", "else", "switch", "case", "default", "select"});
  setWords(p.functionKeywords, {"func"});
  setWords(p.typeKeywords, {"type", "struct", "interface"});
  return finished(std::move(p));
}

LanguageProfile makeRustProfile() {
  LanguageProfile p;
  setCLikeComments(p);
  setWords(p.loopKeywords, {"for", "while", "loop"});
  setWords(p.branchKeywords, {"if", "else", "match"});
  setWords(p.exceptionKeywords, {"panic"});
  setWords(p.functionKeywords, {"fn"});
  setWords(p.typeKeywords, {"struct", "enum", "trait", "impl"});
  p.countTernary = false;  // Rust has no ternary: "x?" propagates an error
  return finished(std::move(p));
}

LanguageProfile makeJavaLikeProfile() {
  LanguageProfile p;
  setCLikeComments(p);
  setWords(p.loopKeywords, {"for", "while", "do"});
  setWords(p.branchKeywords, {"if", "else", "switch", "case", "default"});
  setWords(p.exceptionKeywords, {"try", "catch", "throw", "finally"});
  setWords(p.functionKeywords, {"function"});
  setWords(p.typeKeywords, {"class", "interface", "enum", "struct", "trait"});
  // Wildcards, nullable types, "?." and "??" (Java, Kotlin, C#, PHP).
  p.questionRule = QuestionRule::kTyped;
  return finished(std::move(p));
}

namespace {

enum Family { kSwift, kCFamily, kPython, kJavaScript, kShell, kGo, kRust, kJavaLike, kFamilies };

struct ProfileTable {
  const LanguageProfile* family[kFamilies];
};

// Built once, in this order, and deliberately never freed: a detached worker
// may still be reading a profile while the process exits.
const ProfileTable& profiles() {
  static const ProfileTable* const table = [] {
    auto* t = new ProfileTable{};
    t->family[kSwift] = new LanguageProfile(makeSwiftProfile());
    t->family[kCFamily] = new LanguageProfile(makeCFamilyProfile());
    t->family[kPython] = new LanguageProfile(makePythonProfile());
    t->family[kJavaScript] = new LanguageProfile(makeJavaScriptProfile());
    t->family[kShell] = new LanguageProfile(makeShellProfile());
    t->family[kGo] = new LanguageProfile(makeGoProfile());
    t->family[kRust] = new LanguageProfile(makeRustProfile());
    t->family[kJavaLike] = new LanguageProfile(makeJavaLikeProfile());
    return t;
  }();
  return *table;
}

}  // namespace

const LanguageProfile& profileForLanguage(LanguageId language) {
  const ProfileTable& t = profiles();
  switch (language) {
    case LanguageId::Swift: return *t.family[kSwift];
    case LanguageId::Python: return *t.family[kPython];
    case LanguageId::JavaScript:
    case LanguageId::TypeScript: return *t.family[kJavaScript];
    case LanguageId::Go: return *t.family[kGo];
    case LanguageId::Rust: return *t.family[kRust];
    case LanguageId::Java:
    case LanguageId::Kotlin:
    case LanguageId::CSharp:
    case LanguageId::Ruby:
    case LanguageId::Php: return *t.family[kJavaLike];
    case LanguageId::Shell: return *t.family[kShell];
    default: return *t.family[kCFamily];
  }
}

}  // namespace varnholt_app
