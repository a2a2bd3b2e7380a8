#include "project/project_analysis.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/file_heat.h"
#include "project/count_lines.h"
#include "project/walk.h"
#include "temp_tree.h"

namespace varnholt_app {
namespace {

using testing::TempTree;

// Walk, analyse and count one file after another: the parallel run must give
// the same, bit for bit, and report progress up to every file and byte.
TEST(AnalyzeProject, SameAsOneSequentialPass) {
  TempTree tree;
  tree.file("src/main.c",
            "int main(int argc, char **argv) {\n"
            "  for (int i = 0; i < argc; i++) {\n"
            "    if (argv[i][0] == '-' && argv[i][1] != 0) { total += i; } else { total--; }\n"
            "  }\n}\n");
  tree.file("src/util.py", "def f(xs):\n    for x in xs:\n        if x and not x.y:\n            yield x\n");
  tree.file("lib/a.swift", "func a(_ v: Int) -> Int {\n  guard v > 0 else { return 0 }\n}");
  tree.file("README", "plain text\r\nwith CR LF\r\n");
  tree.file("deep/er/x.ts", "export const x = (a: number) => a > 1 ? a : -a;\n");

  ProjectModel expected = scanProject(tree.native(), 1);
  int64_t lines = 0, bytes = 0;
  for (auto& [key, file] : expected.files) {
    analyzeFile(file);
    int64_t size = 0;
    lines += countLines(key, size);
    bytes += size;
  }
  ASSERT_EQ(expected.files.size(), 5u);
  for (int threads : {1, 2, 5}) {
    std::vector<AnalysisProgress> reports;
    AnalyzeOptions options;
    options.threads = threads;
    options.progress = [&](const AnalysisProgress& p) { reports.push_back(p); };
    const ProjectAnalysis analysis = analyzeProject(tree.native(), options);
    EXPECT_EQ(analysis.totalLines, lines);
    ASSERT_EQ(analysis.model.files.size(), expected.files.size());
    for (const auto& [key, want] : expected.files) {
      const ProjectFile& got = analysis.model.files.at(key);
      EXPECT_EQ(got.language, want.language) << key;
      EXPECT_EQ(got.lineHeatRaw, want.lineHeatRaw) << key;
      EXPECT_EQ(got.heatRaw, want.heatRaw) << key;
    }
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().filesDone, expected.files.size());
    EXPECT_EQ(reports.back().bytesDone, bytes);
    for (size_t i = 1; i < reports.size(); ++i) EXPECT_LE(reports[i - 1].filesDone, reports[i].filesDone);
  }

  AnalyzeOptions throwing;
  throwing.threads = 2;
  throwing.progress = [](const AnalysisProgress&) { throw std::runtime_error("stop"); };
  EXPECT_THROW(analyzeProject(tree.native(), throwing), std::runtime_error);
  EXPECT_EQ(analyzeProject(tree.path("gone").native()).totalLines, 0);
}

// The walk analyses files under the path it lists them by; a folder that
// links also lead to is keyed by its own path all the same (a test folder
// here), counted once, and a rescan finds it unchanged.
TEST(AnalyzeProject, FolderReachedThroughLinksCountsUnderItsOwnPath) {
  TempTree tree;
  tree.file("tests/x.c", "int f(int a) {\n  return a ? a : -a;\n}\n");
  for (const char* link : {"src", "lib", "app", "alias"}) {
    std::error_code error;
    std::filesystem::create_directory_symlink(tree.path("tests"), tree.path(link), error);
    if (error) GTEST_SKIP() << "this system cannot make directory links here";
  }
  for (int threads : {1, 2}) {
    AnalyzeOptions options;
    options.threads = threads;
    const ProjectAnalysis first = analyzeProject(tree.native(), options);
    ASSERT_EQ(first.model.files.size(), 1u);
    EXPECT_TRUE(first.model.files.at(tree.key("tests/x.c")).testOrGenerated);
    EXPECT_EQ(first.totalLines, 3);
    options.previous = &first.model;
    const ProjectAnalysis again = analyzeProject(tree.native(), options);
    EXPECT_TRUE(again.sameAsPrevious);
    EXPECT_EQ(again.totalLines, 3);
  }
}

TEST(CountLines, LineFeedsPlusAnUnterminatedLastLine) {
  TempTree tree;
  const std::pair<std::string, int32_t> cases[] = {
      {"", 0}, {"a", 1}, {"\n", 1}, {"a\n\n", 2}, {"a\rb\r", 1}, {"a\r\nb\r\n", 2},
      {std::string(65536, '\n') + "x", 65537},  // across read blocks
      {std::string(65535, 'x') + "\n" + std::string(3, 'y'), 2}};
  for (const auto& [bytes, lines] : cases) {
    tree.file("f", bytes);
    int64_t size = -1;
    EXPECT_EQ(countLines(tree.key("f"), size), lines) << bytes.substr(0, 10);
    EXPECT_EQ(countLinesIn(bytes), lines) << bytes.substr(0, 10);
    EXPECT_EQ(size, static_cast<int64_t>(bytes.size()));
  }
  EXPECT_EQ(countLines(tree.key("")), 0);  // a folder
  EXPECT_EQ(countLines(tree.key("missing")), 0);
}

}  // namespace
}  // namespace varnholt_app
