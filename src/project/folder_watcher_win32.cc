// Folder watcher on Windows: one synchronous ReadDirectoryChangesW over the
// whole subtree per batch of changes.

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <string>
#include <functional>
#include <memory>
#include <new>
#include <utility>

#include "project/folder_watch_thread.h"

namespace varnholt_app {

namespace {

constexpr DWORD kBufferSize = 65536;
// File and directory names, size and last write; not attributes, security,
// creation or last access.
constexpr DWORD kNotifyFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;
constexpr ULONGLONG kStopWaitMs = 1500;
constexpr DWORD kCancelRetryMs = 20;

}  // namespace

struct FolderWatchThread {
  FolderChangeHandler onChange;
  std::wstring root;
  std::atomic<bool> running{false};
  HANDLE stopEvent = nullptr;
  HANDLE directory = INVALID_HANDLE_VALUE;
  HANDLE thread = nullptr;  // touched by the UI thread only

  FolderWatchThread() = default;
  FolderWatchThread(const FolderWatchThread&) = delete;
  FolderWatchThread& operator=(const FolderWatchThread&) = delete;
  ~FolderWatchThread() {
    if (directory != INVALID_HANDLE_VALUE) CloseHandle(directory);
    if (stopEvent != nullptr) CloseHandle(stopEvent);
  }
};

namespace {

bool stopRequested(const FolderWatchThread& self) {
  return !self.running.load() || WaitForSingleObject(self.stopEvent, 0) == WAIT_OBJECT_0;
}

// The paths one batch names; none, and incomplete, when the buffer
// overflowed (zero bytes returned) or a record does not fit.
FolderChanges changesIn(const FolderWatchThread& self, const std::byte* bytes, DWORD returned) {
  FolderChanges changes;
  changes.complete = returned > 0;
  for (DWORD offset = 0; changes.complete;) {
    FILE_NOTIFY_INFORMATION record;
    const DWORD header = offsetof(FILE_NOTIFY_INFORMATION, FileName);
    if (returned - offset < header) break;
    std::memcpy(&record, bytes + offset, header);
    if (record.FileNameLength > returned - offset - header) {
      changes.complete = false;
      break;
    }
    std::wstring path = self.root;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
    const size_t start = path.size();
    path.resize(start + record.FileNameLength / sizeof(wchar_t));
    std::memcpy(path.data() + start, bytes + offset + header, record.FileNameLength / sizeof(wchar_t) * sizeof(wchar_t));
    changes.paths.push_back(std::move(path));
    if (record.NextEntryOffset == 0) break;
    offset += record.NextEntryOffset;
    if (offset >= returned) break;
  }
  if (!changes.complete) changes.paths.clear();
  return changes;
}

void watchLoop(FolderWatchThread& self) {
  struct alignas(32) Buffer {
    std::byte bytes[kBufferSize];
  };
  std::unique_ptr<Buffer> buffer(new (std::nothrow) Buffer());
  if (!buffer) return;
  // What changed between the walk and the first read is found by one look
  // at everything.
  if (self.onChange) self.onChange({{}, false});
  while (!stopRequested(self)) {
    DWORD returned = 0;
    if (!ReadDirectoryChangesW(self.directory, buffer->bytes, kBufferSize, TRUE, kNotifyFilter,
                               &returned, nullptr, nullptr)) {
      return;  // failed, or cancelled by stopFolderWatcher
    }
    if (stopRequested(self)) return;
    if (self.onChange) self.onChange(changesIn(self, buffer->bytes, returned));
  }
}

DWORD WINAPI threadMain(void* parameter) {
  // The thread's own reference keeps the handles open until it is done.
  std::shared_ptr<FolderWatchThread> self = std::move(*static_cast<std::shared_ptr<FolderWatchThread>*>(parameter));
  delete static_cast<std::shared_ptr<FolderWatchThread>*>(parameter);
  watchLoop(*self);
  self->running.store(false);
  return 0;
}

}  // namespace

std::shared_ptr<FolderWatchThread> startFolderWatchThread(const FolderWatcher& watcher) {
  auto self = std::make_shared<FolderWatchThread>();
  self->onChange = watcher.onChange;
  self->root = watcher.path;
  self->stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (self->stopEvent == nullptr) return nullptr;
  self->directory = CreateFileW(watcher.path.c_str(), FILE_LIST_DIRECTORY,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (self->directory == INVALID_HANDLE_VALUE) return nullptr;
  self->running.store(true);
  auto* parameter = new (std::nothrow) std::shared_ptr<FolderWatchThread>(self);
  if (parameter != nullptr) {
    self->thread = CreateThread(nullptr, 0, threadMain, parameter, 0, nullptr);
    if (self->thread == nullptr) delete parameter;
  }
  if (self->thread == nullptr) {
    self->running.store(false);
    return nullptr;
  }
  return self;
}

void endFolderWatchThread(FolderWatchThread& self) {
  self.running.exchange(false);
  SetEvent(self.stopEvent);
  // The synchronous read ignores the event: cancel it, again and again,
  // since a cancel that comes before the thread enters the read is lost.
  const ULONGLONG start = GetTickCount64();
  while (WaitForSingleObject(self.thread, 0) == WAIT_TIMEOUT) {
    CancelSynchronousIo(self.thread);
    if (WaitForSingleObject(self.thread, kCancelRetryMs) == WAIT_OBJECT_0) break;
    if (GetTickCount64() - start >= kStopWaitMs) break;  // it keeps its own reference
  }
  CloseHandle(self.thread);
  self.thread = nullptr;
}

bool folderWatchThreadRunning(const FolderWatchThread& self) { return self.running.load(); }

}  // namespace varnholt_app
