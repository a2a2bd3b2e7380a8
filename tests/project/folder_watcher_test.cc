#include "project/folder_watcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <atomic>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "temp_tree.h"

namespace varnholt_app {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kDeadline = 15s;  // only a fault waits this long
constexpr auto kQuiet = 400ms;   // long enough for a pending post on a busy machine

// Counts the watcher's calls and keeps what they said.
struct CountingPoster {
  std::atomic<int> calls{0};
  std::mutex mutex;
  std::vector<FolderChanges> batches;
  int count() const { return calls; }
  bool firstComplete() {
    std::lock_guard lock(mutex);
    return batches.front().complete;
  }
  // Whether a call names `path` (a later batch may, so it waits a while).
  bool named(const fs::path& path) {
    for (const auto end = Clock::now() + kDeadline; Clock::now() < end; std::this_thread::sleep_for(10ms)) {
      std::lock_guard lock(mutex);
      for (const FolderChanges& batch : batches) {
        for (const NativeString& named : batch.paths) if (named == path.native()) return true;
      }
    }
    return false;
  }
};

// The callback holds its counter, so a thread that let go of it shows.
FolderChangeHandler counting(std::shared_ptr<CountingPoster> poster) {
  return [poster](FolderChanges changes) {
    {
      std::lock_guard lock(poster->mutex);
      poster->batches.push_back(std::move(changes));
    }
    ++poster->calls;
  };
}

// Waits until no post has come for kQuiet; returns the settled count.
int settle(CountingPoster& poster) {
  int last = poster.count();
  auto quietSince = Clock::now();
  for (const auto end = quietSince + kDeadline; Clock::now() - quietSince < kQuiet && Clock::now() < end;) {
    std::this_thread::sleep_for(20ms);
    if (const int now = poster.count(); now != last) last = now, quietSince = Clock::now();
  }
  return last;
}

// Settles, applies `change` (again and again if `repeat`, as the first ones may
// come before the watches exist) and says whether a post followed.
bool reported(CountingPoster& poster, const std::function<void()>& change, bool repeat = false) {
  const int before = settle(poster);
  change();
  for (const auto end = Clock::now() + kDeadline; Clock::now() < end;) {
    for (int i = 0; i < 20; ++i, std::this_thread::sleep_for(10ms)) {
      if (poster.count() > before) return true;
    }
    if (repeat) change();
  }
  return false;
}

class FolderWatcherTest : public ::testing::Test {
 protected:
  void TearDown() override { stopFolderWatcher(watcher_); }
  void start(const fs::path& folder, std::shared_ptr<CountingPoster> poster = nullptr) {
    startFolderWatcher(watcher_, counting(poster ? poster : poster_), folder.native());
  }
  void write(const std::string& relative) { tree_.file(relative, std::to_string(++round_)); }
  bool writeIgnored(const std::string& relative) {
    const int before = settle(*poster_);
    write(relative);
    return settle(*poster_) == before;
  }
  bool writeReported(const std::string& relative, bool repeat = false) {
    return reported(*poster_, [&] { write(relative); }, repeat);
  }

