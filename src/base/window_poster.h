#pragma once
// The one way a background thread talks to the main window.

#include <cstdint>

namespace varnholt_app {

// Application-defined window messages. The numbers are the same on every
// platform (on Windows they are real window messages).
inline constexpr uint32_t WM_APP_FOLDER_CHANGED = 0x8191;  // watcher -> window
inline constexpr uint32_t WM_APP_ANALYSIS_DONE = 0x8193;   // worker -> window, lParam: AnalysisResult* or 0
inline constexpr uint32_t WM_APP_PROGRESS = 0x8194;        // worker -> window, wParam: done, lParam: total
inline constexpr uint32_t WM_APP_PICK_FOLDER = 0x8501;     // dispatcher -> window
inline constexpr uint32_t WM_APP_OPEN_FILE = 0x8502;       // lParam: std::string* (UTF-8 path) or 0
inline constexpr uint32_t WM_APP_SAVE_SNAPSHOT = 0x8503;   // lParam: SnapshotRequest*

// Posts a message to the main window from any thread. Implementations are
// thread-safe and stay valid after the window is gone (posts then fail).
class WindowPoster {
 public:
  virtual ~WindowPoster() = default;
  // True when the message was queued for the window; ownership of whatever
  // lParam points to then passes to the window. False when the window is
  // gone or the post failed: the caller keeps ownership.
  virtual bool post(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

}  // namespace varnholt_app
