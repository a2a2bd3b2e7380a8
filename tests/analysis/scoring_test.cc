#include "analysis/scoring.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace varnholt_app {
namespace {

const LanguageProfile& swift() { return profileForLanguage(LanguageId::Swift); }
const LanguageProfile& cFamily() { return profileForLanguage(LanguageId::C); }

LineFacts facts(int32_t tokens) {
  LineFacts f;
  f.tokenCount = tokens;
  f.lineLength = 20;
  return f;
}

TEST(Scoring, WorkedExamples) {
  LexState state;
  const LineFacts f =
      scanLine("for item in items where item.isValid && !item.done {", state, swift());
  EXPECT_EQ(f.tokenCount, 9);
  EXPECT_EQ(f.lineLength, 52);
  const double x = lineComplexity(f, swift(), false);
  EXPECT_NEAR(x, 1.9976, 1e-12);
  EXPECT_NEAR(lineHeatFromComplexity(x, swift()), 331.5687, 5e-5);

  const LineFacts plain = scanLine("let a = b", state, swift());
  EXPECT_DOUBLE_EQ(lineComplexity(plain, swift(), false), 0.05);
  EXPECT_NEAR(lineHeatFromComplexity(0.05, swift()), 10.3568, 5e-5);
}

TEST(Scoring, ReferenceValuePerFamily) {
  // At x = ref / 1.55 the curve gives 95 * ln(2)^1.45 exactly.
  const double atOne = 95 * std::pow(std::log(2.0), 1.45);
  const struct {
    LanguageId language;
    double ref;
  } cases[] = {{LanguageId::Swift, 0.32},  {LanguageId::JavaScript, 0.32},
               {LanguageId::Go, 0.32},     {LanguageId::Rust, 0.32},
               {LanguageId::Java, 0.32},   {LanguageId::C, 0.2974},
               {LanguageId::Python, 0.32}, {LanguageId::Shell, 0.34}};
  for (const auto& c : cases) {
    const LanguageProfile& p = profileForLanguage(c.language);
    EXPECT_NEAR(p.compiled.heatRef, c.ref, 1e-12) << static_cast<int>(c.language);
    EXPECT_NEAR(lineHeatFromComplexity(c.ref / 1.55, p), atOne, 1e-9);
  }
}

TEST(Scoring, TokenTermsCap) {
  EXPECT_DOUBLE_EQ(lineComplexity(facts(10), swift(), false), 0.05);
  EXPECT_NEAR(lineComplexity(facts(11), swift(), false), 0.01 + 0.05 + 0.0018, 1e-12);
  EXPECT_NEAR(lineComplexity(facts(50), swift(), false), 0.40 + 0.05 + 0.0018 * 1600, 1e-12);
  EXPECT_NEAR(lineComplexity(facts(60), swift(), false), 0.50 + 0.05 + 0.0018 * 1600, 1e-12);
  EXPECT_EQ(lineComplexity(facts(61), swift(), false), lineComplexity(facts(60), swift(), false));
  EXPECT_EQ(lineComplexity(facts(INT32_MAX), swift(), false),
            lineComplexity(facts(60), swift(), false));
  EXPECT_NEAR(lineComplexity(facts(11), cFamily(), false), 0.009 + 0.05 + 0.0018, 1e-12);
}

TEST(Scoring, DotsLengthAndDeclaration) {
  LineFacts f = facts(3);
  f.dots = 3;
  EXPECT_DOUBLE_EQ(lineComplexity(f, swift(), false), 0.05);
  f.dots = 4;
  EXPECT_NEAR(lineComplexity(f, swift(), false), 0.056, 1e-12);

  const struct {
    int32_t length;
    double added;
  } lengths[] = {{139, 0}, {140, 0.075}, {239, 0.075}, {240, 0.135}, {INT32_MAX, 0.135}};
  for (const auto& c : lengths) {
    LineFacts g = facts(3);
    g.lineLength = c.length;
    EXPECT_NEAR(lineComplexity(g, swift(), false), 0.05 + c.added, 1e-12) << c.length;
  }

  EXPECT_NEAR(lineComplexity(facts(3), cFamily(), true), 0.18, 1e-12);
  LineFacts fn = facts(3);
  fn.functionKw = 1;
  EXPECT_NEAR(lineComplexity(fn, swift(), true), 0.05 + 0.26 + 0.13, 1e-12);
}

TEST(Scoring, KeywordLoadIsSquared) {
  LineFacts f = facts(2);
  f.ternaries = 1;
  EXPECT_NEAR(lineComplexity(f, swift(), false), 0.05 + 0.07 + 0.16 * 1.55 * 1.55, 1e-12);
  LineFacts g = facts(2);
  g.exceptionKw = 2;
  g.typeKw = 1;
  EXPECT_NEAR(lineComplexity(g, swift(), false), 0.05 + 0.24 + 0.1 + 0.16 * 2.2 * 2.2, 1e-12);
  LineFacts blank = g;
  blank.isBlank = true;
  EXPECT_EQ(lineComplexity(blank, swift(), false), 0.0);
}

TEST(Scoring, BaseHeatCurve) {
  EXPECT_EQ(lineHeatFromComplexity(0, swift()), 0.0);
  EXPECT_EQ(lineHeatFromComplexity(-3, swift()), 0.0);
  double previous = 0;
  for (double x = 1e-6; x < 1e6; x *= 1.7) {
    const double h = lineHeatFromComplexity(x, swift());
    EXPECT_GT(h, previous) << x;
    previous = h;
  }
  // An unprepared copy finds the same reference value.
  LanguageProfile raw;
  raw.wTokens = 0.012;
  EXPECT_EQ(lineHeatFromComplexity(0.7, raw),
            lineHeatFromComplexity(0.7, profileForLanguage(LanguageId::Shell)));
}

}  // namespace
}  // namespace varnholt_app
