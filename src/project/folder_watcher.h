#pragma once
// The folder watcher: one background thread that says when anything below
// the project's root changes. It never says what changed; the application
// debounces the calls and the next walk finds out.

#include <functional>
#include <memory>

#include "base/native_string.h"

namespace varnholt_app {

// What the watcher thread works with: the callback, the running
// flag, the stop signal and the system handles (inotify on Linux, the
// directory handle and stop event on Windows). The thread holds its own
// reference, so the handles are closed only after it has let go of them,
// and a stop that gives up waiting never leaves it with a dangling record.
struct FolderWatchThread;

// The one watcher of the process, owned by the UI thread.
struct FolderWatcher {
  std::function<void()> onChange;  // called on the watcher thread; empty when stopped
  NativeString path;               // watched folder; empty when stopped
  std::shared_ptr<FolderWatchThread> thread;  // null when no thread was started

  FolderWatcher() = default;
  FolderWatcher(const FolderWatcher&) = delete;
  FolderWatcher& operator=(const FolderWatcher&) = delete;
  ~FolderWatcher();
};

// Stops the previous watcher, then watches `folder` and its whole subtree,
// calling `onChange` on the watcher thread for every batch of changes. When
// the watcher cannot start it stays stopped, silently.
void startFolderWatcher(FolderWatcher& watcher, std::function<void()> onChange,
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
