#include "shell/win32/dialogs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace varnholt_app {
namespace {

namespace fs = std::filesystem;

TEST(SnapshotFile, ReplacesAFileWholeAndFailsWhereNoneCanBeWritten) {
  const fs::path folder = fs::temp_directory_path() / "varnholt_snapshot_test";
  fs::remove_all(folder);
  fs::create_directories(folder);
  const fs::path path = folder / L"snap \u00E9.png";
  std::ofstream(path, std::ios::binary) << std::string(4096, 'x');
  const std::string png("\x89PNG\r\n\x1A\n\0\0\0\rIHDR\n", 17);
  ASSERT_EQ(writeSnapshotFile(path.wstring(), png), "");
  std::ostringstream written;
  written << std::ifstream(path, std::ios::binary).rdbuf();
  EXPECT_EQ(written.str(), png);

  EXPECT_EQ(writeSnapshotFile((folder / "missing" / "a.png").wstring(), png), "error 3");  // path not found
  EXPECT_NE(writeSnapshotFile(folder.wstring(), png), "");  // a folder
  HANDLE locked = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(writeSnapshotFile(path.wstring(), png), "");  // open elsewhere without sharing
  CloseHandle(locked);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace varnholt_app
