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
  EXPECT_EQ(all[0].notScoredBecause, "trivial");
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
