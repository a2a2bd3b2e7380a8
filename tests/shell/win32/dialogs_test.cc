#include "shell/win32/dialogs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace varnholt_app {
namespace {

namespace fs = std::filesystem;

std::string readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

class SnapshotFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / "varnholt_snapshot_test";
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path folder_;
};

TEST_F(SnapshotFileTest, WritesTheBytesUnchanged) {
  const std::string png("\x89PNG\r\n\x1A\n\0\0\0\rIHDR\n", 17);
  const fs::path path = folder_ / L"snap \u00E9.png";
  ASSERT_TRUE(writeSnapshotFile(path.wstring(), png));
  EXPECT_EQ(readBytes(path), png);
}

TEST_F(SnapshotFileTest, ReplacesALongerFileWhole) {
  const fs::path path = folder_ / "Varnholt_snapshot.png";
  std::ofstream(path, std::ios::binary) << std::string(4096, 'x');
  ASSERT_TRUE(writeSnapshotFile(path.wstring(), "short"));
  EXPECT_EQ(readBytes(path), "short");
}

TEST_F(SnapshotFileTest, FailsWhereNoFileCanBeCreated) {
  EXPECT_FALSE(writeSnapshotFile((folder_ / "missing" / "a.png").wstring(), "png"));
  EXPECT_FALSE(writeSnapshotFile(folder_.wstring(), "png"));  // a folder
  EXPECT_FALSE(fs::exists(folder_ / "missing"));
}

TEST_F(SnapshotFileTest, AFileOpenedElsewhereWithoutSharingIsNotReported) {
  const fs::path path = folder_ / "locked.png";
  HANDLE locked = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(writeSnapshotFile(path.wstring(), "png"));
  CloseHandle(locked);
}

}  // namespace
}  // namespace varnholt_app
