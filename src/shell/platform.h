#pragma once
// The narrow seam between the program's decisions (AppUI) and the desktop:
// everything here is provided by one backend per platform (win32, linux) and
// by a fake in the tests. All methods are called on the UI thread only,
// except WindowPoster::post.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/native_string.h"
#include "base/window_poster.h"
#include "protocol/json.h"

namespace varnholt_app {

inline constexpr uint32_t TIMER_FOLDER_DEBOUNCE = 1;  // 250 ms
inline constexpr uint32_t TIMER_PERIODIC_RESCAN = 2;  // 60000 ms
inline constexpr uint32_t TIMER_SELECTION_GRACE = 3;  // once, when a selected file's grace ends
inline constexpr uint32_t TIMER_ROOT_POLL = 4;        // 1000 ms while the open folder is gone

// What became of a snapshot the user was asked to save.
struct SnapshotSaveResult {
  NativeString path;  // the file chosen; empty when nothing was chosen
  std::string error;  // why it was not written; empty on success or cancel
  bool written() const { return !path.empty() && error.empty(); }
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Poster for the main window; shared with background threads, so it must
  // outlive the window (posting then fails). Null before the window exists.
  virtual std::shared_ptr<WindowPoster> windowPoster() = 0;

  // Timers of the main window by id; arming an armed id replaces it.
  // Each expiry calls AppUI::onTimer(id) on the UI thread.
  virtual void setTimer(uint32_t id, uint32_t periodMs) = 0;
  virtual void killTimer(uint32_t id) = 0;

  // Milliseconds of a monotonic clock: 32-bit wrapping tick, and 64-bit.
  virtual uint32_t tickCount() = 0;
  virtual uint64_t monotonicMs() = 0;

  // Starts a background thread that runs `body` (detached: nobody joins it).
  // False when no thread could be started; `body` then never runs.
  virtual bool startThread(std::function<void()> body) = 0;

  // The one folder watcher: start stops the previous one first; it posts
  // WM_APP_FOLDER_CHANGED through windowPoster(). Stop waits a bounded time.
  virtual void startFolderWatcher(const NativeString& folder) = 0;
  virtual void stopFolderWatcher() = 0;

  // Modal dialogs; they keep dispatching messages while open.
  // Empty when cancelled or failed.
  virtual NativeString showFolderPicker() = 0;
  // Written only when every byte reached the file.
  virtual SnapshotSaveResult saveSnapshotWithDialog(const std::u16string& fileName,
                                                    const std::string& pngBytes) = 0;

  // The main window's title bar text.
  virtual void setWindowTitle(const std::u16string& title) = 0;

  // Hands one JSON text to the page. Only called while the view exists.
  virtual void postWebMessage(const std::u16string& json) = 0;
  // The same for UTF-8 text, which the messages are built in; a backend
  // whose view takes UTF-8 spares the project message two conversions.
  virtual void postWebMessageUtf8(const std::string& json) { postWebMessage(utf8ToWide(json)); }

  // Closes the main window the way its close box does, asynchronously (the
  // close happens after the current handler returns); the backend then
  // calls AppUI::onDestroy.
  virtual void closeMainWindow() = 0;
  // Ends the message loop with this exit code.
  virtual void quitMessageLoop(int exitCode) = 0;
};

}  // namespace varnholt_app
