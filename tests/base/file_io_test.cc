#include "base/file_io.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace varnholt_app {
namespace {

std::filesystem::path writeTemp(const std::string& name, const std::string& bytes) {
  auto path = std::filesystem::temp_directory_path() / name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

TEST(ReadWholeFile, ReadsBytesUnchanged) {
  const std::string bytes("a\r\nb\0\xFF", 6);
  auto path = writeTemp("varnholt_file_io_test.bin", bytes);
  std::string out;
  ASSERT_TRUE(readWholeFile(path.native(), out));
  EXPECT_EQ(out, bytes);
  EXPECT_FALSE(readWholeFile(path.native(), out, 5));  // above the limit
  std::filesystem::remove(path);
}

TEST(ReadWholeFile, EmptyAndMissingFiles) {
  auto path = writeTemp("varnholt_file_io_empty.bin", "");
  std::string out = "stale";
  EXPECT_TRUE(readWholeFile(path.native(), out));
  EXPECT_TRUE(out.empty());
  std::filesystem::remove(path);
  EXPECT_FALSE(readWholeFile(path.native(), out));
}

}  // namespace
}  // namespace varnholt_app
