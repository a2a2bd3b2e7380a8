#include "shell/linux/snapshot_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace varnholt_app {
namespace {

TEST(WithDefaultExtension, AppendsOnlyWhenTheNameHasNone) {
  EXPECT_EQ(withDefaultExtension("/tmp/snap", "png"), "/tmp/snap.png");
  EXPECT_EQ(withDefaultExtension("/tmp/snap.png", "png"), "/tmp/snap.png");
  EXPECT_EQ(withDefaultExtension("/tmp/snap.PNG", "png"), "/tmp/snap.PNG");
  EXPECT_EQ(withDefaultExtension("/tmp/snap.jpg", "png"), "/tmp/snap.jpg");
  // A dot in a folder name or at the start of the name is no extension.
  EXPECT_EQ(withDefaultExtension("/tmp/v1.2/snap", "png"), "/tmp/v1.2/snap.png");
  EXPECT_EQ(withDefaultExtension("/tmp/.snap", "png"), "/tmp/.snap.png");
  EXPECT_EQ(withDefaultExtension("snap", "png"), "snap.png");
  EXPECT_EQ(withDefaultExtension("/tmp/", "png"), "/tmp/");
}

class WriteWholeFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("varnholt_snapshot_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  static std::string readBack(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::filesystem::path dir_;
};

TEST_F(WriteWholeFileTest, WritesEveryByteAndReplacesALongerFile) {
  const auto path = dir_ / "a.png";
  std::string big(3 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(writeWholeFile(path.string(), big));
  EXPECT_EQ(readBack(path), big);
  const std::string small("\x89PNG\r\n\x1a\n\0x", 10);
  ASSERT_TRUE(writeWholeFile(path.string(), small));
  EXPECT_EQ(readBack(path), small);
}

TEST_F(WriteWholeFileTest, FailuresAreReportedAsFalse) {
  EXPECT_FALSE(writeWholeFile((dir_ / "missing" / "a.png").string(), "x"));
  EXPECT_FALSE(writeWholeFile(dir_.string(), "x"));
  // A full disk accepts the open but not the bytes.
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_FALSE(writeWholeFile("/dev/full", "png bytes"));
  }
}

TEST_F(WriteWholeFileTest, FifoWithoutReaderFailsInsteadOfWaiting) {
  const auto path = dir_ / "pipe.png";
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  std::atomic<bool> done{false};
  bool written = true;
  std::thread writer([&] {
    written = writeWholeFile(path.string(), "png bytes");
    done = true;
  });
  for (int i = 0; i < 500 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(done) << "the write is stuck opening the FIFO";
  int reader = -1;
  if (!done) reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);  // release it
  writer.join();
  if (reader >= 0) ::close(reader);
  EXPECT_FALSE(written);
}

}  // namespace
}  // namespace varnholt_app
