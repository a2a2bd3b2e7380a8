// The optimised lexer and analysis against the literal model, on random
// texts built from the fragments that steer the rules.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/file_heat.h"
#include "analysis/lexer.h"
#include "reference_model.h"

namespace varnholt_app {
namespace {

const char* const kFragments[] = {
    "for",  "For",   "WHILE", "if",     "else",  "} else {", "switch", "case",   "do",
    "try",  "catch", "throw", "func",   "def",   "lambda",   "fn",     "function", "class",
    "struct", "enum", "namespace", "template", "static", "inline", "operator", "typename",
    "and",  "OR",    "not",   "elif",   "fi",    "then",     "match",  "loop",   "panic",
    "x2y",  "2x",    "2if",   "_init",  "a_b",   "extension", "interfaces", "12",
    "{",    "}",     "(",     ")",      ".",     "...",      "&&",     "||",     "&",
    "|",    "?",     ";",     ",",      "[",     "]",        "/*",     "*/",     "//",
    "/",    "*",     "#",     "\"",     "'",     "`",        "\"\"\"", "'''",    "\\",
    "\\\"", " ",     " ",     "    ",   "\t",    "\n",       "\n",     "\n",     "\r\n",
    "\r",   "import ", "using ", "package ", "\xEF\xBB\xBF", std::string_view("\0", 1).data(),
    "\xFF", "\xC3\xA9", "=",  "+",      "->",    "::",       "@",      "$",      "%",
};

struct Rng {
  uint64_t state;
  uint32_t next(uint32_t bound) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>((state >> 33) % bound);
  }
};

std::string soup(uint64_t seed, size_t pieces) {
  Rng rng{seed * 0x9e3779b97f4a7c15ull + 1};
  std::string out;
  constexpr uint32_t count = sizeof(kFragments) / sizeof(kFragments[0]);
  for (size_t i = 0; i < pieces; ++i) {
    const char* f = kFragments[rng.next(count)];
    if (f[0] == '\0') {
      out.push_back('\0');
    } else {
      out += f;
    }
    if (rng.next(3) == 0) out.push_back(' ');
  }
  return out;
}

const LanguageId kFamilies[] = {LanguageId::Swift,  LanguageId::C,    LanguageId::Python,
                                LanguageId::JavaScript, LanguageId::Go, LanguageId::Rust,
                                LanguageId::Java,   LanguageId::Shell};

TEST(Differential, LinesAndFactsMatchTheLiteralModel) {
  for (uint64_t seed = 0; seed < 300; ++seed) {
    const std::string text = soup(seed, 40 + seed % 200);
    const std::vector<std::string_view> lines = splitLines(text);
    const std::vector<std::string> expected = reference::splitLines(text);
    ASSERT_EQ(lines.size(), expected.size()) << "seed " << seed;
    ASSERT_EQ(countSplitLines(text), expected.size());
    for (size_t i = 0; i < lines.size(); ++i) ASSERT_EQ(lines[i], expected[i]);
    for (LanguageId language : kFamilies) {
      const LanguageProfile& profile = profileForLanguage(language);
      LexState fast, slow;
      for (std::string_view line : lines) {
        const LineFacts a = scanLine(line, fast, profile);
        const LineFacts b = reference::scanLine(line, slow, profile);
        ASSERT_TRUE(reference::sameFacts(a, b))
            << "seed " << seed << " language " << static_cast<int>(language) << " line '"
            << line << "'";
        ASSERT_EQ(fast.inBlockComment, slow.inBlockComment);
        ASSERT_EQ(fast.inString, slow.inString);
        ASSERT_EQ(fast.stringKind, slow.stringKind);
      }
    }
  }
}

TEST(Differential, HeatMatchesTheLiteralModelBitForBit) {
  AnalysisScratch scratch;  // shared across languages on purpose: no stale cache
  for (uint64_t seed = 0; seed < 300; ++seed) {
    const std::string text = soup(seed + 1000, 60 + seed % 400);
    for (LanguageId language : kFamilies) {
      std::vector<double> heat, expected;
      double sum = -1, expectedSum = -2;
      analyzeText(text, language, heat, sum, scratch);
      reference::analyzeText(text, profileForLanguage(language), expected, expectedSum);
      ASSERT_EQ(heat, expected) << "seed " << seed << " language " << static_cast<int>(language);
      ASSERT_EQ(sum, expectedSum);
      EXPECT_EQ(heat.capacity(), heat.size());
    }
  }
}

// Comment markers made of word bytes can end, continue or start a token.
TEST(Differential, WordMarkersMatchTheLiteralModel) {
  LanguageProfile profile = profileForLanguage(LanguageId::C);
  profile.lineComment = "2i";
  profile.blockOpen = "do";
  profile.blockClose = "se";
  prepareProfile(profile);
  AnalysisScratch scratch;
  for (uint64_t seed = 0; seed < 200; ++seed) {
    const std::string text = soup(seed + 2000, 40 + seed % 200);
    LexState fast, slow;
    for (std::string_view line : splitLines(text)) {
      ASSERT_TRUE(reference::sameFacts(scanLine(line, fast, profile),
                                       reference::scanLine(line, slow, profile)))
          << "seed " << seed << " line '" << line << "'";
    }
    std::vector<double> heat, expected;
    double sum = 0, expectedSum = 0;
    analyzeText(text, profile, heat, sum, scratch);
    reference::analyzeText(text, profile, expected, expectedSum);
    ASSERT_EQ(heat, expected) << "seed " << seed;
  }
}

// Nesting and long keyword runs push the lifted factors to their clamps.
TEST(Differential, DeepAndHotCodeMatchesTheLiteralModel) {
  std::string text;
  for (int i = 0; i < 40; ++i) {
    text += std::string(static_cast<size_t>(i), ' ') +
            "for (i = 0; i < n && j || k ? a : b; ++i) if (x) while (y) try { // " +
            std::to_string(i) + "\n";
  }
  for (int i = 0; i < 30; ++i) text += "struct enum class x.y.z.w.v.u if else case ? ? {\n";
  for (int i = 0; i < 75; ++i) text += "}\n";
  text += std::string(300, 'a') + " " + std::string(100, '.') + "\n";
  for (LanguageId language : kFamilies) {
    std::vector<double> heat, expected;
    double sum = 0, expectedSum = 0;
    analyzeText(text, language, heat, sum);
    reference::analyzeText(text, profileForLanguage(language), expected, expectedSum);
    ASSERT_EQ(heat, expected) << static_cast<int>(language);
    EXPECT_EQ(sum, expectedSum);
  }
}

}  // namespace
}  // namespace varnholt_app
