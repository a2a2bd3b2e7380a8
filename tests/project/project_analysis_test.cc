#include "project/project_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "analysis/file_heat.h"
#include "project/count_lines.h"
#include "project/walk.h"
#include "temp_tree.h"

namespace varnholt_app {
namespace {

using testing::TempTree;

void writeSampleProject(const TempTree& tree) {
  tree.file("src/main.c",
            "#include <stdio.h>\n"
            "static int total;\n"
            "int main(int argc, char **argv) {\n"
            "  for (int i = 0; i < argc; i++) {\n"
            "    if (argv[i][0] == '-' && argv[i][1] != 0) { total += i; } else { total--; }\n"
            "  }\n"
            "  return total > 3 ? 1 : 0;\n"
            "}\n");
  tree.file("src/util.py",
            "def f(xs):\n    for x in xs:\n        if x and not x.y:\n            yield x\n");
  tree.file("lib/a.swift", "func a(_ v: Int) -> Int {\n  guard v > 0 else { return 0 }\n  return v\n}");
  tree.file("lib/b.go", "package b\n\nfunc B() {\n\tfor {\n\t\tbreak\n\t}\n}\n");
  tree.file("README", "plain text\r\nwith CR LF\r\n");
  tree.file("deep/er/x.ts", "export const x = (a: number) => a > 1 ? a : -a;\n");
}

TEST(AnalyzeProject, SameAsOneSequentialPassInKeyOrder) {
  TempTree tree;
  writeSampleProject(tree);

  // The definition: walk, analyse in byte-wise key order, count every file.
  ProjectModel expected = scanProject(tree.native(), 1);
  std::vector<std::string> keys;
  for (const auto& entry : expected.files) keys.push_back(entry.first);
  std::sort(keys.begin(), keys.end());
  int64_t expectedLines = 0;
  for (const std::string& key : keys) {
    analyzeFile(expected.files.at(key));
    expectedLines += countLines(key);
  }
  ASSERT_EQ(keys.size(), 6u);
  EXPECT_EQ(expectedLines, 8 + 4 + 4 + 7 + 2 + 1);

  for (int threads : {1, 2, 5}) {
    AnalyzeOptions options;
    options.threads = threads;
    const ProjectAnalysis analysis = analyzeProject(tree.native(), options);
    EXPECT_EQ(analysis.totalLines, expectedLines);
    ASSERT_EQ(analysis.model.files.size(), expected.files.size());
    for (const std::string& key : keys) {
      const ProjectFile& got = analysis.model.files.at(key);
      const ProjectFile& want = expected.files.at(key);
      EXPECT_EQ(got.language, want.language) << key;
      EXPECT_EQ(got.lineHeatRaw, want.lineHeatRaw) << key;  // bit for bit
      EXPECT_EQ(got.heatRaw, want.heatRaw) << key;
    }
  }
  EXPECT_GT(expected.files.at(tree.key("src/main.c")).heatRaw, 0.0);
}

TEST(AnalyzeProject, ProgressEndsWithEveryFileAndByte) {
  TempTree tree;
  writeSampleProject(tree);
  int64_t bytes = 0;
  for (const auto& entry : scanProject(tree.native()).files) {
    int64_t fileBytes = 0;
    countLines(entry.first, fileBytes);
    bytes += fileBytes;
  }
  for (int threads : {1, 3}) {
    std::vector<AnalysisProgress> reports;
    AnalyzeOptions options;
    options.threads = threads;
    options.progress = [&](const AnalysisProgress& p) { reports.push_back(p); };
    const ProjectAnalysis analysis = analyzeProject(tree.native(), options);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().filesTotal, analysis.model.files.size());
    EXPECT_EQ(reports.back().filesDone, analysis.model.files.size());
    EXPECT_EQ(reports.back().bytesDone, bytes);
    for (size_t i = 1; i < reports.size(); ++i) {
      EXPECT_LE(reports[i - 1].filesDone, reports[i].filesDone);
    }
  }
}

TEST(AnalyzeProject, EmptyAndMissingRoots) {
  TempTree tree;
  const ProjectAnalysis empty = analyzeProject(tree.native());
  EXPECT_TRUE(empty.model.files.empty());
  EXPECT_EQ(empty.totalLines, 0);
  const ProjectAnalysis missing = analyzeProject(tree.path("gone").native());
  EXPECT_TRUE(missing.model.files.empty());
  EXPECT_EQ(missing.totalLines, 0);
}

}  // namespace
}  // namespace varnholt_app