  testing::TempTree tree_;
  int round_ = 0;
  FolderWatcher watcher_;
  std::shared_ptr<CountingPoster> poster_ = std::make_shared<CountingPoster>();
};

TEST_F(FolderWatcherTest, ReportsChangesAnywhereBelowTheRoot) {
  tree_.dir("a/b/c");
  tree_.dir("gone/inner");
  start(tree_.root());
  ASSERT_TRUE(writeReported("ready.txt", true));
  EXPECT_FALSE(poster_->firstComplete()) << "first: one look at everything";
#ifdef _WIN32
  const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
#else
  const bool wine = false;
#endif
  // Wine watches a subfolder it did not see made (there from the start, or
  // moved in) only once the process opens it.
  if (!wine) {
    EXPECT_TRUE(writeReported("a/b/c/deep.txt"));
  }
  // Folders made later, several levels at once, and a file at the bottom.
  EXPECT_TRUE(reported(*poster_, [&] { tree_.dir("fresh/x/y"); }));
  EXPECT_TRUE(writeReported("fresh/x/y/deep.txt"));
  EXPECT_TRUE(poster_->named(tree_.path("fresh/x/y/deep.txt")));
  // A tree filled elsewhere and moved in whole.
  testing::TempTree outside;
  outside.dir("x/y");
  EXPECT_TRUE(reported(*poster_, [&] { fs::rename(outside.root(), tree_.path("moved")); }));
  if (!wine) {
    EXPECT_TRUE(writeReported("moved/x/y/inner.txt"));
  }
  // A folder deleted and made again under the same name.
  EXPECT_TRUE(reported(*poster_, [&] { fs::remove_all(tree_.path("gone")); }));
  EXPECT_TRUE(poster_->named(tree_.path("gone")));
  EXPECT_TRUE(reported(*poster_, [&] { tree_.dir("gone/inner"); }));
  EXPECT_TRUE(writeReported("gone/inner/g.txt"));
  // Attribute-only changes are not changes.
  const int before = settle(*poster_);
  fs::permissions(tree_.path("ready.txt"), fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_EQ(settle(*poster_), before);
  EXPECT_GT(before, 0);
}

// Threads and open files of this process, where the system shows them.
size_t liveThreadsAndFiles() {
  size_t count = 0;
  for (const char* dir : {"/proc/self/fd", "/proc/self/task"}) {
    std::error_code none;  // no /proc: nothing to count
    for (fs::directory_iterator it(dir, none), end; it != end; it.increment(none)) ++count;
  }
  return count;
}

TEST_F(FolderWatcherTest, StopsAtOnceAndLeavesNothingBehind) {
  tree_.dir("first");
  tree_.dir("second");
  for (int i = 0; i < 10; ++i) tree_.dir(std::to_string(i) + "/e");
  start(tree_.path("first"));
  ASSERT_TRUE(writeReported("first/f.txt", true));

  // A new root ends the old thread before the new one reports.
  auto second = std::make_shared<CountingPoster>();
  start(tree_.path("second"), second);
  EXPECT_EQ(poster_.use_count(), 1);
  EXPECT_TRUE(reported(*second, [&] { write("second/s.txt"); }, true));
  EXPECT_TRUE(writeIgnored("first/f.txt"));

  // Stop ends a waiting thread (one that gave up waiting would keep the poster).
  stopFolderWatcher(watcher_);
  EXPECT_EQ(second.use_count(), 1);
  EXPECT_FALSE(folderWatcherRunning(watcher_));

  // Roots it cannot watch leave it stopped.
  start(tree_.path("missing"));
  startFolderWatcher(watcher_, counting(poster_), NativeString());
  startFolderWatcher(watcher_, {}, tree_.native());
  EXPECT_EQ(watcher_.thread, nullptr);

  // Starts that stop the previous one mid-setup leak no thread nor handle.
  start(tree_.root());
  stopFolderWatcher(watcher_);
  const size_t before = liveThreadsAndFiles();
  for (int i = 0; i < 50; ++i) {
    start(tree_.root());
    ASSERT_TRUE(folderWatcherRunning(watcher_));
    if (i % 2 == 1) stopFolderWatcher(watcher_);
  }
  stopFolderWatcher(watcher_);
  EXPECT_EQ(liveThreadsAndFiles(), before);
  EXPECT_EQ(poster_.use_count(), 1);
}

#ifndef _WIN32
// Like the walk: ignored folders spend no watches, links are followed, cycles
// end; running out of watches keeps what is watched; a deleted root ends it.
TEST_F(FolderWatcherTest, FollowsTheWalksRulesAndLimits) {
  struct LimitGuard {
    ~LimitGuard() { setFolderWatchLimitForTesting(-1); }
  } guard;
  tree_.dir("build/node_modules/pkg");
  tree_.dir("build/.git");
  tree_.dir("build/src");
  tree_.dir("elsewhere");
  fs::create_directory_symlink(tree_.path("build"), tree_.path("build/src/loop"));
  fs::create_directory_symlink(tree_.path("elsewhere"), tree_.path("build/linked"));
  start(tree_.path("build"));
  ASSERT_TRUE(writeReported("build/src/a.c", true));
  EXPECT_TRUE(writeIgnored("build/node_modules/pkg/x.js"));
  EXPECT_TRUE(writeIgnored("build/.git/index"));
  EXPECT_TRUE(writeReported("elsewhere/e.c"));

  setFolderWatchLimitForTesting(2);
  for (const char* name : {"a", "b", "c"}) tree_.dir(std::string("build/") + name + "/deeper");
  start(tree_.path("build"));
  ASSERT_TRUE(writeReported("build/ready.txt", true));
  EXPECT_TRUE(reported(*poster_, [&] { tree_.dir("build/e/f"); }));
  EXPECT_TRUE(folderWatcherRunning(watcher_));

  fs::remove_all(tree_.path("build"));
  for (const auto end = Clock::now() + kDeadline; folderWatcherRunning(watcher_) && Clock::now() < end;) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_FALSE(folderWatcherRunning(watcher_));
}
#endif

}  // namespace
}  // namespace varnholt_app
