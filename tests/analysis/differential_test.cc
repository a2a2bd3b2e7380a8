// The optimised lexer and analysis against the literal model, on random
// texts built from the fragments that steer the rules.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/file_heat.h"
#include "analysis/lexer.h"
#include "analysis/line_split.h"
#include "analysis/text_scanner.h"
#include "reference_model.h"

namespace varnholt_app {
namespace {

const std::string kFragments[] = {
    "for", "For", "WHILE", "if", "else", "} else {", "switch", "case", "do", "try", "catch", "throw",
    "func", "def", "lambda", "fn", "function", "class", "struct", "enum", "namespace", "template",
    "static", "inline", "operator", "typename", "and", "OR", "not", "elif", "fi", "then", "match",
    "loop", "panic", "x2y", "2x", "2if", "_init", "a_b", "extension", "interfaces", "12", "{", "}",
    "(", ")", ".", "...", "&&", "||", "&", "|", "?", ";", ",", "[", "]", "/*", "*/", "//", "/", "*",
    "#", "\"", "'", "`", "\"\"\"", "'''", "\\", "\\\"", " ", "    ", "\t", "\n", "\n", "\n", "\r\n",
    "\r", "import ", "using ", "package ", "\xEF\xBB\xBF", std::string(1, '\0'), "\xFF", "\xC3\xA9",
    "=", "+", "->", "::", "@", "$", "%", ":", "?.", "??", "<?", "? extends", "Int?", "?->", "?.5", "\n    ",
    "\n\t", "\n  ", "<", ">"};

std::string soup(uint64_t seed, size_t pieces) {
  uint64_t state = seed * 0x9e3779b97f4a7c15ull + 1;
  const auto next = [&](uint32_t bound) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>((state >> 33) % bound);
  };
  std::string out;
  for (size_t i = 0; i < pieces; ++i) {
    out += kFragments[next(std::size(kFragments))];
    if (next(3) == 0) out.push_back(' ');
  }
  return out;
}

const LanguageId kFamilies[] = {LanguageId::Swift, LanguageId::C,    LanguageId::Python, LanguageId::JavaScript,
                                LanguageId::Go,    LanguageId::Rust, LanguageId::Java,   LanguageId::Shell};

// The families, one profile whose comment markers are made of word bytes
// (they can end, continue or start a token) and one with one-byte keywords
// (no second byte to filter candidates by).
std::vector<const LanguageProfile*> profilesUnderTest() {
  static const LanguageProfile wordMarkers = [] {
    LanguageProfile p = profileForLanguage(LanguageId::C);
    p.lineComment = "2i";
    p.blockOpen = "do";
    p.blockClose = "se";
    prepareProfile(p);
    return p;
  }();
  static const LanguageProfile oneByteWords = [] {
    LanguageProfile p = profileForLanguage(LanguageId::C);
    p.branchKeywords.insert("x");
    p.loopKeywords.insert("y");
    prepareProfile(p);
    return p;
  }();
  std::vector<const LanguageProfile*> out;
  for (LanguageId language : kFamilies) out.push_back(&profileForLanguage(language));
  out.push_back(&wordMarkers);
  out.push_back(&oneByteWords);
  return out;
}

// The whole-text scanner, every way it classifies bytes, against the
// line-by-line lexer, every field included.
bool scansLikeScanLine(std::string_view text, const LanguageProfile& profile, ScanWidth width) {
  TextScanner scanner(text, profile, width);
  std::vector<ScannedLine> got(7);  // a small batch: lines cross batch ends too
  const std::vector<std::string_view> lines = splitLines(text);
  LexState lex;
  size_t i = 0;
  while (const size_t n = scanner.next(got.data(), got.size())) {
    for (size_t k = 0; k < n; ++k, ++i) {
      if (i >= lines.size() || got[k].text.data() != lines[i].data() || got[k].text != lines[i]) return false;
      const LineFacts a = got[k].facts;
      const LineFacts b = scanLine(lines[i], lex, profile);
      const size_t blanks = lines[i].find_first_not_of(" \t\r");
      if (!reference::sameFacts(a, b) || a.codeKeywordBits != b.codeKeywordBits || a.leftCode != b.leftCode ||
          a.codeParen != b.codeParen || a.blankPrefix != b.blankPrefix ||
          got[k].firstNonBlank != std::min(blanks, lines[i].size())) {
        return false;
      }
    }
  }
  return i == lines.size();
}

TEST(Differential, LinesFactsAndHeatMatchTheLiteralModel) {
  // Nesting and long keyword runs push the lifted factors to their clamps.
  std::string deep;
  for (int i = 0; i < 40; ++i) {
    deep += std::string(static_cast<size_t>(i), ' ') + "for (i = 0; i < n && j || k ? a : b; ++i) if (x) try { //\n";
  }
  for (int i = 0; i < 30; ++i) deep += "struct enum class x.y.z.w.v.u if else case ? ? {\n";
  deep += std::string(75, '}') + "\n" + std::string(300, 'a') + " " + std::string(100, '.') + "\n";
  // Lines alike but for their token count and length: a score cache that
  // confused two of them would give one the other's heat.
  for (size_t n = 1; n < 64; ++n) {
    std::string sum;
    for (size_t i = 0; i < n; ++i) sum += "a+";
    deep += "if (" + sum + "b) x;\n" + std::string(140, ' ') + "if (" + sum + "b) x;\n";
  }
  // Words through several blocks, a keyword at their head, at every alignment.
  for (size_t shift = 0; shift < 64; shift += 7) {
    deep += std::string(shift, ' ') + "if" + std::string(130 + shift, 'a') + " for" + std::string(200, '1') + "do\n";
  }

  AnalysisScratch scratch;  // shared across texts and languages on purpose: no stale cache
  const std::vector<const LanguageProfile*> profiles = profilesUnderTest();
  for (uint64_t seed = 0; seed <= 300; ++seed) {
    const std::string text = seed == 300 ? deep : soup(seed, 40 + seed % 400);
    const std::vector<std::string_view> lines = splitLines(text);
    const std::vector<std::string> expectedLines = reference::splitLines(text);
    ASSERT_EQ(lines, std::vector<std::string_view>(expectedLines.begin(), expectedLines.end()));
    ASSERT_EQ(countSplitLines(text), lines.size());
    for (size_t family = 0; family < profiles.size(); ++family) {
      const LanguageProfile& profile = *profiles[family];
      LexState fast, slow;
      for (std::string_view line : lines) {
        ASSERT_TRUE(reference::sameFacts(scanLine(line, fast, profile), reference::scanLine(line, slow, profile)))
            << "seed " << seed << " profile " << family << " line '" << line << "'";
        ASSERT_EQ(fast.inBlockComment, slow.inBlockComment);
        ASSERT_EQ(fast.stringKind, slow.stringKind);
      }
      if (canScanWhole(profile)) {
        for (ScanWidth width : {ScanWidth::kPlain, ScanWidth::kAvx2, ScanWidth::kAvx512}) {
          ASSERT_TRUE(scansLikeScanLine(text, profile, width))
              << "seed " << seed << " profile " << family << " width " << static_cast<int>(width);
        }
      }
      std::vector<double> heat, expected;
      double sum = -1, expectedSum = -2;
      analyzeText(text, profile, heat, sum, scratch);
      reference::analyzeText(text, profile, expected, expectedSum);
      ASSERT_EQ(heat, expected) << "seed " << seed << " profile " << family;
      ASSERT_EQ(sum, expectedSum);
    }
  }
}

}  // namespace
}  // namespace varnholt_app
