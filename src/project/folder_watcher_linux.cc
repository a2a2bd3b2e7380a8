// Folder watcher on Linux: inotify has no subtree mode, so the thread keeps
// one watch per directory and adds watches as directories appear.

#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "project/folder_watch_thread.h"
#include "project/scan_rules.h"

namespace varnholt_app {

namespace {

// Attribute-only changes (IN_ATTRIB) and reads are left out on purpose.
constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t kChangeMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                 IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF | IN_Q_OVERFLOW |
                                 IN_UNMOUNT;
constexpr size_t kBufferSize = 65536;
constexpr auto kStopWait = std::chrono::milliseconds(1500);

std::atomic<int> watchLimitForTesting{-1};

void closeFd(int& fd) {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

// Directories the walk never looks into: watching them would only spend the
// per-user watch budget (a node_modules can hold tens of thousands).
bool skipDirectoryName(std::string_view name) {
  if (name.empty() || name.front() == '.') return true;
  if (isIgnoredDirectoryName(name)) return true;
  // Nothing below an xcuserdata folder is analysed, whatever its case.
  constexpr std::string_view kXcuserdata = "xcuserdata";
  if (name.size() != kXcuserdata.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kXcuserdata[i]) return false;
  }
  return true;
}

bool sameDirectory(const std::string& a, const std::string& b) {
  struct stat sa;
  struct stat sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

std::string childPath(const std::string& parent, std::string_view name) {
  std::string path = parent;
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

}  // namespace

struct FolderWatchThread {
  FolderChangeHandler onChange;
  std::string root;
  std::atomic<bool> running{false};
  int inotifyFd = -1;
  int stopFd = -1;  // eventfd, polled together with inotifyFd
  int rootWatch = -1;

  // The end of the thread, for a stop that waits a bounded time.
  std::mutex endMutex;
  std::condition_variable endSignal;
  bool ended = false;
  std::thread thread;  // touched by the UI thread only

  // Watcher thread only: the path each watch was added under.
  std::unordered_map<int, std::string> watchPaths;

  FolderWatchThread() = default;
  FolderWatchThread(const FolderWatchThread&) = delete;
  FolderWatchThread& operator=(const FolderWatchThread&) = delete;
  ~FolderWatchThread() {
    closeFd(inotifyFd);
    closeFd(stopFd);
  }
};

namespace {

int addWatch(FolderWatchThread& self, const std::string& path) {
  const int wd = inotify_add_watch(self.inotifyFd, path.c_str(), kWatchMask);
  const int limit = watchLimitForTesting.load(std::memory_order_relaxed);
  if (wd >= 0 && limit >= 0 && self.watchPaths.count(wd) == 0 &&
      self.watchPaths.size() >= static_cast<size_t>(limit)) {
    inotify_rm_watch(self.inotifyFd, wd);
    errno = ENOSPC;
    return -1;
  }
  return wd;
}

// Watches `top` and every directory below it that the walk would enter.
// Directory links are followed like the walk does; no directory is entered
// twice in one pass, which ends link cycles. Unless `revisit` is set, a
// directory already watched under a path that still leads to it is not
// entered again; one whose old path no longer leads to it was moved, so its
// path and those below it are refreshed.
void watchTree(FolderWatchThread& self, const std::string& top, bool revisit) {
  std::vector<std::string> pending{top};
  std::unordered_set<int> seen;
  while (!pending.empty() && self.running.load()) {
    std::string path = std::move(pending.back());
    pending.pop_back();
    const int wd = addWatch(self, path);
    if (wd < 0) {
      // Out of watches: what is watched stays watched, the periodic rescan
      // covers the rest.
      if (errno == ENOSPC || errno == ENOMEM) return;
      continue;  // vanished meanwhile, not a directory, or not readable
    }
    if (!seen.insert(wd).second) continue;
    auto known = self.watchPaths.find(wd);
    if (known != self.watchPaths.end()) {
      if (known->second == path || sameDirectory(known->second, path)) {
        if (!revisit && path != top) continue;
      } else {
        known->second = path;
      }
    } else {
      self.watchPaths.emplace(wd, path);
    }

    // The watch exists before the listing, so a subdirectory made meanwhile
    // is either listed here or reported by an event.
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) continue;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string_view name(entry->d_name);
      if (skipDirectoryName(name)) continue;  // also "." and ".."
      bool isDirectory = entry->d_type == DT_DIR;
      if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
        struct stat st;
        isDirectory = ::stat(childPath(path, name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      }
      if (isDirectory) pending.push_back(childPath(path, name));
    }
    ::closedir(dir);
  }
}

void post(FolderWatchThread& self, FolderChanges changes) {
  if (self.onChange && self.running.load()) self.onChange(std::move(changes));
}

void watchLoop(FolderWatchThread& self) {
  self.watchPaths.emplace(self.rootWatch, self.root);
  watchTree(self, self.root, false);
  // Whatever changed before the watches below the root existed (after the
  // walk that the watcher follows) is found by one look at everything.
  post(self, {{}, false});

  struct alignas(inotify_event) Buffer {
    char bytes[kBufferSize];
  };
  std::unique_ptr<Buffer> buffer(new (std::nothrow) Buffer());
  if (!buffer) return;

  std::vector<std::string> newDirectories;
  while (self.running.load()) {
    pollfd fds[2] = {{self.inotifyFd, POLLIN, 0}, {self.stopFd, POLLIN, 0}};
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0 || !self.running.load()) return;
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
    if ((fds[0].revents & POLLIN) == 0) continue;

    const ssize_t got = ::read(self.inotifyFd, buffer->bytes, kBufferSize);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return;
    }

    bool changed = false;
    bool overflow = false;
    FolderChanges changes;
    bool rootGone = false;
    newDirectories.clear();
    for (size_t offset = 0; offset + sizeof(inotify_event) <= static_cast<size_t>(got);) {
      inotify_event event;
      std::memcpy(&event, buffer->bytes + offset, sizeof event);
      const char* nameStart = buffer->bytes + offset + sizeof(inotify_event);
      if (event.len > static_cast<size_t>(got) - offset - sizeof(inotify_event)) break;
      offset += sizeof(inotify_event) + event.len;
      const std::string_view name(nameStart, event.len > 0 ? ::strnlen(nameStart, event.len) : 0);

      if (event.mask & kChangeMask) changed = true;
      if (event.mask & IN_Q_OVERFLOW) overflow = true;
      if (event.mask & IN_IGNORED) {
        self.watchPaths.erase(event.wd);
        if (event.wd == self.rootWatch) rootGone = true;
        continue;
      }
      auto parent = self.watchPaths.find(event.wd);
      if ((event.mask & kChangeMask) != 0) {
        // A folder below the root that moves or goes is named by its parent.
        const bool aboutItself = (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF)) != 0;
        if (!name.empty() && parent != self.watchPaths.end()) {
          changes.paths.push_back(childPath(parent->second, name));
        } else if (!aboutItself || event.wd == self.rootWatch) {
          changes.complete = false;
        }
      }
      if ((event.mask & (IN_CREATE | IN_MOVED_TO)) == 0 || name.empty()) continue;
      if (skipDirectoryName(name)) continue;
      if (parent == self.watchPaths.end()) continue;
      std::string path = childPath(parent->second, name);
      if ((event.mask & IN_ISDIR) == 0) {
        // A new link to a directory is entered like the walk does.
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) continue;
        if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
      }
      newDirectories.push_back(std::move(path));
    }

