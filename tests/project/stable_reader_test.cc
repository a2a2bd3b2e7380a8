#include "project/stable_reader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace varnholt_app {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kSecond = 10'000'000;  // file-time units

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void setWriteTime(const fs::path& path, uint64_t fileTime) {
#ifdef _WIN32
  HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 7, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME time{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
  CloseHandle(file);
#else
  constexpr uint64_t kSecondsFrom1601To1970 = 11644473600;
  timespec times[2] = {{0, UTIME_OMIT},
                       {static_cast<time_t>(fileTime / kSecond - kSecondsFrom1601To1970),
                        static_cast<long>(fileTime % kSecond) * 100}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
#endif
}

std::string utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// Pauses advance a simulated clock instead of the real one; `onPause` runs
// after pause n (1-based) to let a "writer" act meanwhile.
class StableReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    file_ = fs::temp_directory_path() / (std::string("varnholt_stable_") + info->name());
    fs::remove(file_);
    now_ = currentFileTime();
    clock_.sleep = [this](uint32_t ms) {
      pauses_.push_back(ms);
      now_ += uint64_t{ms} * 10'000;
      if (onPause_) onPause_(pauses_.size());
    };
    clock_.now = [this] { return now_; };
  }
  void TearDown() override { fs::remove(file_); }

  bool read() { return readFileStable(utf8(file_), out_, unstable_, clock_); }
  uint32_t pausedMs() const { return std::accumulate(pauses_.begin(), pauses_.end(), 0u); }

  fs::path file_;
  uint64_t now_ = 0;
  std::vector<uint32_t> pauses_;
  std::function<void(size_t)> onPause_;
  StableReadClock clock_;
  std::string out_ = "stale";
  bool unstable_ = true;
};

TEST_F(StableReaderTest, ReturnsBytesUnchangedAtTheFirstAttempt) {
  writeFile(file_, "0123456789");
  EXPECT_TRUE(read());
  EXPECT_EQ(out_, "0123456789");
  EXPECT_FALSE(unstable_);
  EXPECT_TRUE(pauses_.empty());

  const std::string bytes("\xEF\xBB\xBF" "a\r\nb\0" "\xFF\xFE" "c\0", 11);
  writeFile(file_, bytes);
  EXPECT_TRUE(read());
  EXPECT_EQ(out_, bytes);
}

TEST_F(StableReaderTest, EmptyFileIsTrustedOnceItsWriteIsOld) {
  writeFile(file_, "");
  setWriteTime(file_, now_ - 3600 * kSecond);
  EXPECT_TRUE(read());
  EXPECT_EQ(out_, "");
  EXPECT_FALSE(unstable_);
  EXPECT_TRUE(pauses_.empty());
  setWriteTime(file_, now_ - kSecond / 2);  // exactly half a second is old
  EXPECT_TRUE(read());
  EXPECT_TRUE(pauses_.empty());

  // Written 0.3 s ago: young at the first six looks, old at the seventh.
  setWriteTime(file_, now_ - 3 * kSecond / 10);
  EXPECT_TRUE(read());
  EXPECT_FALSE(unstable_);
  EXPECT_EQ(pauses_, (std::vector<uint32_t>{8, 16, 24, 40, 60, 90}));
  EXPECT_EQ(pausedMs(), 238u);

  // Written 0.1 s ago: still young at the last look (0.458 s).
  pauses_.clear();
  setWriteTime(file_, now_ - kSecond / 10);
  EXPECT_FALSE(read());
  EXPECT_TRUE(unstable_);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(pausedMs(), 358u);
}

TEST_F(StableReaderTest, WaitsForAWriterThatIsStillBusy) {
  // The editor fills the file during the third pause.
  writeFile(file_, "");
  setWriteTime(file_, now_ - kSecond / 10);
  onPause_ = [this](size_t pause) {
    if (pause == 3) writeFile(file_, "saved");
  };
  EXPECT_TRUE(read());
  EXPECT_EQ(out_, "saved");
  EXPECT_FALSE(unstable_);
  EXPECT_EQ(pauses_.size(), 3u);

  // An old write time that moves between looks is not trusted either: the
  // read settles only when two looks agree.
  pauses_.clear();
  writeFile(file_, "");
  setWriteTime(file_, now_ - 3 * kSecond / 10);
  onPause_ = [this](size_t pause) {
    if (pause == 1) setWriteTime(file_, now_ - 3600 * kSecond);
  };
  EXPECT_TRUE(read());
  EXPECT_FALSE(unstable_);
  EXPECT_EQ(pauses_, (std::vector<uint32_t>{8, 16}));
}

TEST_F(StableReaderTest, MissingFileFailsAfterEveryPause) {
  EXPECT_FALSE(read());
  EXPECT_TRUE(unstable_);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(pauses_, (std::vector<uint32_t>{8, 16, 24, 40, 60, 90, 120}));

  // One that appears meanwhile is read.
  pauses_.clear();
  onPause_ = [this](size_t pause) {
    if (pause == 2) writeFile(file_, "late");
  };
  EXPECT_TRUE(read());
  EXPECT_EQ(out_, "late");
  EXPECT_EQ(pauses_.size(), 2u);

  // Nothing is tried for an empty path.
  pauses_.clear();
  out_ = "stale";
  EXPECT_FALSE(readFileStable("", out_, unstable_, clock_));
  EXPECT_FALSE(unstable_);
  EXPECT_EQ(out_, "");
  EXPECT_TRUE(pauses_.empty());
}

TEST_F(StableReaderTest, ReadsUpTo64MiB) {
  writeFile(file_, "");
  fs::resize_file(file_, kStableReadMaxBytes);  // sparse: cheap on disk
  {
    std::fstream tail(file_, std::ios::binary | std::ios::in | std::ios::out);
    tail.seekp(kStableReadMaxBytes - 3);
    tail << "END";
  }
  EXPECT_TRUE(read());
  ASSERT_EQ(out_.size(), static_cast<size_t>(kStableReadMaxBytes));
  EXPECT_EQ(out_.substr(out_.size() - 3), "END");

  fs::resize_file(file_, kStableReadMaxBytes + 1);
  EXPECT_FALSE(read());
  EXPECT_TRUE(unstable_);
  EXPECT_TRUE(out_.empty());
  EXPECT_EQ(pausedMs(), 358u);
}

TEST_F(StableReaderTest, RealPausesAddUp) {
  // Loose bounds only: the machine may be busy.
  std::string out;
  bool unstable = false;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(readFileStable(utf8(file_), out, unstable));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(unstable);
  EXPECT_GE(took, std::chrono::milliseconds(340));
  EXPECT_LT(took, std::chrono::seconds(20));
}

#ifndef _WIN32
TEST_F(StableReaderTest, FifoDoesNotBlock) {
  ASSERT_EQ(mkfifo(file_.c_str(), 0600), 0);
  setWriteTime(file_, now_ - 3600 * kSecond);
  std::atomic<bool> done{false};
  std::string out;
  bool unstable = false;
  bool result = false;
  std::thread reader([&] {
    result = readFileStable(utf8(file_), out, unstable);
    done = true;
  });
  for (int i = 0; i < 500 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(done) << "the read is stuck opening the FIFO";
  if (!done) ::close(::open(file_.c_str(), O_WRONLY | O_NONBLOCK));  // release it
  reader.join();
  EXPECT_TRUE(result);
  EXPECT_TRUE(out.empty());
}
#endif

}  // namespace
}  // namespace varnholt_app
