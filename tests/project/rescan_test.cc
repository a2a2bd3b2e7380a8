// Rescans that take over unchanged files must still give exactly what a fresh
// analysis of the tree gives, whatever happened to the files in between.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "project/project_analysis.h"
#include "project/walk_platform.h"
#include "temp_tree.h"

namespace varnholt_app {
namespace {

using testing::TempTree;
namespace fs = std::filesystem;

ProjectAnalysis analyze(const TempTree& tree, const ProjectModel* previous = nullptr) {
  AnalyzeOptions options;
  options.threads = 2;
  options.previous = previous;
  return analyzeProject(tree.native(), options);
}

// Same records in the same iteration order (it names the project), same total.
void expectFresh(const TempTree& tree, const ProjectAnalysis& rescan, const char* step) {
  const ProjectAnalysis fresh = analyze(tree);
  EXPECT_EQ(rescan.totalLines, fresh.totalLines) << step;
  ASSERT_EQ(rescan.model.files.size(), fresh.model.files.size()) << step;
  auto got = rescan.model.files.begin();
  for (const auto& [key, want] : fresh.model.files) {
    EXPECT_EQ(got->first, key) << step;
    EXPECT_EQ(got->second.language, want.language) << step << ' ' << key;
    EXPECT_EQ(got->second.lineHeatRaw, want.lineHeatRaw) << step << ' ' << key;
    EXPECT_EQ(got->second.heatRaw, want.heatRaw) << step << ' ' << key;
    ++got;
  }
}

// Writes `bytes` over an existing file of the same size and puts its write
// time back, as `touch -d` would: only the status-change time tells.
void rewriteKeepingTime(const fs::path& path, const std::string& bytes) {
  const auto written = fs::last_write_time(path);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  fs::last_write_time(path, written);
}

const char kC[] = "int f(int x) {\n  if (x > 1) return x * 2;\n  return 0;\n}\n";
const char kC2[] = "int g(int y) {\n  while (y > 1) y = y / 2;\n  return 0;\n}\n";  // same size

TEST(Rescan, EqualsFreshAnalysisAfterEveryKindOfChange) {
  static_assert(sizeof kC == sizeof kC2);
  TempTree tree;
  tree.file("a.c", kC);
  tree.file("b.py", "def b(x):\n    return [y for y in x if y]\n");
  tree.file("README", "plain words\n");
  tree.file("dir/c.c", kC);
  tree.file("dir/deep/d.c", kC2);

  ProjectAnalysis previous = analyze(tree);
  // As if the walk had run long after the files were written: from here on
  // only the stamps decide.
  const auto settle = [](ProjectAnalysis& analysis) {
    analysis.model.scanStart = fileClockNow() + 3600 * fileClockGranularity();
  };
  settle(previous);
  // Past the file system's clock tick, so that every change below moves the
  // status-change time.
  const auto nextTick = [] { std::this_thread::sleep_for(std::chrono::milliseconds(30)); };

  ProjectAnalysis rescan = analyze(tree, &previous.model);
  expectFresh(tree, rescan, "unchanged");
  EXPECT_TRUE(rescan.sameAsPrevious);
  for (const auto& [key, file] : rescan.model.files) {
    EXPECT_EQ(file.lineHeatRaw.data(), previous.model.files.at(key).lineHeatRaw.data())
        << "not taken over: " << key;
  }

  const std::vector<std::pair<const char*, std::function<void()>>> changes = {
      {"same size and write time", [&] { rewriteKeepingTime(tree.path("a.c"), kC2); }},
      {"replaced by rename",
       [&] {
         tree.file("c.tmp", kC2);
         fs::rename(tree.path("c.tmp"), tree.path("dir/c.c"));
       }},
      {"deleted and re-created",
       [&] {
         fs::remove(tree.path("dir/deep/d.c"));
         tree.file("dir/deep/d.c", kC);
       }},
      {"folder renamed", [&] { fs::rename(tree.path("dir"), tree.path("dir2")); }},
      {"file turned into a folder",
       [&] {
         fs::remove(tree.path("b.py"));
         tree.file("b.py/e.c", kC);
       }},
      {"text file turned binary", [&] { rewriteKeepingTime(tree.path("README"), std::string("plain\0words\n", 12)); }},
  };
  for (const auto& [step, change] : changes) {
    nextTick();
    change();
    rescan = analyze(tree, &previous.model);
    expectFresh(tree, rescan, step);
    EXPECT_FALSE(rescan.sameAsPrevious) << step;
    previous = std::move(rescan);
    settle(previous);
  }
}

// A write in the same clock tick as the previous walk may leave every stamp
// as it was; files stamped that close to the walk are read again. The stale
// record is made by hand: the file's new stamp over its old results.
TEST(Rescan, ReadsAgainWhatChangedInTheTickOfTheLastWalk) {
  TempTree tree;
  tree.file("a.c", kC);
  ProjectAnalysis previous = analyze(tree);
  tree.file("a.c", kC2);
  previous.model.files.at(tree.key("a.c")).stamp = statPath(tree.path("a.c").native()).stamp;
  expectFresh(tree, analyze(tree, &previous.model), "same tick");
}

}  // namespace
}  // namespace varnholt_app
