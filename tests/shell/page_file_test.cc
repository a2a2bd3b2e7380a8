#include "shell/page_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "../project/temp_tree.h"

namespace varnholt_app {
namespace {

TEST(PageFile, MissingEmptyOrHugeFileGivesTheFallbackPage) {
  testing::TempTree tree;
  tree.file("empty.html", "");
  tree.file("huge.html", "");
  std::filesystem::resize_file(tree.path("huge.html"), kMaxPageBytes + 1);
  ASSERT_EQ(kFallbackPageHtml.size(), 231u);
  EXPECT_NE(kFallbackPageHtml.find("<h3>Varnholt UI file missing</h3>"), std::string_view::npos);
  for (const char* name : {"absent.html", "empty.html", "huge.html", ""}) {  // "" is the folder
    EXPECT_EQ(readPageFile(tree.path(name).native()), kFallbackPageHtml) << name;
  }
}

TEST(PageFile, TextKeepsItsByteOrderMarkAndLineEndsAndRepairsIllFormedBytes) {
  testing::TempTree tree;
  const std::string page = "\xEF\xBB\xBF<p>h\xC3\xA9" "at\r\n\xF0\x9F\x94\xA5</p>";
  tree.file("page.html", page);
  tree.file("bad.html", "a\xFF" "b\xC3");
  EXPECT_EQ(readPageFile(tree.path("page.html").native()), page);
  EXPECT_EQ(readPageFile(tree.path("bad.html").native()), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}

// A build runs with the page beside it, an install from bin/ with the page
// in share/varnholt/; the build's copy wins when both are there.
TEST(PageFile, FoundBesideTheExecutableThenInTheInstalledDataFolder) {
  testing::TempTree tree;
  const NativeString bin = tree.path("bin").native() + kNativeSeparator;
  tree.file("bin/varnholt", "");
  EXPECT_EQ(readPageNear(bin), kFallbackPageHtml);
  tree.file("share/varnholt/VarnholtUI.html", "installed");
  EXPECT_EQ(readPageNear(bin), "installed");
  tree.file("bin/VarnholtUI.html", "");  // empty: not a page
  EXPECT_EQ(readPageNear(bin), "installed");
  tree.file("bin/VarnholtUI.html", "beside");
  EXPECT_EQ(readPageNear(bin), "beside");
}

TEST(PageFile, ExecutableFolderHoldsThisTestProgram) {
  const NativeString folder = executableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(folder.back() == '/' || folder.back() == kNativeSeparator);
#ifdef _WIN32
  EXPECT_TRUE(std::filesystem::exists(folder + L"startup_tests.exe"));
#else
  EXPECT_TRUE(std::filesystem::exists(folder + "startup_tests"));
#endif
}

}  // namespace
}  // namespace varnholt_app
