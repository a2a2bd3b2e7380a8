#include "project/stable_reader.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include "temp_tree.h"

namespace varnholt_app {
namespace {

constexpr uint64_t kSecond = 10'000'000;  // file-time units
using Pauses = std::vector<uint32_t>;

// Pauses advance a simulated clock; `onPause` runs after pause n (1-based)
// so that a "writer" can act meanwhile.
class StableReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    now_ = currentFileTime();
    clock_.sleep = [this](uint32_t ms) {
      pauses_.push_back(ms);
      now_ += uint64_t{ms} * 10'000;
      if (onPause_) onPause_(pauses_.size());
    };
    clock_.now = [this] { return now_; };
  }
  bool read() {
    pauses_.clear();
    return readFileStable(tree_.key("f"), out_, unstable_, clock_);
  }
  void write(const std::string& bytes) { tree_.file("f", bytes); }
  void setAge(uint64_t age) {
    const uint64_t fileTime = now_ - age;
#ifdef _WIN32
    HANDLE file = CreateFileW(tree_.path("f").c_str(), FILE_WRITE_ATTRIBUTES, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME time{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
    CloseHandle(file);
#else
    constexpr uint64_t kSecondsFrom1601To1970 = 11644473600;
    timespec times[2] = {{0, UTIME_OMIT},
                         {static_cast<time_t>(fileTime / kSecond - kSecondsFrom1601To1970),
                          static_cast<long>(fileTime % kSecond) * 100}};
    ASSERT_EQ(utimensat(AT_FDCWD, tree_.path("f").c_str(), times, 0), 0);
#endif
  }
  uint32_t pausedMs() const { return std::accumulate(pauses_.begin(), pauses_.end(), 0u); }

  testing::TempTree tree_;
  uint64_t now_ = 0;
  Pauses pauses_;
  std::function<void(size_t)> onPause_;
  StableReadClock clock_;
  std::string out_ = "stale";
  bool unstable_ = true;
};

TEST_F(StableReaderTest, BytesUnchangedUpTo64MiB) {
  const std::string bytes("\xEF\xBB\xBF" "a\r\nb\0" "\xFF\xFE" "c\0", 11);
  write(bytes);
  EXPECT_TRUE(read());
  EXPECT_EQ(out_, bytes);
  EXPECT_FALSE(unstable_);
  EXPECT_TRUE(pauses_.empty());

  std::filesystem::resize_file(tree_.path("f"), kStableReadMaxBytes);  // sparse: cheap on disk
  EXPECT_TRUE(read());
  EXPECT_EQ(out_.size(), static_cast<size_t>(kStableReadMaxBytes));
  std::filesystem::resize_file(tree_.path("f"), kStableReadMaxBytes + 1);
  EXPECT_FALSE(read());
  EXPECT_TRUE(unstable_);
  EXPECT_TRUE(out_.empty());
}

// An empty or changing file is looked at again after each pause until it
// has been quiet for half a second.
TEST_F(StableReaderTest, WaitsForTheWriter) {
  write("");
  setAge(kSecond / 2);  // exactly half a second is old
  EXPECT_TRUE(read());
  EXPECT_TRUE(pauses_.empty());
  setAge(3 * kSecond / 10);  // young at the first six looks, old at the seventh
  EXPECT_TRUE(read());
  EXPECT_EQ(pauses_, (Pauses{8, 16, 24, 40, 60, 90}));
  setAge(kSecond / 10);  // still young at the last look
  EXPECT_FALSE(read());
  EXPECT_TRUE(unstable_);
  EXPECT_EQ(pausedMs(), 358u);

  // The editor fills the file during the third pause.
  setAge(kSecond / 10);
  onPause_ = [this](size_t pause) { return pause == 3 ? write("saved") : void(); };
  EXPECT_TRUE(read());
  EXPECT_EQ(out_, "saved");
  EXPECT_EQ(pauses_.size(), 3u);

  // An old write time that moves between looks is not trusted either.
  write("");
  setAge(3 * kSecond / 10);
  onPause_ = [this](size_t pause) { return pause == 1 ? setAge(3600 * kSecond) : void(); };
  EXPECT_TRUE(read());
  EXPECT_EQ(pauses_, (Pauses{8, 16}));
}

TEST_F(StableReaderTest, MissingFiles) {
  EXPECT_FALSE(read());
  EXPECT_TRUE(unstable_);
  EXPECT_EQ(pauses_, (Pauses{8, 16, 24, 40, 60, 90, 120}));
  onPause_ = [this](size_t pause) { return pause == 2 ? write("late") : void(); };
  EXPECT_TRUE(read());
  EXPECT_EQ(out_, "late");
  pauses_.clear();
  EXPECT_FALSE(readFileStable("", out_, unstable_, clock_));  // nothing is tried for an empty path
  EXPECT_FALSE(unstable_);
  EXPECT_TRUE(pauses_.empty());
}

}  // namespace
}  // namespace varnholt_app
