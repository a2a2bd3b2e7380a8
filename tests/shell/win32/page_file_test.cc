#include "shell/win32/page_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace varnholt_app {
namespace {

namespace fs = std::filesystem;

class PageFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / "varnholt_page_file_test";
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::wstring folderWithSeparator() const { return folder_.wstring() + L"\\"; }
  void writePage(const std::string& bytes) const {
    std::ofstream(folder_ / "VarnholtUI.html", std::ios::binary) << bytes;
  }

  fs::path folder_;
};

TEST(FolderPart, KeepsEverythingUpToTheLastSeparator) {
  EXPECT_EQ(folderPart(L"C:\\Program Files\\Varnholt\\varnholt.exe"),
            L"C:\\Program Files\\Varnholt\\");
  EXPECT_EQ(folderPart(L"C:/tools/varnholt.exe"), L"C:/tools/");
  EXPECT_EQ(folderPart(L"C:\\a/b\\c/varnholt.exe"), L"C:\\a/b\\c/");
  EXPECT_EQ(folderPart(L"\\\\server\\share\\v.exe"), L"\\\\server\\share\\");
  EXPECT_EQ(folderPart(L"varnholt.exe"), L"");
  EXPECT_EQ(folderPart(L""), L"");
}

TEST(ExecutableFolder, IsTheFolderOfThisTest) {
  const std::wstring folder = executableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(folder.back() == L'\\' || folder.back() == L'/');
  EXPECT_TRUE(fs::exists(folder + L"win32_shell_tests.exe"));
}

TEST(FallbackPage, IsTheShortPageThatNamesTheMissingFile) {
  EXPECT_EQ(kFallbackPage.size(), 231u);
  EXPECT_TRUE(kFallbackPage.starts_with(L"<!doctype html>"));
  EXPECT_NE(kFallbackPage.find(L"<h3>Varnholt UI file missing</h3>"), std::wstring_view::npos);
  EXPECT_TRUE(kFallbackPage.ends_with(L"</body></html>"));
}

TEST_F(PageFileTest, MissingOrEmptyPageFileGivesTheFallback) {
  EXPECT_EQ(readPageFile(folderWithSeparator() + L"VarnholtUI.html"), L"");
  EXPECT_EQ(loadUiPage(folderWithSeparator()), kFallbackPage);
  writePage("");
  EXPECT_EQ(readPageFile(folderWithSeparator() + L"VarnholtUI.html"), L"");
  EXPECT_EQ(loadUiPage(folderWithSeparator()), kFallbackPage);
}

TEST_F(PageFileTest, PageIsDecodedFromUtf8WithItsByteOrderMarkKept) {
  // BOM, "<p>", e-acute, euro sign, U+1F525 (a surrogate pair), CRLF.
  writePage("\xEF\xBB\xBF<p>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x94\xA5</p>\r\n");
  const std::wstring page = loadUiPage(folderWithSeparator());
  EXPECT_EQ(page, L"\uFEFF<p>\u00E9\u20AC\xD83D\xDD25</p>\r\n");
}

TEST_F(PageFileTest, IllFormedBytesBecomeReplacementCharacters) {
  writePage("a\xFF" "b\xC3");
  EXPECT_EQ(loadUiPage(folderWithSeparator()), L"a\uFFFDb\uFFFD");
}

TEST_F(PageFileTest, EmptyFolderPartLooksInTheCurrentDirectory) {
  writePage("<html>here</html>");
  const fs::path previous = fs::current_path();
  fs::current_path(folder_);
  const std::wstring page = loadUiPage(L"");
  fs::current_path(previous);
  EXPECT_EQ(page, L"<html>here</html>");
}

}  // namespace
}  // namespace varnholt_app
