#include "analysis/scoring.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "analysis/file_heat.h"

namespace varnholt_app {
namespace {

const LanguageProfile& swift() { return profileForLanguage(LanguageId::Swift); }

TEST(Scoring, WorkedExamples) {
  LexState state;
  const LineFacts f =
      scanLine("for item in items where item.isValid && !item.done {", state, swift());
  EXPECT_EQ(f.tokenCount, 9);
  const double x = lineComplexity(f, swift(), false);
  EXPECT_NEAR(x, 1.9976, 1e-12);
  EXPECT_NEAR(lineHeatFromComplexity(x, swift()), 331.5687, 5e-5);
  EXPECT_NEAR(lineHeatFromComplexity(0.05, swift()), 10.3568, 5e-5);  // "let a = b"
}

// The edges of each term, computed by hand.
TEST(Scoring, TermBoundaries) {
  const auto score = [](int32_t tokens, int32_t dots, int32_t length) {
    LineFacts f;
    f.tokenCount = tokens;
    f.dots = dots;
    f.lineLength = length;
    return lineComplexity(f, swift(), false);
  };
  EXPECT_DOUBLE_EQ(score(10, 3, 139), 0.05);
  EXPECT_NEAR(score(11, 0, 20), 0.01 + 0.05 + 0.0018, 1e-12);
  EXPECT_NEAR(score(60, 0, 20), 0.50 + 0.05 + 0.0018 * 1600, 1e-12);
  EXPECT_EQ(score(INT32_MAX, 0, 20), score(60, 0, 20));
  EXPECT_NEAR(score(3, 4, 20), 0.056, 1e-12);
  EXPECT_NEAR(score(3, 0, 140), 0.05 + 0.075, 1e-12);
  EXPECT_NEAR(score(3, 0, 239), 0.05 + 0.075, 1e-12);
  EXPECT_NEAR(score(3, 0, 240), 0.05 + 0.135, 1e-12);
  EXPECT_NEAR(score(3, 0, INT32_MAX), 0.05 + 0.135, 1e-12);

  LineFacts g;
  g.tokenCount = 2;
  g.exceptionKw = 2;
  g.typeKw = 1;
  EXPECT_NEAR(lineComplexity(g, swift(), false), 0.05 + 0.24 + 0.1 + 0.16 * 2.2 * 2.2, 1e-12);
  g.isBlank = true;
  EXPECT_EQ(lineComplexity(g, swift(), false), 0.0);
  EXPECT_EQ(lineHeatFromComplexity(-3, swift()), 0.0);
}

// A "?" that is not a ternary adds nothing to a line's heat; a ternary does.
TEST(Scoring, OnlyTernariesScoreAsTernaries) {
  const auto heatOf = [](const char* line, LanguageId language) {
    std::vector<double> heat;
    double sum = 0;
    analyzeText(line, language, heat, sum);
    return sum;
  };
  const struct {
    LanguageId language;
    const char* withQuestions;
    const char* without;
  } same[] = {
      {LanguageId::Kotlin, "val name: String? = user?.name ?: fallback", "val name: String = user.name + fallback"},
      {LanguageId::Java, "Map<? extends K, ?> m = load(k);", "Map<K, V> m = load(k);"},
      {LanguageId::TypeScript, "const n = a?.b ?? c;", "const n = a.b + c;"},
      {LanguageId::Rust, "let v = read(path)?;", "let v = read(path);"},
  };
  for (const auto& c : same) EXPECT_EQ(heatOf(c.withQuestions, c.language), heatOf(c.without, c.language)) << c.withQuestions;
  for (LanguageId language : {LanguageId::Kotlin, LanguageId::JavaScript, LanguageId::C}) {
    EXPECT_GT(heatOf("x = ok ? a : b;", language), heatOf("x = ok + a + b;", language));
  }
}

}  // namespace
}  // namespace varnholt_app
