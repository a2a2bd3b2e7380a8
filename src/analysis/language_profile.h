#pragma once
// Lexical syntax, keyword sets and scoring weights of one language family.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>

#include "model/model.h"

namespace varnholt_app {

// Bits of the combined keyword table: one probe answers all sets at once.
enum KeywordBits : uint8_t {
  kKwLoop = 1,
  kKwBranch = 2,
  kKwException = 4,
  kKwFunction = 8,
  kKwType = 16,
  kKwBoolWord = 32,     // "and" / "or" in word-operator mode
  kKwDeclModifier = 64  // words that make a C-family line a declaration
};

// Byte classes of the line lexer, looked up once per byte. The classes
// before kByteLetter need no branch of their own: they bump one counter
// (countSlot) and maybe mark the line as code.
enum ByteClass : uint8_t {
  kByteOther = 0,
  kByteSpace,       // tab, CR, space: end a token, are not code
  kByteOpenBrace,
  kByteCloseBrace,
  kByteParen,
  kByteDot,
  kByteQuestion,
  kByteDigit,
  kByteLetter,      // A-Z, a-z, _
  kByteAmp,
  kBytePipe,
  kByteDoubleQuote,
  kByteSingleQuote,
  kByteBacktick,
  kByteMarker,      // may start the line comment or the block-comment opener
  kByteQuestionMark,  // "?" that a family's question rule must look at
};

// Which "?" bytes count as the ternary operator. Families with optional
// chaining, null coalescing, wildcards or nullable types use "?" for more
// than the ternary; the byte context around each "?" tells them apart.
enum class QuestionRule : uint8_t {
  kEvery,   // every "?" (C, Go, Python, Shell)
  kScript,  // not "??", "?.", "?[", "?->", "?:", "<?", nor before ">", ",", ")" or ";"
  kTyped,   // kScript, and not a nullable type ("Int?", "T[]? x") nor "? extends" / "? super"
};

// Counters a simple byte can bump; kSlotNone is a sink.
enum CountSlot : uint8_t {
  kSlotNone = 0,
  kSlotOpenBrace,
  kSlotCloseBrace,
  kSlotDot,
  kSlotTernary,
  kSlotOpenParen,
  kSlotCloseParen,   // the three below only where blocks come from indentation
  kSlotOpenSquare,
  kSlotCloseSquare,
  kSlotCount
};

// Derived tables built from the public fields by prepareProfile.
struct CompiledProfile {
  bool ready = false;
  bool wordOperatorMode = false;  // "#" comments with triple quotes: Python
  bool declarationTest = false;   // no function keywords: the C family
  bool wordSafeMarkers = false;   // no comment marker holds a word byte
  bool slowLookup = false;        // words the table cannot hold: use the sets
  uint32_t maxKeywordLength = 0;
  double heatRef = 0.08;          // denominator of lineHeatFromComplexity
  std::array<uint8_t, 256> byteClass{};
  std::array<uint8_t, 256> markerFallback{};  // class of a marker byte that opens nothing
  std::array<uint8_t, 256> continuesToken{};  // token bytes that are not marker starts
  std::array<uint8_t, 256> countSlot{};       // CountSlot of a simple byte
  std::array<uint8_t, 256> setsCode{};        // 1 unless the byte is blank
  // Bit n of entry b: some word of length n starts with folded byte b. Most
  // identifiers fail this test and never reach the hash table.
  std::array<uint32_t, 256> lengthsByFirstByte{};
  // Whether some word has one byte.
  bool oneByteWord = false;
  // For the text scanner, per folded first byte 0x60..0x7F (every token
  // starts there): bit n for each low nibble n of a second byte some word so
  // led has; all 16 bits when a one-byte word is so led (what follows it is
  // no word byte); 0 when no word begins with the byte.
  std::array<uint16_t, 32> secondNibbles{};
  struct Slot {
    uint64_t key0 = 0;
    uint64_t key1 = 0;
    uint8_t mask = 0;
  };
  static constexpr uint32_t kSlotBits = 7;
  static constexpr uint32_t kMaxTableWords = 64;
  static constexpr uint32_t kMaxKeyLength = 16;
  std::array<Slot, 1u << kSlotBits> slots{};
};

struct LanguageProfile {
  std::string lineComment;
  bool hasBlockComments = true;
  std::string blockOpen;
  std::string blockClose;
  bool backtickStrings = false;
  bool tripleQuoteStrings = false;
  std::unordered_set<std::string> loopKeywords;
  std::unordered_set<std::string> branchKeywords;
  std::unordered_set<std::string> exceptionKeywords;
  std::unordered_set<std::string> functionKeywords;
  std::unordered_set<std::string> typeKeywords;
  bool countBooleanOps = true;
  bool countTernary = true;
  QuestionRule questionRule = QuestionRule::kEvery;
  // Blocks and depth come from indentation, not braces (the Python family).
  bool indentBlocks = false;
  double wBase = 0.05;
  double wTokens = 0.01;
  double wLoop = 0.22;
  double wBranch = 0.16;
  double wException = 0.12;
  double wFunction = 0.26;
  double wType = 0.1;
  double wBoolOp = 0.03;
  double wTernary = 0.07;
  double wDot = 0.006;
  bool longLinePenalty = true;
  double wLongLine = 0.1;
  double wVeryLongLine = 0.18;