    if (rootGone) {
      post(self, {{}, false});
      return;
    }
    // New directories may have been filled before their watch existed;
    // listing them now and posting afterwards covers what was missed.
    if (overflow) {
      watchTree(self, self.root, true);  // events were lost, new folders too
    } else {
      for (const std::string& path : newDirectories) watchTree(self, path, false);
    }
    if (overflow) changes.complete = false;
    if (changed) post(self, std::move(changes));
  }
}

void threadMain(std::shared_ptr<FolderWatchThread> self) {
  watchLoop(*self);
  self->running.store(false);
  {
    std::lock_guard<std::mutex> lock(self->endMutex);
    self->ended = true;
  }
  self->endSignal.notify_all();
}

}  // namespace

void setFolderWatchLimitForTesting(int limit) { watchLimitForTesting.store(limit); }

std::shared_ptr<FolderWatchThread> startFolderWatchThread(const FolderWatcher& watcher) {
  auto self = std::make_shared<FolderWatchThread>();
  self->onChange = watcher.onChange;
  self->root = watcher.path;
  self->inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  self->stopFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (self->inotifyFd >= 0 && self->stopFd >= 0) {
    // The root is watched before start returns: a folder that cannot be
    // watched leaves the watcher stopped, like one that cannot be opened.
    self->rootWatch = addWatch(*self, self->root);
  }
  if (self->rootWatch < 0) return nullptr;
  self->running.store(true);
  try {
    self->thread = std::thread(threadMain, self);
  } catch (const std::system_error&) {
    self->running.store(false);
    return nullptr;
  }
  return self;
}

void endFolderWatchThread(FolderWatchThread& self) {
  self.running.exchange(false);
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(self.stopFd, &one, sizeof one);
  bool ended;
  {
    std::unique_lock<std::mutex> lock(self.endMutex);
    ended = self.endSignal.wait_for(lock, kStopWait, [&] { return self.ended; });
  }
  if (self.thread.joinable()) {
    // A thread stuck in the file system keeps its own reference and
    // releases the descriptors when it finally ends.
    if (ended) {
      self.thread.join();
    } else {
      self.thread.detach();
    }
  }
}

bool folderWatchThreadRunning(const FolderWatchThread& self) { return self.running.load(); }

}  // namespace varnholt_app
