#pragma once
// The narrow seam between the program's decisions (AppUI) and the desktop:
// everything here is provided by one backend per platform (win32, linux) and
// by a fake in the tests. All methods are called on the UI thread only;
// background threads reach it through the shared Dispatcher alone.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/dispatcher.h"
#include "base/native_string.h"
#include "project/folder_watcher.h"
#include "protocol/json.h"

namespace varnholt_app {

// The main window's timers; on Windows the numbers are the timer ids.
enum class Timer : uint32_t {
  FolderDebounce = 1,  // 250 ms while changes wait, or once when their quiet time is up
  PeriodicRescan = 2,  // 60000 ms
  SelectionGrace = 3,  // once, when a selected file's grace ends
  RootPoll = 4,        // 1000 ms while the open folder is gone
};

// What became of a snapshot the user was asked to save.
struct SnapshotSaveResult {
  NativeString path;  // the file chosen; empty when nothing was chosen
  std::string error;  // why it was not written; empty on success or cancel
  bool written() const { return !path.empty() && error.empty(); }
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Runs closures on the UI thread; shared with background threads, so it
  // outlives the window (dispatches then fail). Null before the window exists.
  virtual std::shared_ptr<Dispatcher> dispatcher() = 0;
  // Runs `task` on the UI thread once the current handler has returned.
  bool dispatch(Dispatcher::Task task) {
    const std::shared_ptr<Dispatcher> ui = dispatcher();
    return ui && ui->dispatch(std::move(task));
  }

  // Timers of the main window; arming an armed timer replaces it.
  // Each expiry calls AppUI::onTimer on the UI thread.
  virtual void setTimer(Timer id, uint32_t periodMs) = 0;
  virtual void killTimer(Timer id) = 0;

  // Milliseconds of a monotonic clock: 32-bit wrapping tick, and 64-bit.
  virtual uint32_t tickCount() = 0;
  virtual uint64_t monotonicMs() = 0;

  // Starts a background thread that runs `body` (detached: nobody joins it).
  // False when no thread could be started; `body` then never runs.
  virtual bool startThread(std::function<void()> body) = 0;

  // The one folder watcher: start stops the previous one first; `onChange`
  // runs on the watcher's thread for every batch of changes. Stop waits a
  // bounded time; `onChange` is not called after it.
  virtual void startFolderWatcher(const NativeString& folder, FolderChangeHandler onChange) = 0;
  virtual void stopFolderWatcher() = 0;

  // Modal dialogs; they keep dispatching messages while open.
  // Empty when cancelled or failed.
  virtual NativeString showFolderPicker() = 0;
  // `fileName` (UTF-8) is suggested. Written only when every byte reached
  // the file.
  virtual SnapshotSaveResult saveSnapshotWithDialog(const std::string& fileName,
                                                    const std::string& pngBytes) = 0;

  // The main window's title bar text.
  virtual void setWindowTitle(const std::u16string& title) = 0;

  // Hands one JSON text (UTF-8, as the messages are built) to the page.
  // Only called while the view exists.
  virtual void postWebMessage(const std::string& json) = 0;

  // A result was adopted and the model it replaced freed: a backend whose
  // allocator holds on to freed memory hands it back here.
  virtual void releaseFreedMemory() {}

  // Closes the main window the way its close box does, asynchronously (the
  // close happens after the current handler returns); the backend then
  // calls AppUI::onDestroy.
  virtual void closeMainWindow() = 0;
  // Ends the message loop with this exit code.
  virtual void quitMessageLoop(int exitCode) = 0;
};

}  // namespace varnholt_app
