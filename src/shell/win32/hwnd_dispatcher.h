#pragma once
// The dispatcher for a real window: each task travels as a heap closure in
// a posted window message, which the window procedure hands to run().

#include <windows.h>

#include <mutex>

#include "base/dispatcher.h"

namespace varnholt_app {

// The one application message of the main window.
inline constexpr UINT WM_APP_DISPATCH = WM_APP + 0x191;

class HwndDispatcher final : public Dispatcher {
 public:
  explicit HwndDispatcher(HWND window) : window_(window) {}

  bool dispatch(Task task) override;

  // Called while the window is being destroyed: every later dispatch fails,
  // and the tasks still queued for the window are destroyed unrun.
  void close();

  // For the window procedure: runs the task a WM_APP_DISPATCH carries and
  // frees it. False for any other message.
  static bool run(UINT message, LPARAM lParam);

 private:
  // Taken around check-and-post and around close(), so that a post that
  // passed the check cannot slip in after the window's queue was drained.
  std::mutex mutex_;
  HWND window_;
};

}  // namespace varnholt_app
