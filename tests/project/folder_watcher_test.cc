#include "project/folder_watcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <tlhelp32.h>
#else
#include <unistd.h>
#endif

namespace varnholt_app {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Generous: the machine may be busy building; only a fault waits this long.
constexpr auto kDeadline = 15s;
// Long enough for a pending notification to arrive on a loaded machine.
constexpr auto kQuiet = 400ms;

class CountingPoster : public WindowPoster {
 public:
  bool post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (message != WM_APP_FOLDER_CHANGED || wParam != 0 || lParam != 0) ++malformed_;
    ++count_;
    return true;
  }
  int count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
  }
  int malformed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return malformed_;
  }

 private:
  std::mutex mutex_;
  int count_ = 0;
  int malformed_ = 0;
};

// Repeats `change` until a post beyond `before` arrives: the first changes
// may come before the thread has its watches in place.
bool changeUntilReported(CountingPoster& poster, const std::function<void()>& change) {
  const int before = poster.count();
  const auto end = Clock::now() + kDeadline;
  while (Clock::now() < end) {
    change();
    for (int i = 0; i < 20; ++i) {
      if (poster.count() > before) return true;
      std::this_thread::sleep_for(10ms);
    }
  }
  return false;
}

bool waitForPostsBeyond(CountingPoster& poster, int before) {
  const auto end = Clock::now() + kDeadline;
  while (Clock::now() < end) {
    if (poster.count() > before) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

// Waits until no post has arrived for kQuiet, so later counts are not fed
// by stragglers of an earlier change; returns the settled count.
int settle(CountingPoster& poster) {
  int last = poster.count();
  auto quietSince = Clock::now();
  const auto end = quietSince + kDeadline;
  while (Clock::now() < end && Clock::now() - quietSince < kQuiet) {
    std::this_thread::sleep_for(20ms);
    if (const int now = poster.count(); now != last) {
      last = now;
      quietSince = Clock::now();
    }
  }
  return last;
}

void writeFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A fresh folder per test, removed afterwards.
class FolderWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = fs::temp_directory_path() / (std::string("varnholt_watch_") + info->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override {
    stopFolderWatcher(watcher_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  void start(const std::shared_ptr<CountingPoster>& poster, const fs::path& folder) {
    startFolderWatcher(watcher_, poster, folder.native());
  }
  // The thread is watching once a change beside the root is reported.
  void waitUntilWatching(CountingPoster& poster) {
    int round = 0;
    ASSERT_TRUE(changeUntilReported(poster, [&] {
      writeFile(root_ / "ready.txt", std::to_string(++round));
    }));
  }

  fs::path root_;
  FolderWatcher watcher_;
  std::shared_ptr<CountingPoster> poster_ = std::make_shared<CountingPoster>();
};

bool runningUnderWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

TEST_F(FolderWatcherTest, ReportsChangesInFoldersThatExistedAtStart) {
  if (runningUnderWine()) {
    GTEST_SKIP() << "Wine's ReadDirectoryChangesW watches a subfolder that existed at the start "
                    "only once the process opens it";
  }
  fs::create_directories(root_ / "a" / "b" / "c");
  start(poster_, root_);
  ASSERT_TRUE(folderWatcherRunning(watcher_));
  int round = 0;
  EXPECT_TRUE(changeUntilReported(*poster_, [&] {
    writeFile(root_ / "a" / "b" / "c" / "deep.txt", std::to_string(++round));
  }));

  // A tree filled elsewhere and moved in whole: nothing in it was ever
  // created under a watch.
  const fs::path outside = root_.parent_path() / (root_.filename().string() + "_outside");
  fs::remove_all(outside);
  fs::create_directories(outside / "x" / "y");
  int before = settle(*poster_);
  fs::rename(outside, root_ / "moved");
  ASSERT_TRUE(waitForPostsBeyond(*poster_, before));
  before = settle(*poster_);
  writeFile(root_ / "moved" / "x" / "y" / "inner.txt", "y");
  EXPECT_TRUE(waitForPostsBeyond(*poster_, before));
  EXPECT_EQ(poster_->malformed(), 0);
}

TEST_F(FolderWatcherTest, ReportsChangesInFoldersMadeLater) {
  start(poster_, root_);
  waitUntilWatching(*poster_);
  int before = settle(*poster_);
  fs::create_directory(root_ / "fresh");
  ASSERT_TRUE(waitForPostsBeyond(*poster_, before));
  before = settle(*poster_);
  writeFile(root_ / "fresh" / "new.txt", "x");
  EXPECT_TRUE(waitForPostsBeyond(*poster_, before));

  // Three levels at once, then a file at the bottom.
  before = settle(*poster_);
  fs::create_directories(root_ / "fresh" / "x" / "y");
  ASSERT_TRUE(waitForPostsBeyond(*poster_, before));
  before = settle(*poster_);
  writeFile(root_ / "fresh" / "x" / "y" / "deep.txt", "y");
  EXPECT_TRUE(waitForPostsBeyond(*poster_, before));
  EXPECT_EQ(poster_->malformed(), 0);
}

TEST_F(FolderWatcherTest, KeepsReportingAfterAFolderIsDeleted) {
  fs::create_directories(root_ / "gone" / "inner");
  writeFile(root_ / "gone" / "inner" / "f.txt", "f");
  start(poster_, root_);
  waitUntilWatching(*poster_);

  int before = settle(*poster_);
  fs::remove_all(root_ / "gone");
  ASSERT_TRUE(waitForPostsBeyond(*poster_, before));

  // The same name again, and a file in it.
  before = settle(*poster_);
  fs::create_directories(root_ / "gone" / "inner");
  ASSERT_TRUE(waitForPostsBeyond(*poster_, before));
  before = settle(*poster_);
  writeFile(root_ / "gone" / "inner" / "g.txt", "g");
  EXPECT_TRUE(waitForPostsBeyond(*poster_, before));
  EXPECT_TRUE(folderWatcherRunning(watcher_));
}

TEST_F(FolderWatcherTest, IgnoresAttributeOnlyChanges) {
  writeFile(root_ / "file.txt", "text");
  start(poster_, root_);
  waitUntilWatching(*poster_);
  const int before = settle(*poster_);
  constexpr auto kWrite = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  fs::permissions(root_ / "file.txt", kWrite, fs::perm_options::remove);  // read-only on Windows
  EXPECT_EQ(settle(*poster_), before);
  fs::permissions(root_ / "file.txt", fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(settle(*poster_), before);
  // Still watching: a real change right after is reported.
  writeFile(root_ / "other.txt", "x");
  EXPECT_TRUE(waitForPostsBeyond(*poster_, before));
}

TEST_F(FolderWatcherTest, StopEndsAWaitingThreadAtOnce) {
  start(poster_, root_);
  waitUntilWatching(*poster_);
  const int before = settle(*poster_);  // the thread now waits for changes

  const auto stopStart = Clock::now();
  stopFolderWatcher(watcher_);
  const auto stopTime = Clock::now() - stopStart;
  // The thread's reference to the poster is gone only once it has ended;
  // a stop that gave up waiting (1500 ms) would leave it held.
  EXPECT_EQ(poster_.use_count(), 1);
  EXPECT_LT(stopTime, 1500ms);
  EXPECT_FALSE(folderWatcherRunning(watcher_));
  EXPECT_EQ(watcher_.window, nullptr);
  EXPECT_TRUE(watcher_.path.empty());

  writeFile(root_ / "after.txt", "x");
  EXPECT_EQ(settle(*poster_), before);
  stopFolderWatcher(watcher_);  // again: nothing to do
}

TEST_F(FolderWatcherTest, NewRootStopsTheOldWatcherFirst) {
  const fs::path second = root_ / "second";
  fs::create_directories(root_ / "first");
  fs::create_directories(second);
  start(poster_, root_ / "first");
  int round = 0;
  ASSERT_TRUE(changeUntilReported(*poster_, [&] {
    writeFile(root_ / "first" / "f.txt", std::to_string(++round));
  }));

  auto secondPoster = std::make_shared<CountingPoster>();
  start(secondPoster, second);
  EXPECT_EQ(poster_.use_count(), 1);  // the old thread has ended
  const int oldCount = poster_->count();
  EXPECT_TRUE(changeUntilReported(*secondPoster, [&] {
    writeFile(root_ / "first" / "f.txt", std::to_string(++round));
    writeFile(second / "s.txt", std::to_string(round));
  }));
  settle(*secondPoster);
  EXPECT_EQ(poster_->count(), oldCount);
  EXPECT_EQ(watcher_.path, second.native());
}

#ifdef _WIN32
// Wine's GetProcessHandleCount always says 0; the system-wide handle list
// (SystemExtendedHandleInformation) works there and on Windows.
size_t openHandles() {
  struct Entry {
    void* object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG access;
    USHORT backTraceIndex;
    USHORT type;
    ULONG attributes;
    ULONG reserved;
  };
  struct Table {
    ULONG_PTR count;
    ULONG_PTR reserved;
    Entry entries[1];
  };
  using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
  const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  constexpr ULONG kExtendedHandleInformation = 64;
  constexpr LONG kLengthMismatch = static_cast<LONG>(0xC0000004);
  std::vector<ULONG_PTR> buffer(1 << 14);
  LONG status;
  ULONG needed = 0;
  while ((status = query(kExtendedHandleInformation, buffer.data(),
                         static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR)), &needed)) ==
         kLengthMismatch) {
    buffer.resize(buffer.size() * 2);
  }
  EXPECT_EQ(status, 0);
  if (status != 0) return 0;
  const auto* table = reinterpret_cast<const Table*>(buffer.data());
  size_t count = 0;
  for (ULONG_PTR i = 0; i < table->count; ++i) {
    if (table->entries[i].processId == GetCurrentProcessId()) ++count;
  }
  return count;
}
#endif

size_t liveThreadsAndHandles() {
#ifdef _WIN32
  size_t threads = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++threads;
  }
  CloseHandle(snapshot);
  return openHandles() + threads;
#else
  size_t count = 0;
  for (const char* dir : {"/proc/self/fd", "/proc/self/task"}) {
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) ++count;
  }
  return count;
#endif
}

TEST_F(FolderWatcherTest, ManyStartsAndStopsLeakNothing) {
  for (int i = 0; i < 10; ++i) fs::create_directories(root_ / std::to_string(i) / "e");
  // One round first, so lazily made system objects are not counted as leaks.
  start(poster_, root_);
  stopFolderWatcher(watcher_);
  const size_t before = liveThreadsAndHandles();
  for (int i = 0; i < 50; ++i) {
    start(poster_, root_);  // stops the previous one, often mid-setup
    ASSERT_TRUE(folderWatcherRunning(watcher_));
    if (i % 2 == 1) stopFolderWatcher(watcher_);
  }
  stopFolderWatcher(watcher_);
  EXPECT_EQ(liveThreadsAndHandles(), before);
  EXPECT_EQ(poster_.use_count(), 1);
}

TEST_F(FolderWatcherTest, StaysStoppedWhenItCannotStart) {
  start(poster_, root_ / "missing");
  EXPECT_EQ(watcher_.thread, nullptr);
  EXPECT_EQ(watcher_.window, nullptr);
  EXPECT_EQ(watcher_.message, 0u);
  startFolderWatcher(watcher_, poster_, NativeString());
  EXPECT_EQ(watcher_.thread, nullptr);
  startFolderWatcher(watcher_, nullptr, root_.native());
  EXPECT_EQ(watcher_.thread, nullptr);
  EXPECT_EQ(poster_.use_count(), 1);
}

#ifndef _WIN32
// Folders the walk never enters are not watched, so a busy node_modules or
// .git spends neither watches nor rescans; the root itself is never skipped.
TEST_F(FolderWatcherTest, SkipsFoldersTheWalkIgnoresAndLinkCycles) {
  fs::create_directories(root_ / "build" / "node_modules" / "pkg");
  fs::create_directories(root_ / "build" / ".git");
  fs::create_directories(root_ / "build" / "src");
  fs::create_directory_symlink(root_ / "build", root_ / "build" / "src" / "loop");
  fs::create_directories(root_ / "elsewhere");
  fs::create_directory_symlink(root_ / "elsewhere", root_ / "build" / "linked");
  start(poster_, root_ / "build");
  int round = 0;
  ASSERT_TRUE(changeUntilReported(*poster_, [&] {
    writeFile(root_ / "build" / "src" / "a.c", std::to_string(++round));
  }));
  int before = settle(*poster_);
  writeFile(root_ / "build" / "node_modules" / "pkg" / "x.js", "x");
  writeFile(root_ / "build" / ".git" / "index", "i");
  EXPECT_EQ(settle(*poster_), before);
  // A linked folder is part of the project, as the walk follows links.
  writeFile(root_ / "elsewhere" / "e.c", "e");
  EXPECT_TRUE(waitForPostsBeyond(*poster_, before));
}

TEST_F(FolderWatcherTest, OutOfWatchesStillReportsWhatIsWatched) {
  struct LimitGuard {
    ~LimitGuard() { setFolderWatchLimitForTesting(-1); }
  } guard;
  setFolderWatchLimitForTesting(2);
  for (const char* name : {"a", "b", "c", "d"}) fs::create_directories(root_ / name / "deeper");
  start(poster_, root_);
  waitUntilWatching(*poster_);
  const int before = settle(*poster_);
  fs::create_directories(root_ / "e" / "f");
  EXPECT_TRUE(waitForPostsBeyond(*poster_, before));
  EXPECT_TRUE(folderWatcherRunning(watcher_));
}

TEST_F(FolderWatcherTest, EndsOnItsOwnWhenTheRootIsDeleted) {
  const fs::path folder = root_ / "project";
  fs::create_directories(folder / "sub");
  start(poster_, folder);
  int round = 0;
  ASSERT_TRUE(changeUntilReported(*poster_, [&] {
    writeFile(folder / "f.txt", std::to_string(++round));
  }));
  fs::remove_all(folder);
  const auto end = Clock::now() + kDeadline;
  while (folderWatcherRunning(watcher_) && Clock::now() < end) std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(folderWatcherRunning(watcher_));
  stopFolderWatcher(watcher_);
  EXPECT_EQ(poster_.use_count(), 1);
}
#endif

}  // namespace
}  // namespace varnholt_app
