#include "project/folder_watcher.h"

#include <utility>

#include "project/folder_watch_thread.h"

namespace varnholt_app {

FolderWatcher::~FolderWatcher() { stopFolderWatcher(*this); }

void startFolderWatcher(FolderWatcher& watcher, std::shared_ptr<WindowPoster> window,
                        const NativeString& folder) {
  stopFolderWatcher(watcher);
  if (!window || folder.empty()) return;
  watcher.window = std::move(window);
  watcher.message = WM_APP_FOLDER_CHANGED;
  watcher.path = folder;
  watcher.thread = startFolderWatchThread(watcher);
  // A watcher that cannot start stays stopped; the periodic rescan remains.
  if (!watcher.thread) stopFolderWatcher(watcher);
}

void stopFolderWatcher(FolderWatcher& watcher) {
  if (std::shared_ptr<FolderWatchThread> thread = std::move(watcher.thread)) {
    endFolderWatchThread(*thread);
  }
  watcher.window.reset();
  watcher.message = 0;
  watcher.path.clear();
}

bool folderWatcherRunning(const FolderWatcher& watcher) {
  return watcher.thread && folderWatchThreadRunning(*watcher.thread);
}

}  // namespace varnholt_app
