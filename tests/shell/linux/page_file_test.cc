#include "shell/linux/page_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace varnholt_app {
namespace {

class PageFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("varnholt_page_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string write(const std::string& bytes) {
    const auto path = dir_ / "VarnholtUI.html";
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
  std::filesystem::path dir_;
};

TEST_F(PageFileTest, MissingOrEmptyFileGivesTheFallbackPage) {
  ASSERT_EQ(kFallbackPageHtml.size(), 231u);
  EXPECT_NE(kFallbackPageHtml.find("<h3>Varnholt UI file missing</h3>"), std::string_view::npos);
  EXPECT_EQ(readPageFile((dir_ / "absent.html").string()), kFallbackPageHtml);
  EXPECT_EQ(readPageFile(write("")), kFallbackPageHtml);
  EXPECT_EQ(readPageFile(dir_.string()), kFallbackPageHtml);  // a folder is not a page
}

TEST_F(PageFileTest, TextIsKeptWithItsByteOrderMarkAndLineEnds) {
  const std::string page = "\xEF\xBB\xBF<p>h\xC3\xA9" "at\r\n\xF0\x9F\x94\xA5</p>";
  EXPECT_EQ(readPageFile(write(page)), page);
}

TEST_F(PageFileTest, IllFormedBytesBecomeReplacementCharacters) {
  EXPECT_EQ(readPageFile(write("a\xFF" "b\xC3")), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}

TEST(ExecutableFolder, IsTheFolderOfThisTestProgram) {
  const std::string folder = executableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.front(), '/');
  EXPECT_EQ(folder.back(), '/');
  EXPECT_TRUE(std::filesystem::exists(folder + "linux_shell_tests"));
}

}  // namespace
}  // namespace varnholt_app
