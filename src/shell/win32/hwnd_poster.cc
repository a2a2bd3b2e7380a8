#include "shell/win32/hwnd_poster.h"

namespace varnholt_app {

bool HwndPoster::post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (window_ == nullptr || !IsWindow(window_)) return false;
  return PostMessageW(window_, message, wParam, lParam) != 0;
}

void HwndPoster::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  window_ = nullptr;
}

}  // namespace varnholt_app
