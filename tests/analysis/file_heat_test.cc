#include "analysis/file_heat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "analysis/lexer.h"
#include "analysis/scoring.h"

namespace varnholt_app {
namespace {

struct Result {
  std::vector<double> heat;
  double sum = -1;
};

Result analyze(std::string_view text, LanguageId language) {
  Result r;
  analyzeText(text, language, r.heat, r.sum);
  return r;
}

const char kSwiftExample[] =
    "import Foundation\n"
    "\n"
    "func check(_ items: [Int]) -> Int {\n"
    "    var total = 0\n"
    "    for item in items where item > 0 && item < 100 {\n"
    "        if item % 2 == 0 { total += item } else { total -= 1 }\n"
    "    }\n"
    "    return total\n"
    "}\n";

TEST(FileHeat, SwiftWorkedExample) {
  AnalysisScratch scratch;
  std::vector<double> heat;
  double sum = 0;
  analyzeText(kSwiftExample, LanguageId::Swift, heat, sum, scratch);
  const double expected[] = {0, 0, 83.7724, 10.3568, 376.4362, 264.1877, 0, 10.3568, 0, 0};
  ASSERT_EQ(heat.size(), 10u);
  for (size_t i = 0; i < heat.size(); ++i) EXPECT_NEAR(heat[i], expected[i], 5e-5) << "line " << i + 1;
  EXPECT_NEAR(sum, 745.1099, 5e-5);

  const int depths[] = {0, 0, 0, 1, 1, 2, 2, 1, 1, 0};
  const double raw[] = {0, 0, 0, 0, 3.1, 2.3, 0, 0, 0, 0};
  for (size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(scratch.records[i].depth, depths[i]) << "line " << i + 1;
    EXPECT_NEAR(scratch.records[i].rawScore, raw[i], 1e-12) << "line " << i + 1;
  }
  // Lines 4, 5 and 8 share the function's block; line 6 is one deeper.
  EXPECT_EQ(scratch.records[3].block, scratch.records[4].block);
  EXPECT_EQ(scratch.records[3].block, scratch.records[7].block);
  EXPECT_NE(scratch.records[5].block, scratch.records[4].block);
  EXPECT_NEAR(scratch.records[4].spread, 2.464, 1e-12);
  EXPECT_NEAR(scratch.records[4].keywordTrend, 0.248, 1e-12);

  // The figures do not depend on the C library's log and pow: every build,
  // Linux or Windows, must give these exact bits.
  const std::vector<double> bits = {0, 0, 0x1.4f16f90cea513p+6, 0x1.4b6aa6a3960bdp+3,
                                    0x1.786fabc4a78c6p+8, 0x1.08300d3319d4cp+8, 0,
                                    0x1.4b6aa6a3960bdp+3, 0, 0};
  EXPECT_EQ(heat, bits);
  EXPECT_EQ(sum, 0x1.748e10d29aab1p+9);
}


TEST(FileHeat, OneEntryPerLine) {
  EXPECT_EQ(analyze("", LanguageId::C).heat.size(), 0u);
  EXPECT_EQ(analyze("", LanguageId::C).sum, 0.0);
  EXPECT_EQ(analyze("x = 1;", LanguageId::C).heat.size(), 1u);
  EXPECT_EQ(analyze("x = 1;\n", LanguageId::C).heat.size(), 2u);
  EXPECT_EQ(analyze("a\r\nb\r\n", LanguageId::C).heat, analyze("a\nb\n", LanguageId::C).heat);
  EXPECT_EQ(analyze("a = 1;\rb = 2;\r", LanguageId::C).heat.size(), 1u);  // CR-only file

  const Result quiet = analyze("// one\n\n/* two\n   three */\n  # four\n", LanguageId::C);
  EXPECT_EQ(quiet.heat, std::vector<double>(6, 0.0));
  EXPECT_EQ(quiet.sum, 0.0);
}

TEST(FileHeat, SkippedAndMinimumLines) {
  const Result r = analyze(
      "}\n  ]);\n} else {\n/* open\n  still open\n * star\n*/\n\"lit\n  more\n\"\n", LanguageId::Swift);
  ASSERT_EQ(r.heat.size(), 11u);
  EXPECT_EQ(r.heat[0], 0.0);
  EXPECT_EQ(r.heat[1], 0.0);
  EXPECT_GT(r.heat[2], 0.0);  // "else" is a token
  EXPECT_EQ(r.heat[3], 0.0);  // begins with "/*"
  // Inside an open comment or literal a line is scored with all counts 0.
  EXPECT_NEAR(r.heat[4], 10.3568, 5e-5);
  EXPECT_EQ(r.heat[5], 0.0);  // begins with "*"
  EXPECT_EQ(r.heat[6], 0.0);  // the comment closes with nothing after it
  EXPECT_EQ(r.heat[7], r.heat[4]);  // opens a literal: not blank, no counts
  EXPECT_EQ(r.heat[8], r.heat[4]);
  EXPECT_EQ(r.heat[9], 0.0);
}

TEST(FileHeat, BlocksAndDepth) {
  AnalysisScratch scratch;
  std::vector<double> heat;
  double sum = 0;
  analyzeText(
      "a {\n"
      "  b\n"
      "} else {\n"
      "  c\n"
      "}\n"
      "}\n"
      "}\n"
      "d\n"
      "e {\n"
      "  f\n",
      LanguageId::Swift, heat, sum, scratch);
  const auto& r = scratch.records;
  ASSERT_EQ(r.size(), 11u);
  // "} else {" leaves the stack as it was: b and c share a block.
  EXPECT_EQ(r[1].block, r[3].block);
  EXPECT_EQ(r[2].block, r[1].block);
  EXPECT_EQ(r[3].depth, 1);
  // Extra closers clamp the depth at 0 and leave lines at file level.
  EXPECT_EQ(r[7].depth, 0);
  EXPECT_EQ(r[7].block, r[0].block);
  EXPECT_NE(r[9].block, r[1].block);  // a fresh block after the old one closed
  EXPECT_EQ(r[9].depth, 1);

  std::string deep;
  for (int i = 0; i < 10000; ++i) deep += "if x {\n";
  deep += "y ? a : b && c || d\n";
  for (int i = 0; i < 10000; ++i) deep += "}\n";
  deep += "z ? a : b && c || d\n";
  analyzeText(deep, LanguageId::C, heat, sum, scratch);
  ASSERT_EQ(heat.size(), 20003u);
  EXPECT_EQ(scratch.records[600].depth, 512);
  EXPECT_EQ(scratch.records[10000].depth, 512);
  EXPECT_EQ(scratch.records[10600].depth, 0);  // 512 closers bring it back down
  EXPECT_EQ(scratch.records[20001].depth, 0);
  EXPECT_GT(heat[10000], heat[20001]);  // the same line, but deeper
  for (double h : heat) {
    EXPECT_TRUE(std::isfinite(h));
    EXPECT_LE(h, 1e9);
  }
}

TEST(FileHeat, CFamilyDeclarations) {
  const LanguageProfile& c = profileForLanguage(LanguageId::C);
  auto baseFor = [&](std::string_view line, bool declaration) {
    LexState state;
    return lineHeatFromComplexity(lineComplexity(scanLine(line, state, c), c, declaration), c);
  };
  const struct {
    const char* line;
    bool declaration;
  } cases[] = {
      {"int main(int argc, char **argv) {", true},
      {"static int counter = 0;", true},
      {"x = \"static\";", true},                 // the raw line counts, strings included
      {"int f(void) { /* if */", false},         // so do comments
      {"if (x) {", false},
      {"int a = b(c); {", true},
      {"int a = b(c);", false},
      {"int a) = b {", false},                   // a closing parenthesis is not enough
      {"int x2if(int y) { return 2if; }", true},  // "2if" is no branch word here
      {"Inline int g(void)", true},
  };
  for (const auto& t : cases) {
    const Result r = analyze(t.line, LanguageId::C);
    ASSERT_EQ(r.heat.size(), 1u);
    EXPECT_EQ(r.heat[0], baseFor(t.line, t.declaration)) << t.line;
    EXPECT_NE(r.heat[0], baseFor(t.line, !t.declaration)) << t.line;
  }
  // Families with function keywords never take the test.
  const LanguageProfile& js = profileForLanguage(LanguageId::JavaScript);
  LexState state;
  const char* line = "static main(a) {";
  EXPECT_EQ(analyze(line, LanguageId::JavaScript).heat[0],
            lineHeatFromComplexity(lineComplexity(scanLine(line, state, js), js, false), js));
}

TEST(FileHeat, BadInputStaysInRange) {
  std::vector<std::string> texts;
  texts.push_back(std::string(2 * 1024 * 1024, 'a'));
  std::string longLine;
  for (int i = 0; i < 200000; ++i) longLine += "a.b && c ? { ";
  texts.push_back(longLine);
  texts.push_back(std::string("int\0x = 1;\n\xff\xfe\x80 if {\n\0\0\0", 24));
  texts.push_back("\"never closed\n/* nor this\nif for while\n");
  texts.push_back(std::string(100000, '\n'));
  texts.push_back(std::string(100000, '\r'));
  texts.push_back(std::string(50000, '{') + "\n" + std::string(70000, '}') + "\nx ? y : z\n");
  for (const std::string& text : texts) {
    for (LanguageId language : {LanguageId::C, LanguageId::Python, LanguageId::JavaScript}) {
      const Result r = analyze(text, language);
      ASSERT_EQ(r.heat.size(), splitLines(text).size());
      double sum = 0;
      for (double h : r.heat) {
        ASSERT_TRUE(std::isfinite(h));
        ASSERT_GE(h, 0.0);
        ASSERT_LE(h, 1e9);
        sum += h;
      }
      EXPECT_EQ(r.sum, sum);
    }
  }
}

TEST(FileHeat, SameResultOnEveryThread) {
  const std::string text = std::string(kSwiftExample) + "x ? y : z && if\nwhile a || b { c.d.e.f }\n";
  const Result here = analyze(text, LanguageId::Shell);
  Result there[2];
  std::thread a([&] { there[0] = analyze(text, LanguageId::Shell); });
  std::thread b([&] { there[1] = analyze(text, LanguageId::Shell); });
  a.join();
  b.join();
  for (const Result& r : there) {
    EXPECT_EQ(r.heat, here.heat);
    EXPECT_EQ(r.sum, here.sum);
  }
}

class AnalyzeFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("varnholt_heat_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string write(const std::string& name, const std::string& content) {
    const auto path = dir_ / std::filesystem::u8path(name);
    std::ofstream(path, std::ios::binary) << content;
    return reinterpret_cast<const char*>(path.u8string().c_str());
  }
  std::filesystem::path dir_;
};

TEST_F(AnalyzeFileTest, ReadsAndRecomputes) {
  ProjectFile file;
  file.path = write("check.swift", kSwiftExample);
  file.language = LanguageId::Swift;
  file.lineHeatRaw = {1, 2, 3};
  file.heatRaw = 99;
  analyzeFile(file);
  const Result direct = analyze(kSwiftExample, LanguageId::Swift);
  EXPECT_EQ(file.lineHeatRaw, direct.heat);
  EXPECT_EQ(file.heatRaw, direct.sum);
  EXPECT_EQ(file.lineHeatRaw.capacity(), file.lineHeatRaw.size());

  const std::vector<double> first = file.lineHeatRaw;
  analyzeFile(file);
  EXPECT_EQ(file.lineHeatRaw, first);

  // A BOM is just three non-ASCII bytes: the import line is no longer trivial.
  file.path = write("bom \xC3\xA9.swift", "\xEF\xBB\xBFimport Foundation\n");
  analyzeFile(file);
  ASSERT_EQ(file.lineHeatRaw.size(), 2u);
  EXPECT_GT(file.lineHeatRaw[0], 0.0);

  file.path = write("empty.swift", "");
  analyzeFile(file);
  EXPECT_TRUE(file.lineHeatRaw.empty());
  EXPECT_EQ(file.heatRaw, 0.0);
}

TEST_F(AnalyzeFileTest, UnreadableFileIsEmpty) {
  ProjectFile file;
  file.path = write("real.c", "int main(void) { return 0; }\n");
  analyzeFile(file);
  ASSERT_FALSE(file.lineHeatRaw.empty());
  const std::string real = file.path;

  for (const std::string& path : {real + ".missing", std::string(), real + std::string(1, '\0')}) {
    file.lineHeatRaw = {5.0};
    file.heatRaw = 5.0;
    file.path = path;
    analyzeFile(file);
    EXPECT_TRUE(file.lineHeatRaw.empty());
    EXPECT_EQ(file.heatRaw, 0.0);
  }
  std::string text = "stale";
  EXPECT_FALSE(readFileText(real + ".missing", text));
  EXPECT_TRUE(text.empty());
}

}  // namespace
}  // namespace varnholt_app
