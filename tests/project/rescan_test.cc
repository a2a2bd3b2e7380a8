// Rescans that take over unchanged files give exactly what a fresh analysis gives.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

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
void expectFresh(const TempTree& tree, const ProjectAnalysis& rescan, const std::string& step) {
  const ProjectAnalysis fresh = analyze(tree);
  EXPECT_EQ(rescan.totalLines, fresh.totalLines) << step;
  ASSERT_EQ(rescan.model.files.size(), fresh.model.files.size()) << step;
  auto got = rescan.model.files.begin();
  for (const auto& [key, want] : fresh.model.files) {
    EXPECT_EQ(got->first, key) << step;
    EXPECT_EQ(got->second.language, want.language) << step << ' ' << key;
    EXPECT_EQ(got->second.lineHeatRaw, want.lineHeatRaw) << step << ' ' << key;
    ++got;
  }
}

void rewriteKeepingTime(const fs::path& path, const std::string& bytes) {
  const auto written = fs::last_write_time(path);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  fs::last_write_time(path, written);  // as `touch -d` does
}

const char kC[] = "int f(int x) {\n  if (x > 1) return x * 2;\n  return 0;\n}\n";
const char kC2[] = "int g(int y) {\n  while (y > 1) y = y / 2;\n  return 0;\n}\n";  // same size

TEST(Rescan, EqualsFreshAnalysisAfterEveryKindOfChange) {
  TempTree tree;
  for (const char* name : {"a.c", "dir/c.c", "dir/deep/d.c"}) tree.file(name, kC);
  tree.file("b.py", "def b(x):\n    return [y for y in x if y]\n");
  tree.file("README", "plain words\n");
  // As if each walk had run long after the writes: only the stamps decide.
  const auto settle = [](ProjectAnalysis& a) { a.model.scanStart = fileClockNow() + 3600 * fileClockGranularity(); };
  ProjectAnalysis previous = analyze(tree);
  settle(previous);

  ProjectAnalysis rescan = analyze(tree, &previous.model);
  expectFresh(tree, rescan, "unchanged");
  EXPECT_TRUE(rescan.sameAsPrevious);
  for (const auto& [key, file] : rescan.model.files) {
    EXPECT_EQ(file.lineHeatRaw.storage(), previous.model.files.at(key).lineHeatRaw.storage()) << key;
  }

  const std::pair<const char*, std::function<void()>> changes[] = {
      {"same size and write time", [&] { rewriteKeepingTime(tree.path("a.c"), kC2); }},
      {"replaced by rename", [&] { tree.file("c.tmp", kC2), fs::rename(tree.path("c.tmp"), tree.path("dir/c.c")); }},
      {"deleted and re-created", [&] { fs::remove(tree.path("dir/deep/d.c")), tree.file("dir/deep/d.c", kC2); }},
      {"folder renamed", [&] { fs::rename(tree.path("dir"), tree.path("dir2")); }},
      {"file turned into a folder", [&] { fs::remove(tree.path("b.py")), tree.file("b.py/e.c", kC); }},
      {"text turned binary", [&] { rewriteKeepingTime(tree.path("README"), std::string("plain\0words\n", 12)); }},
  };
  for (const auto& [step, change] : changes) {
    // Past the file system's clock tick, so the status-change time moves.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    change();
    rescan = analyze(tree, &previous.model);
    expectFresh(tree, rescan, step);
    EXPECT_FALSE(rescan.sameAsPrevious) << step;
    previous = std::move(rescan);
    settle(previous);
  }

  // A write in the tick of the last walk may leave the stamp as it was (made
  // here by hand); a file stamped that close to the walk is read again.
  TempTree racy;
  racy.file("a.c", kC);
  previous = analyze(racy);
  racy.file("a.c", kC2);
  previous.model.files.at(racy.key("a.c")).stamp = statPath(racy.path("a.c").native()).stamp;
  expectFresh(racy, analyze(racy, &previous.model), "same tick");
}

}  // namespace
}  // namespace varnholt_app
