// Rescans that take over unchanged files give exactly what a fresh analysis gives.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include "project/project_analysis.h"
#include "project/walk_platform.h"
#include "temp_tree.h"

namespace varnholt_app {
namespace {

using testing::TempTree;
namespace fs = std::filesystem;

ProjectAnalysis analyze(const TempTree& tree, const ProjectModel* previous = nullptr,
                        const std::vector<NativeString>* changed = nullptr) {
  AnalyzeOptions options;
  options.threads = 2;
  options.previous = previous;
  options.changedPaths = changed;
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

// In the unit of the walk's stamps (the library keeps whole seconds on Windows).
void setWriteTime(const fs::path& path, int64_t time) {
#ifdef _WIN32
  HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  const FILETIME t{static_cast<DWORD>(time), static_cast<DWORD>(static_cast<uint64_t>(time) >> 32)};
  EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &t) && CloseHandle(h));
#else
  const struct timespec times[2] = {{0, UTIME_OMIT}, {time / 1000000000, time % 1000000000}};
  EXPECT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
#endif
}

int64_t writeTime(const fs::path& path) { return statPath(path.native()).stamp.modified; }

void rewriteKeepingTime(const fs::path& path, const std::string& bytes) {
  const int64_t written = writeTime(path);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  setWriteTime(path, written);  // as `touch -d` does
}

// Same size and write time as `old`, but another file.
void replaceByRename(const TempTree& tree, const std::string& old, const std::string& bytes) {
  tree.file("new.tmp", bytes);
  setWriteTime(tree.path("new.tmp"), writeTime(tree.path(old)));
  fs::rename(tree.path("new.tmp"), tree.path(old));
}

// A guided rescan names every key whose record it may have changed.
void expectChangesNamed(const ProjectModel& before, const ProjectAnalysis& rescan, const std::string& step) {
  const auto& named = rescan.changedKeys;
  const auto isNamed = [&](const std::string& key) {
    return std::find(named.begin(), named.end(), key) != named.end();
  };
  for (const auto& [key, file] : rescan.model.files) {
    const auto old = before.files.find(key);
    const bool same = old != before.files.end() && old->second.stamp == file.stamp &&
                      old->second.lineCount == file.lineCount && old->second.heatRaw == file.heatRaw;
    EXPECT_TRUE(same || isNamed(key)) << step << ' ' << key;
  }
  for (const auto& [key, file] : before.files) {
    EXPECT_TRUE(rescan.model.files.count(key) != 0 || isNamed(key)) << step << ' ' << key;
  }
}

const char kC[] = "int f(int x) {\n  if (x > 1) return x * 2;\n  return 0;\n}\n";
const char kC2[] = "int g(int y) {\n  while (y > 1) y = y / 2;\n  return 0;\n}\n";  // same size

TEST(Rescan, EqualsFreshAnalysisAfterEveryKindOfChange) {
  TempTree tree;
  for (const char* name : {"a.c", "dir/c.c", "dir/deep/d.c"}) tree.file(name, kC);
  tree.file("b.py", "def b(x):\n    return [y for y in x if y]\n");
  tree.file("README", "plain words\n");
  // More than one batch of the system's listing.
  const std::string name = "many/a_name_long_enough_to_take_up_room_in_the_listing_";
  for (int i = 0; i < 700; ++i) tree.file(name + std::to_string(i), "plain words\n");
  // As if each walk had run long after the writes: only the stamps decide.
  const auto settle = [](ProjectAnalysis& a) { a.model.scanStart = fileClockNow() + 3600 * fileClockGranularity(); };
  ProjectAnalysis previous = analyze(tree);
  settle(previous);
  EXPECT_EQ(previous.model.files.size(), 705u);
  EXPECT_EQ(previous.model.textByContent.size(), 701u) << "text by its bytes: the next walk skips the test";

  ProjectAnalysis rescan = analyze(tree, &previous.model);
  expectFresh(tree, rescan, "unchanged");
  EXPECT_TRUE(rescan.sameAsPrevious);
  for (const auto& [key, file] : rescan.model.files) {
    EXPECT_EQ(file.lineHeatRaw.storage(), previous.model.files.at(key).lineHeatRaw.storage()) << key;
  }

  const std::pair<const char*, std::function<void()>> changes[] = {
      {"same size and write time", [&] { rewriteKeepingTime(tree.path("a.c"), kC2); }},
      {"replaced by rename", [&] { replaceByRename(tree, "dir/c.c", kC2); }},
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
  // Read again, or saved again without a change: nothing for the page.
  rescan = analyze(racy, &previous.model);
  EXPECT_TRUE(rescan.sameAsPrevious) << "read again";
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  racy.file("a.c", kC);
  rescan = analyze(racy, &rescan.model);
  EXPECT_TRUE(rescan.sameAsPrevious) << "saved again";
  previous = std::move(rescan);
  racy.file("a.c", kC2);
  previous.model.files.at(racy.key("a.c")).stamp = statPath(racy.path("a.c").native()).stamp;
  rescan = analyze(racy, &previous.model);
  expectFresh(racy, rescan, "same tick");
  EXPECT_FALSE(rescan.sameAsPrevious);
}

// Told which paths changed, a rescan looks at those alone, unless only a
// walk can settle them, and still equals a fresh analysis.
TEST(Rescan, GuidedByChangedPathsEqualsFreshAnalysis) {
  TempTree tree;
  TempTree away;
  for (const char* name : {"a.c", "dir/c.c", "dir/deep/d.c", "dir/deep/e.c"}) tree.file(name, kC);
  tree.file("README", "plain words\n");
  away.file("x.c", kC2);
  const auto settle = [](ProjectAnalysis& a) { a.model.scanStart = fileClockNow() + 3600 * fileClockGranularity(); };
  ProjectAnalysis previous = analyze(tree);
  settle(previous);
  struct Step {
    const char* name;
    std::function<void()> change;
    std::vector<std::string> paths;  // below the tree; "/" leads out of it
    bool guided;
  };
  const Step steps[] = {
      {"edited", [&] { rewriteKeepingTime(tree.path("dir/c.c"), kC2); }, {"dir/c.c"}, true},
      {"created", [&] { tree.file("dir/new.c", kC); }, {"dir/new.c"}, true},
      {"deleted", [&] { fs::remove(tree.path("a.c")); }, {"a.c"}, true},
      {"renamed", [&] { fs::rename(tree.path("dir/new.c"), tree.path("new.py")); }, {"dir/new.c", "new.py"}, true},
      {"moved in", [&] { fs::rename(away.path("x.c"), tree.path("dir/x.c")); }, {"dir/x.c"}, true},
      {"moved out", [&] { fs::rename(tree.path("dir/x.c"), away.path("x.c")); }, {"dir/x.c"}, true},
      {"folder moved out", [&] { fs::rename(tree.path("dir/deep"), away.path("deep")); }, {"dir/deep"}, true},
      {"ignored names", [&] { tree.file(".h.c", kC), tree.file("node_modules/m.js", "x\n"); },
       {".h.c", "node_modules", "node_modules/m.js"}, true},
      {"text turned binary", [&] { rewriteKeepingTime(tree.path("README"), std::string("plain\0words\n", 12)); }, {"README"}, true},
      {"folder moved in", [&] { fs::rename(away.path("deep"), tree.path("deep")); }, {"deep"}, false},
      {"folder renamed", [&] { fs::rename(tree.path("dir"), tree.path("dir2")); }, {"dir", "dir2"}, false},
      {"a path out of the tree", [&] { tree.file("b.c", kC); }, {"b.c", "/"}, false},
  };
  for (const Step& step : steps) {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    step.change();
    std::vector<NativeString> paths;
    for (const std::string& path : step.paths) {
      paths.push_back(path == "/" ? away.native() : tree.path(path).native());
    }
    ProjectAnalysis rescan = analyze(tree, &previous.model, &paths);
    EXPECT_EQ(rescan.guided, step.guided) << step.name;
    expectFresh(tree, rescan, step.name);
    if (rescan.guided) expectChangesNamed(previous.model, rescan, step.name);
    EXPECT_EQ(rescan.sameAsPrevious, step.paths[0] == ".h.c") << step.name;
    previous = std::move(rescan);
    settle(previous);
  }
  // What the paths leave out stays as it was: no walk saw it.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  tree.file("unnamed.c", kC);
  const std::vector<NativeString> none;
  EXPECT_EQ(analyze(tree, &previous.model, &none).model.files.count(tree.key("unnamed.c")), 0u);
}

}  // namespace
}  // namespace varnholt_app
