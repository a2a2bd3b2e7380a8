// Trees that once made the walk run away or lose files, and files that grow
// under the analysis.

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

const StableReadClock kNoPauses{[](uint32_t) {}, currentFileTime};

std::string level(int i) {
  std::string name = "l";
  name += std::to_string(i);
  return name;
}

TEST(WalkLimits, EachDirectoryIsListedOnceAndKernelFileSystemsNotAtAll) {
  // Two links from every level to the next: 2^20 paths reach the last one.
  constexpr int kLevels = 20;
  TempTree tree;
  for (int i = 0; i <= kLevels; ++i) tree.dir(level(i));
  tree.file(level(kLevels) + "/deep.c", "int deep;\n");
  std::error_code error;
  for (int i = 0; i < kLevels && !error; ++i) {
    fs::create_directory_symlink(tree.path(level(i + 1)), tree.path(level(i) + "/a"), error);
    if (!error) {
      fs::create_directory_symlink(tree.path(level(i + 1)), tree.path(level(i) + "/b"), error);
    }
  }
  if (error) GTEST_SKIP() << "this system cannot make directory links here";
#ifdef __linux__
  fs::create_directory_symlink("/proc", tree.path("p"));
  fs::create_directory_symlink("/sys", tree.path("s"));
  EXPECT_TRUE(scanProject("/proc/self").files.empty());
#endif
  for (int threads : {1, 2}) {
    const ProjectModel model = scanProject(tree.native(), threads);
    ASSERT_EQ(model.files.size(), 1u) << threads << " threads";
    EXPECT_EQ(model.files.begin()->first, tree.key(level(kLevels) + "/deep.c"));
  }
}

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
#ifdef __linux__
  // Sized as empty yet full of text, like a file that grew after its size
  // was taken: the read still stops one byte past the limit.
  EXPECT_FALSE(readWholeFile("/proc/self/status", text, 16));
  EXPECT_TRUE(readWholeFile("/proc/self/status", text, 1 << 20));
  EXPECT_NE(text.find("Pid:"), std::string::npos);
#endif
}

// The size a walk saw only saves asking the file for it: a stale one still
// gives the file's bytes, and a file past the limit still fails.
TEST(WalkLimits, ASizeHintNeverChangesWhatIsRead) {
  TempTree tree;
  const std::string bytes(5000, 'x');
  tree.file("a.c", bytes);
  const NativeString path = tree.path("a.c").native();
  for (const int64_t hint : {-1, 0, 1, 4999, 5000, 5001, 100000}) {
    std::string text;
    EXPECT_TRUE(readWholeFile(path, text, 1 << 20, hint)) << hint;
    EXPECT_EQ(text, bytes) << hint;
    EXPECT_FALSE(readWholeFile(path, text, 4096, hint)) << hint;
    EXPECT_TRUE(text.empty()) << hint;
  }
}

#ifndef _WIN32
TEST(WalkLimits, PathsBeyondTheSystemLimitAreWalkedAndRead) {
  // 20 levels of 250-byte names, a file on each, made relative to the
  // working directory: most paths are far longer than PATH_MAX.
  constexpr int kLevels = 20;
  TempTree tree;
  const fs::path start = fs::current_path();
  const std::string name(250, 'd');
  std::string deepest = nativeToUtf8Lossy(tree.native());
  fs::current_path(tree.root());
  for (int i = 0; i < kLevels; ++i) {
    fs::create_directory(name);
    fs::current_path(name);
    std::ofstream("f.c", std::ios::binary) << "int f" << i << ";\n";
    (deepest += '/') += name;
  }
  fs::current_path(start);
  deepest += "/f.c";

  const ProjectAnalysis analysis = analyzeProject(tree.native());
  EXPECT_EQ(analysis.model.files.size(), static_cast<size_t>(kLevels));
  EXPECT_EQ(analysis.model.files.count(deepest), 1u);
  EXPECT_EQ(analysis.totalLines, kLevels);
  for (const auto& [path, file] : analysis.model.files) EXPECT_GT(file.heatRaw, 0.0) << path;
  std::string text;
  bool unstable = false;
  EXPECT_TRUE(readFileStable(deepest, text, unstable, kNoPauses));
  EXPECT_EQ(text, "int f19;\n");
}
#endif

}  // namespace
}  // namespace varnholt_app
