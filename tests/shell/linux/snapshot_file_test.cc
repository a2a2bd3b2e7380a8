#include "shell/linux/snapshot_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

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
    ASSERT_EQ(writeWholeFile(tree.key("a.png"), bytes), "");
    ASSERT_TRUE(readWholeFile(tree.path("a.png").native(), back));
    EXPECT_EQ(back, bytes);
  }
  EXPECT_EQ(writeWholeFile(tree.key("missing/a.png"), "x"), "No such file or directory");
  EXPECT_EQ(writeWholeFile(tree.key(""), "x"), "Is a directory");
  if (::access("/dev/full", W_OK) == 0) {  // a full disk takes the open, not the bytes
    EXPECT_EQ(writeWholeFile("/dev/full", "png bytes"), "No space left on device");
  }
}

}  // namespace
}  // namespace varnholt_app
