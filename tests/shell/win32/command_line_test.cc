#include "shell/win32/command_line.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace varnholt_app {
namespace {

TEST(ParseCommandLine, FolderAndTraceInAnyOrder) {
  CommandLine parsed = parseCommandLine({});
  EXPECT_EQ(parsed.folder, L"");
  EXPECT_FALSE(parsed.trace);

  parsed = parseCommandLine({L"C:\\src\\app"});
  EXPECT_EQ(parsed.folder, L"C:\\src\\app");
  EXPECT_FALSE(parsed.trace);

  parsed = parseCommandLine({L"--trace", L"C:\\src\\app"});
  EXPECT_EQ(parsed.folder, L"C:\\src\\app");
  EXPECT_TRUE(parsed.trace);

  parsed = parseCommandLine({L"C:\\src\\app", L"--trace"});
  EXPECT_EQ(parsed.folder, L"C:\\src\\app");
  EXPECT_TRUE(parsed.trace);
}

TEST(ParseCommandLine, IgnoresUnknownOptionsAndFurtherFolders) {
  const CommandLine parsed =
      parseCommandLine({L"--verbose", L"", L"first", L"second", L"--Trace"});
  EXPECT_EQ(parsed.folder, L"first");
  EXPECT_FALSE(parsed.trace);  // options are exact
}

TEST(AbsoluteFolder, ResolvesRelativePathsAndDropsTrailingSeparators) {
  const std::wstring current = std::filesystem::current_path().wstring();
  EXPECT_EQ(absoluteFolder(L"proj"), current + L"\\proj");
  EXPECT_EQ(absoluteFolder(L"proj\\"), current + L"\\proj");
  EXPECT_EQ(absoluteFolder(L"C:\\src\\app\\\\"), L"C:\\src\\app");
  EXPECT_EQ(absoluteFolder(L"C:/src/app/"), L"C:\\src\\app");
  EXPECT_EQ(absoluteFolder(L"C:\\src\\.\\app\\..\\lib"), L"C:\\src\\lib");
  EXPECT_EQ(absoluteFolder(L"C:\\"), L"C:\\");  // a drive root keeps its separator
}

}  // namespace
}  // namespace varnholt_app
