// Trees that once made the walk run away or lose files, and files that
// change under the analysis.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "analysis/file_heat.h"
#include "base/file_io.h"
#include "project/count_lines.h"
#include "project/project_analysis.h"
#include "project/stable_reader.h"
#include "project/walk.h"
#include "temp_tree.h"

namespace varnholt_app {
namespace {

namespace fs = std::filesystem;
using testing::TempTree;

bool linkDirectory(const fs::path& target, const fs::path& link) {
  std::error_code error;
  fs::create_directory_symlink(target, link, error);
  return !error;
}

std::string level(int i) {
  std::string name = "l";
  name += std::to_string(i);
  return name;
}

const StableReadClock kNoPauses{[](uint32_t) {}, currentFileTime};

TEST(WalkLimits, EachDirectoryIsListedOnceHoweverManyLinksLeadToIt) {
  // Two links from every level to the next: 2^20 paths reach the last one.
  constexpr int kLevels = 20;
  TempTree tree;
  for (int i = 0; i <= kLevels; ++i) tree.dir(level(i));
  tree.file(level(kLevels) + "/deep.c", "int deep;\n");
  tree.file("l0/top.c", "int top;\n");
  for (int i = 0; i < kLevels; ++i) {
    const fs::path next = tree.path(level(i + 1));
    if (!linkDirectory(next, tree.path(level(i) + "/a")) ||
        !linkDirectory(next, tree.path(level(i) + "/b"))) {
      GTEST_SKIP() << "this system cannot make directory links here";
    }
  }
  for (int threads : {1, 2}) {
    const ProjectModel model = scanProject(tree.native(), threads);
    EXPECT_EQ(model.files.size(), 2u) << threads << " threads";
    EXPECT_EQ(model.files.count(tree.key("l0/top.c")), 1u);
  }
}

#ifdef __linux__
TEST(WalkLimits, KernelFileSystemsAreNotWalked) {
  TempTree tree;
  tree.file("a.c", "int a;\n");
  ASSERT_TRUE(linkDirectory("/proc", tree.path("p")));
  ASSERT_TRUE(linkDirectory("/sys", tree.path("s")));
  const ProjectModel model = scanProject(tree.native());
  ASSERT_EQ(model.files.size(), 1u);
  EXPECT_EQ(model.files.begin()->first, tree.key("a.c"));
  EXPECT_TRUE(scanProject("/proc/self").files.empty());
}

TEST(WalkLimits, ReadsStopPastTheLimitWhateverSizeTheFileReports) {
  // Reported as empty, yet full of text: like a file that grew after its
  // size was taken.
  std::string out;
  EXPECT_FALSE(readWholeFile("/proc/self/status", out, 16));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(readWholeFile("/proc/self/status", out, 1 << 20));
  EXPECT_NE(out.find("Pid:"), std::string::npos);
}
#endif

TEST(WalkLimits, FileThatGrewPastTheWindowIsNeitherAnalysedNorCountedNorShown) {
  TempTree tree;
  tree.file("a.c", "int a;\n");
  ProjectModel model = scanProject(tree.native());
  ASSERT_EQ(model.files.size(), 1u);
  fs::resize_file(tree.path("a.c"), uintmax_t{64} << 20);  // sparse: cheap on disk
  ProjectFile& file = model.files.begin()->second;
  analyzeFile(file);
  EXPECT_TRUE(file.lineHeatRaw.empty());
  EXPECT_EQ(file.heatRaw, 0.0);
  int64_t bytesRead = 0;
  EXPECT_EQ(countLines(file.path, bytesRead), 0);
  EXPECT_EQ(bytesRead, kFileWindowBytes + 1);
  std::string text;
  bool unstable = false;
  EXPECT_FALSE(readFileStable(file.path, text, unstable, kNoPauses));
  EXPECT_TRUE(text.empty());
}

TEST(WalkLimits, PathsBeyondTheSystemLimitAreWalkedAndRead) {
  // 20 levels of 250-byte names, a file on each: most paths are far longer
  // than PATH_MAX or MAX_PATH.
  constexpr int kLevels = 20;
  TempTree tree;
  const std::string name(250, 'd');
  std::error_code error;
#ifdef _WIN32
  fs::path dir = L"\\\\?\\" + tree.root().native();
#else
  // Made relative to the working directory, which has no such limit.
  const fs::path start = fs::current_path();
  fs::current_path(tree.root());
  fs::path dir = ".";
#endif
  for (int i = 0; i < kLevels && !error; ++i) {
    fs::create_directory(dir / name, error);
#ifdef _WIN32
    dir /= name;
#else
    if (!error) fs::current_path(name, error);
#endif
    std::ofstream(dir / "f.c", std::ios::binary) << "int f" << i << ";\n";
  }
#ifndef _WIN32
  fs::current_path(start);
#endif
  if (error) GTEST_SKIP() << "this system cannot make such a tree: " << error.message();
  std::string deepest = nativeToUtf8Lossy(tree.native());
  for (int i = 0; i < kLevels; ++i) (deepest += static_cast<char>(kNativeSeparator)) += name;
  deepest += static_cast<char>(kNativeSeparator);
  deepest += "f.c";

  const ProjectAnalysis analysis = analyzeProject(tree.native());
  EXPECT_EQ(analysis.model.files.size(), static_cast<size_t>(kLevels));
  EXPECT_EQ(analysis.totalLines, kLevels);
  for (const auto& [path, file] : analysis.model.files) EXPECT_GT(file.heatRaw, 0.0) << path;
  std::string text;
  bool unstable = false;
  EXPECT_EQ(analysis.model.files.count(deepest), 1u);
  EXPECT_TRUE(readFileStable(deepest, text, unstable, kNoPauses));
  EXPECT_EQ(text, "int f19;\n");
}

}  // namespace
}  // namespace varnholt_app
