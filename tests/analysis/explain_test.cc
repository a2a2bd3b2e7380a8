#include "analysis/explain.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "analysis/file_heat.h"
#include "base/file_io.h"

namespace varnholt_app {
namespace {

std::vector<int32_t> allLines(std::string_view text) {
  std::vector<int32_t> lines(countSplitLines(text));
  for (size_t i = 0; i < lines.size(); ++i) lines[i] = static_cast<int32_t>(i + 1);
  return lines;
}

const std::vector<std::string>& words(const LineExplanation& e, TermKind kind) {
  return e.terms[static_cast<size_t>(kind)].words;
}

TEST(Explain, SwiftWorkedExampleTermsAndFactors) {
  const char text[] =
      "import Foundation\n\nfunc check(_ items: [Int]) -> Int {\n    var total = 0\n"
      "    for item in items where item > 0 && item < 100 {\n"
      "        if item % 2 == 0 { total += item } else { total -= 1 }\n"
      "    }\n    return total\n}\n";
  const auto all = explainText(text, profileForLanguage(LanguageId::Swift), {1, 5, 42});
  ASSERT_EQ(all.size(), 2u);  // no line 42
  EXPECT_EQ(all[0].notScoredBecause, "preprocessor");
  const LineExplanation& e = all[1];
  EXPECT_NEAR(e.complexity, 1.9976, 1e-12);
  EXPECT_NEAR(e.heatBase, 331.5687, 5e-5);
  EXPECT_NEAR(e.intensity, 0.475, 1e-12);
  EXPECT_EQ(e.blockLines, 3);
  EXPECT_NEAR(e.blockFactor, 1.21040, 6e-6);  // published to 5 places
  EXPECT_NEAR(e.trendFactor, 1.00133, 6e-6);
  EXPECT_NEAR(e.depthFactor, 1.00903, 6e-6);
  EXPECT_NEAR(e.spread, 2.464, 1e-12);
  EXPECT_NEAR(e.spreadFactor, 1.04542, 6e-6);
  EXPECT_NEAR(e.heat, 376.4362, 5e-5);
  EXPECT_EQ(words(e, TermKind::Loop), std::vector<std::string>{"for"});
  EXPECT_EQ(words(e, TermKind::Branch), std::vector<std::string>{"where"});
  EXPECT_EQ(words(e, TermKind::BoolOps), std::vector<std::string>{"&&"});
  ASSERT_EQ(e.hotAfter.size(), 1u);
  EXPECT_EQ(e.hotAfter[0].line, 6);
  EXPECT_TRUE(e.hotBefore.empty());
  const auto reasons = heatReasons(e);
  ASSERT_FALSE(reasons.empty());
  EXPECT_EQ(reasons.front().text, "control-flow load 3.10 (for, where, &&), squared");
  EXPECT_EQ(shortReason(e), "1 loop keyword (for)");
}

TEST(Explain, WordsInCommentsAndStringsDoNotCount) {
  const auto e = explainText("if (a && b) { x = \"for || y\"; } // while ?\n",
                             profileForLanguage(LanguageId::C), {1});
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(words(e[0], TermKind::Branch), std::vector<std::string>{"if"});
  EXPECT_EQ(words(e[0], TermKind::BoolOps), std::vector<std::string>{"&&"});
  EXPECT_TRUE(words(e[0], TermKind::Loop).empty());
  EXPECT_EQ(e[0].facts.ternaries, 0);
}

// Python blocks come from indentation: brackets continue a statement, a
// ":" in a string or a one-line body opens nothing, tabs reach the next
// multiple of 8, comments and blank lines close nothing.
TEST(Explain, PythonBlocksFollowIndentation) {
  const char text[] =
      "import os\n"                         // 1
      "class Box:\n"                        // 2
      "    size = {\n"                      // 3
      "        'a': 1,\n"                   // 4
      "    }\n"                             // 5
      "    def grow(self, n,\n"             // 6
      "             m):\n"                  // 7
      "        def inner(k):\n"             // 8
      "            return k + 1\n"          // 9
      "# a comment at the margin\n"         // 10
      "\n"                                  // 11
      "        label = 'x:'\n"              // 12
      "        return inner(n) + {2: 3}[2]\n"  // 13
      "def tabbed(x):\n"                    // 14
      "\tif x:\n"                            // 15
      "\t\treturn 1\n"                       // 16
      "        return 2\n"                  // 17
      "if x: y = 1\n"                       // 18
      "    w = 2\n";                        // 19
  const auto lines = explainText(text, profileForLanguage(LanguageId::Python), allLines(text));
  std::vector<double> heat;
  double sum = 0;
  analyzeText(text, LanguageId::Python, heat, sum);
  ASSERT_EQ(lines.size(), heat.size());
  const int32_t depths[] = {0, 0, 1, 1, 1, 1, 1, 2, 3, 3, 3, 2, 2, 0, 1, 2, 1, 0, 0, 0};
  for (const LineExplanation& e : lines) {
    EXPECT_EQ(e.depth, depths[e.line - 1]) << "line " << e.line;
    EXPECT_EQ(e.heat, heat[static_cast<size_t>(e.line - 1)]) << "line " << e.line;
  }
  // Scored lines per block: the file, the class body, grow's body, inner's body.
  const std::pair<int32_t, int32_t> blockLines[] = {{2, 4}, {4, 4}, {13, 3}, {9, 1}, {16, 1}};
  for (const auto& [line, count] : blockLines) EXPECT_EQ(lines[static_cast<size_t>(line - 1)].blockLines, count) << line;
}

// Lines wholly inside a multi-line string are not scored, and every line
// that is not scored says why.
TEST(Explain, UnscoredLinesSayWhy) {
  using L = LanguageId;
  const char kDoc[] = "def f():\n    '''Doc.\n\n    if prose: x\n    '''\n";
  const struct {
    L language;
    const char* text;
    int32_t line;
    const char* reason;
  } cases[] = {
      {L::Python, kDoc, 2, "string"},  {L::Python, kDoc, 3, "inString"},
      {L::Python, kDoc, 4, "inString"}, {L::Python, kDoc, 5, "inString"},
      {L::Python, "    'one-line docstring'", 1, "string"},
      {L::JavaScript, "const html = `\n  <div class=\"a\">${x}\n</div>`", 2, "inString"},
      {L::Go, "q := `\nSELECT a FROM t WHERE b = 1 AND c\n`", 2, "inString"},
      {L::C, "x = 1;\n\n", 2, "blank"},
      {L::C, "  // if only", 1, "comment"},
      {L::C, "/*\n * for a while\n */", 2, "inComment"},
      {L::C, "#include <a.h>", 1, "preprocessor"},
      {L::Java, "import a.b;", 1, "preprocessor"},
      {L::C, "/* a */ if (x) y();", 1, "commentMarker"},
      {L::C, "  });", 1, "punctuation"},
  };
  for (const auto& c : cases) {
    const auto e = explainText(c.text, profileForLanguage(c.language), {c.line});
    ASSERT_EQ(e.size(), 1u) << c.text;
    EXPECT_FALSE(e[0].scored) << c.text;
    EXPECT_EQ(e[0].heat, 0.0);
    EXPECT_EQ(e[0].notScoredBecause, c.reason) << c.text << " line " << c.line;
    EXPECT_FALSE(e[0].notScoredText.empty());
  }
  // A C string left open on purpose (a line continuation) keeps its lines scored.
  const auto kept = explainText("s = \"abc\\\nstill string\n", profileForLanguage(L::C), {2});
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_TRUE(kept[0].scored);
}

// Recomposed heat is analyzeText's, bit for bit, on real code.
TEST(Explain, RecomposesThisRepositorysSources) {
  namespace fs = std::filesystem;
  size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(VARNHOLT_SOURCE_DIR) / "src")) {
    const std::string ext = entry.path().extension().string();
    if (ext != ".cc" && ext != ".h") continue;
    std::string text;
    ASSERT_TRUE(readWholeFile(entry.path().native(), text, 1 << 22));
    std::vector<double> heat;
    double sum = 0;
    analyzeText(text, LanguageId::Cpp, heat, sum);
    const auto lines = explainText(text, profileForLanguage(LanguageId::Cpp), allLines(text));
    ASSERT_EQ(lines.size(), heat.size()) << entry.path();
    for (const LineExplanation& e : lines) {
      ASSERT_EQ(e.heat, heat[static_cast<size_t>(e.line - 1)]) << entry.path() << ":" << e.line;
      ASSERT_EQ(recomposeHeat(e), e.heat);
    }
    ++files;
  }
  EXPECT_GT(files, 50u);
}

}  // namespace
}  // namespace varnholt_app
