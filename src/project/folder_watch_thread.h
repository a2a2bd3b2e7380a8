#pragma once
// What each platform provides to the folder watcher: its thread, started
// and ended. The record's bookkeeping around it is shared.

#include <memory>

#include "project/folder_watcher.h"

namespace varnholt_app {

// Starts watching `watcher.path`, calling `watcher.onChange` on the
// watcher thread. Null when the folder cannot be watched or no thread
// can be started; whatever was opened is closed again.
std::shared_ptr<FolderWatchThread> startFolderWatchThread(const FolderWatcher& watcher);

// Makes the thread stop, waiting a bounded time. A thread that does not end
// in time keeps its own reference and releases its handles when it ends.
void endFolderWatchThread(FolderWatchThread& thread);

bool folderWatchThreadRunning(const FolderWatchThread& thread);

}  // namespace varnholt_app
