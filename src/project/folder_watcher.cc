#include "project/folder_watcher.h"

#include <utility>

#include "project/folder_watch_thread.h"

namespace varnholt_app {

FolderWatcher::~FolderWatcher() { stopFolderWatcher(*this); }

void startFolderWatcher(FolderWatcher& watcher, FolderChangeHandler onChange,
                        const NativeString& folder) {
  stopFolderWatcher(watcher);
  if (!onChange || folder.empty()) return;
  watcher.onChange = std::move(onChange);
  watcher.path = folder;
  watcher.thread = startFolderWatchThread(watcher);
  // A watcher that cannot start stays stopped; the periodic rescan remains.
  if (!watcher.thread) stopFolderWatcher(watcher);
}

void stopFolderWatcher(FolderWatcher& watcher) {
  if (std::shared_ptr<FolderWatchThread> thread = std::move(watcher.thread)) {
    endFolderWatchThread(*thread);
  }
  watcher.onChange = nullptr;
  watcher.path.clear();
}

bool folderWatcherRunning(const FolderWatcher& watcher) {
  return watcher.thread && folderWatchThreadRunning(*watcher.thread);
}

}  // namespace varnholt_app
