#pragma once
// The folder watcher: one background thread that says when anything below
// the project's root changes, and which paths did when the system tells.
// The application debounces the calls; the next rescan finds out the rest.

#include <functional>
#include <memory>
#include <vector>

#include "base/native_string.h"

namespace varnholt_app {

// What the watcher thread works with: the callback, the running
// flag, the stop signal and the system handles (inotify on Linux, the
// directory handle and stop event on Windows). The thread holds its own
// reference, so the handles are closed only after it has let go of them,
// and a stop that gives up waiting never leaves it with a dangling record.
struct FolderWatchThread;

// One call of the watcher: the paths created, written, moved or deleted in
// a batch of changes; or, with `complete` false, that it cannot say which
// (events were lost, the root itself moved, or the watches below the root
// are new and something may have changed before they existed).
struct FolderChanges {
  std::vector<NativeString> paths;
  bool complete = true;
};
using FolderChangeHandler = std::function<void(FolderChanges)>;

// The one watcher of the process, owned by the UI thread.
struct FolderWatcher {
  FolderChangeHandler onChange;  // called on the watcher thread; empty when stopped
  NativeString path;               // watched folder; empty when stopped
  std::shared_ptr<FolderWatchThread> thread;  // null when no thread was started

  FolderWatcher() = default;
  FolderWatcher(const FolderWatcher&) = delete;
  FolderWatcher& operator=(const FolderWatcher&) = delete;
  ~FolderWatcher();
};

// Stops the previous watcher, then watches `folder` and its whole subtree,
// calling `onChange` on the watcher thread for every batch of changes, and
// once, incomplete, when the watches are in place. When the watcher cannot
// start it stays stopped, silently.
void startFolderWatcher(FolderWatcher& watcher, FolderChangeHandler onChange,
                        const NativeString& folder);

// Ends the watcher thread and releases everything; a no-op when stopped.
// Waits for the thread at most 1500 ms; once it returns `onChange` is not
// called again.
void stopFolderWatcher(FolderWatcher& watcher);

// True while the watcher thread is still watching (it ends on its own when
// the folder goes away or a read fails).
bool folderWatcherRunning(const FolderWatcher& watcher);

#ifndef _WIN32
// Makes inotify_add_watch fail with ENOSPC once this many directories are
// watched (negative: no limit), so tests can reach the exhausted watch
// budget without lowering the machine's fs.inotify.max_user_watches.
void setFolderWatchLimitForTesting(int limit);
#endif

}  // namespace varnholt_app
