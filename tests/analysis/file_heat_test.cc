#include "analysis/file_heat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "analysis/lexer.h"
#include "analysis/line_split.h"
#include "../project/temp_tree.h"

namespace varnholt_app {
namespace {

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

// The record of a line that the last analysis kept (those above the lift score).
const LineRecord& keptRecord(const AnalysisScratch& scratch, size_t line) {
  for (size_t k = 0; k < scratch.listed; ++k) {
    if (scratch.lifted[k] == line) return scratch.records[k];
  }
  ADD_FAILURE() << "line " << line + 1 << " has no record";
  static const LineRecord none;
  return none;
}

TEST(FileHeat, SwiftWorkedExample) {
  AnalysisScratch scratch;
  std::vector<double> heat;
  double sum = 0;
  analyzeText(kSwiftExample, LanguageId::Swift, heat, sum, scratch);
  const double expected[] = {0, 0, 83.7724, 10.3568, 376.4362, 264.1877, 0, 10.3568, 0, 0};
  ASSERT_EQ(heat.size(), 10u);
  for (size_t i = 0; i < heat.size(); ++i) EXPECT_NEAR(heat[i], expected[i], 5e-5) << "line " << i + 1;
  EXPECT_NEAR(sum, 745.1099, 5e-5);
  // Only the two lines with real keyword load keep a record.
  EXPECT_EQ(scratch.listed, 2u);
  EXPECT_EQ(keptRecord(scratch, 4).depth, 1);
  EXPECT_EQ(keptRecord(scratch, 5).depth, 2);
  EXPECT_NEAR(keptRecord(scratch, 4).spread, 2.464, 1e-12);
  EXPECT_NEAR(keptRecord(scratch, 4).keywordTrend, 0.248, 1e-12);

  // Not the C library's log and pow: Linux and Windows builds give these bits.
  const std::vector<double> bits = {0, 0, 0x1.4f16f90cea513p+6, 0x1.4b6aa6a3960bdp+3,
                                    0x1.786fabc4a78c6p+8, 0x1.08300d3319d4cp+8, 0,
                                    0x1.4b6aa6a3960bdp+3, 0, 0};
  EXPECT_EQ(heat, bits);
  EXPECT_EQ(sum, 0x1.748e10d29aab1p+9);
}

TEST(FileHeat, IndentedBracketLineIsNotScored) {
  std::vector<double> heat;
  double sum = 0;
  analyzeText("  ]);\nx = 1;\n", LanguageId::C, heat, sum);
  EXPECT_EQ(heat[0], 0.0);
  EXPECT_GT(heat[1], 0.0);
}

TEST(FileHeat, BlocksAndDepthCap) {
  AnalysisScratch scratch;
  std::vector<double> heat;
  double sum = 0;
  // Hot lines, so that each keeps its record.
  analyzeText("a ? b : c && d {\n  b ? c : d && e\n} else {\n  c ? d : e && f\n}\n}\n}\nd ? e : f && g\n",
              LanguageId::Swift, heat, sum, scratch);
  EXPECT_EQ(keptRecord(scratch, 1).block, keptRecord(scratch, 3).block);  // "} else {" keeps the block
  EXPECT_EQ(keptRecord(scratch, 7).depth, 0);  // extra closers stop at file level
  EXPECT_EQ(keptRecord(scratch, 7).block, keptRecord(scratch, 0).block);

  std::string deep;
  for (int i = 0; i < 10000; ++i) deep += "if x {\n";
  deep += "y ? a : b && c || d\n";
  for (int i = 0; i < 600; ++i) deep += "}\n";
  deep += "y ? a : b && c || d\n";
  for (int i = 0; i < 9400; ++i) deep += "}\n";
  deep += "z ? a : b && c || d\n";
  analyzeText(deep, LanguageId::C, heat, sum, scratch);
  EXPECT_EQ(keptRecord(scratch, 10000).depth, 512);
  EXPECT_EQ(keptRecord(scratch, 10601).depth, 0);  // 512 closers bring it back down
  EXPECT_GT(heat[10000], heat[20002]);             // the same line, but deeper
}

TEST(FileHeat, BadInputStaysInRange) {
  std::string longLine;
  for (int i = 0; i < 200000; ++i) longLine += "a.b && c ? { ";
  const std::string texts[] = {std::string(2 * 1024 * 1024, 'a'), longLine, std::string(100000, '\r'),
                               std::string(50000, '{') + "\n" + std::string(70000, '}') + "\nx ? y : z\n"};
  for (const std::string& text : texts) {
    std::vector<double> heat;
    double sum = -1, total = 0;
    analyzeText(text, LanguageId::C, heat, sum);
    ASSERT_EQ(heat.size(), splitLines(text).size());
    for (double h : heat) {
      ASSERT_TRUE(std::isfinite(h) && h >= 0 && h <= 1e9);
      total += h;
    }
    EXPECT_EQ(sum, total);
  }
}

TEST(FileHeat, AnalyzeFileReadsOrEmpties) {
  testing::TempTree tree;
  tree.file("check.swift", kSwiftExample);
  ProjectFile file;
  file.path = tree.key("check.swift");
  file.language = LanguageId::Swift;
  analyzeFile(file);
  EXPECT_EQ(file.lineHeatRaw.size(), 10u);
  EXPECT_EQ(file.heatRaw, 0x1.748e10d29aab1p+9);  // the worked example

  // Missing, empty or unusable paths leave no stale figures behind.
  for (const std::string& path : {file.path + ".missing", std::string(), file.path + '\0'}) {
    file.lineHeatRaw = {5.0};
    file.heatRaw = 5.0;
    file.path = path;
    analyzeFile(file);
    EXPECT_TRUE(file.lineHeatRaw.empty());
    EXPECT_EQ(file.heatRaw, 0.0);
  }
}

}  // namespace
}  // namespace varnholt_app
