#pragma once
// WindowPoster for a real window: PostMessageW while the window lives.

#include <windows.h>

#include <cstdint>
#include <mutex>

#include "base/window_poster.h"

namespace varnholt_app {

class HwndPoster final : public WindowPoster {
 public:
  explicit HwndPoster(HWND window) : window_(window) {}

  bool post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

  // Called while the window is being destroyed: every later post fails, so
  // no payload can land in a queue that is about to be thrown away.
  void close();

 private:
  // Taken around check-and-post and around close(), so that a post that
  // passed the check cannot slip in after the window's queue was drained.
  std::mutex mutex_;
  HWND window_;
};

}  // namespace varnholt_app