  // Filled by prepareProfile; never edit by hand.
  CompiledProfile compiled;
};

// Builds the lookup tables of a profile from its public fields. The family
// builders call it; call it again after changing a copy of a profile.
void prepareProfile(LanguageProfile& profile);

// Bitmask (KeywordBits) of a word token made of A-Z, a-z, 0-9 and "_";
// A-Z count as lower case. Looks in the sets themselves: the reference
// answer, and the path for profiles whose words do not fit the table.
uint8_t keywordMaskSlow(const LanguageProfile& profile, std::string_view token);

// The table probe behind keywordMask for a prepared profile. OR-ing 0x20
// folds A-Z to a-z and moves "_" to 0x7F, which no other token byte
// becomes, so equality of folded keys is equality of lower-cased words.
// Whether some word of `length` begins with `firstByte`, both filters at once:
// most tokens fail one of them, in no pattern a branch per filter could learn.
inline bool mayBeKeyword(const CompiledProfile& table, char firstByte, size_t length) {
  const auto first = static_cast<unsigned char>(firstByte | 0x20);
  return (length <= table.maxKeywordLength) & (((table.lengthsByFirstByte[first] >> (length & 31)) & 1u) != 0);
}

// `readable` bounds the bytes that may be loaded past the word (null: none).
inline uint8_t probeKeyword(const CompiledProfile& table, const char* bytes, size_t length,
                            const char* readable = nullptr) {
  if (length == 0 || !mayBeKeyword(table, bytes[0], length)) return 0;
  uint64_t key[2] = {0, 0};
  if (std::endian::native == std::endian::little && readable != nullptr &&
      readable - bytes >= 16) {
    // Two whole words, cut to the length: no loop whose end must be guessed.
    constexpr uint64_t kFold = 0x2020202020202020ull;
    uint64_t lo, hi;
    std::memcpy(&lo, bytes, 8);
    std::memcpy(&hi, bytes + 8, 8);
    const size_t loBytes = length < 8 ? length : 8;
    const size_t hiBytes = length - loBytes;
    key[0] = (lo | kFold) & (loBytes == 8 ? ~0ull : (1ull << (8 * loBytes)) - 1);
    key[1] = (hi | kFold) & (hiBytes == 8 ? ~0ull : (1ull << (8 * hiBytes)) - 1);
  } else {
    auto* out = reinterpret_cast<unsigned char*>(key);
    for (size_t i = 0; i < length; ++i) out[i] = static_cast<unsigned char>(bytes[i] | 0x20);
  }
  const uint64_t hash = (key[0] ^ (key[1] * 0x9e3779b97f4a7c15ull)) * 0xff51afd7ed558ccdull;
  constexpr uint32_t mask = (1u << CompiledProfile::kSlotBits) - 1;
  uint32_t index = static_cast<uint32_t>(hash >> (64 - CompiledProfile::kSlotBits));
  for (;;) {
    const CompiledProfile::Slot& slot = table.slots[index];
    if (slot.key0 == key[0] && slot.key1 == key[1]) return slot.mask;
    if (slot.key0 == 0) return 0;
    index = (index + 1) & mask;
  }
}

LanguageProfile makeSwiftProfile();
LanguageProfile makeCFamilyProfile();
LanguageProfile makePythonProfile();
LanguageProfile makeJavaScriptProfile();
LanguageProfile makeShellProfile();
LanguageProfile makeGoProfile();
LanguageProfile makeRustProfile();
LanguageProfile makeJavaLikeProfile();

// The shared profile of a language's family; any unknown id gives the C
// family. The profiles are built on first use and live until exit.
const LanguageProfile& profileForLanguage(LanguageId language);

inline uint8_t keywordMask(const LanguageProfile& profile, const char* bytes, size_t length,
                           const char* readable = nullptr) {
  if (profile.compiled.slowLookup) return keywordMaskSlow(profile, std::string_view(bytes, length));
  return probeKeyword(profile.compiled, bytes, length, readable);
}

}  // namespace varnholt_app
