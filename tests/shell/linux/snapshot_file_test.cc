#include "shell/linux/snapshot_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "../../project/temp_tree.h"
#include "base/file_io.h"

namespace varnholt_app {
namespace {

TEST(SnapshotFile, WritesEveryByteOrSaysItFailed) {
  for (const auto& [name, result] : {std::pair{"/tmp/snap", "/tmp/snap.png"}, {"/tmp/snap.PNG", "/tmp/snap.PNG"},
                                     {"/tmp/v1.2/snap", "/tmp/v1.2/snap.png"}, {"/tmp/.snap", "/tmp/.snap.png"}}) {
    EXPECT_EQ(withDefaultExtension(name, "png"), result);  // only for a name without one
  }
  testing::TempTree tree;
  std::string big(3 << 20, '\0'), back;
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  const std::string small("\x89PNG\r\n\x1a\n\0x", 10);
  for (const std::string& bytes : {big, small}) {  // the second replaces a longer file
    ASSERT_TRUE(writeWholeFile(tree.key("a.png"), bytes));
    ASSERT_TRUE(readWholeFile(tree.path("a.png").native(), back));
    EXPECT_EQ(back, bytes);
  }
  EXPECT_FALSE(writeWholeFile(tree.key("missing/a.png"), "x"));
  EXPECT_FALSE(writeWholeFile(tree.key(""), "x"));
  if (::access("/dev/full", W_OK) == 0) {  // a full disk takes the open, not the bytes
    EXPECT_FALSE(writeWholeFile("/dev/full", "png bytes"));
  }

  // A FIFO without a reader fails instead of waiting.
  ASSERT_EQ(::mkfifo(tree.path("pipe.png").c_str(), 0600), 0);
  std::atomic<bool> done{false};
  bool written = true;
  std::thread writer([&] {
    written = writeWholeFile(tree.key("pipe.png"), "png bytes");
    done = true;
  });
  for (int i = 0; i < 500 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(done) << "the write is stuck opening the FIFO";
  const int reader = done ? -1 : ::open(tree.path("pipe.png").c_str(), O_RDONLY | O_NONBLOCK);
  writer.join();
  if (reader >= 0) ::close(reader);
  EXPECT_FALSE(written);
}

}  // namespace
}  // namespace varnholt_app
