#include "shell/win32/hwnd_dispatcher.h"

#include <memory>
#include <utility>

namespace varnholt_app {

bool HwndDispatcher::dispatch(Task task) {
  auto queued = std::make_unique<Task>(std::move(task));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (window_ != nullptr && IsWindow(window_) &&
        PostMessageW(window_, WM_APP_DISPATCH, 0, reinterpret_cast<LPARAM>(queued.get())) != 0) {
      queued.release();  // the window's queue has it now
      return true;
    }
  }
  return false;
}

void HwndDispatcher::close() {
  HWND window;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    window = std::exchange(window_, nullptr);
  }
  if (window == nullptr) return;
  MSG queued;
  while (PeekMessageW(&queued, window, WM_APP_DISPATCH, WM_APP_DISPATCH, PM_REMOVE)) {
    if (queued.message == WM_QUIT) {  // PeekMessageW returns it whatever the filter
      PostQuitMessage(static_cast<int>(queued.wParam));
      break;
    }
    delete reinterpret_cast<Task*>(queued.lParam);
  }
}

bool HwndDispatcher::run(UINT message, LPARAM lParam) {
  if (message != WM_APP_DISPATCH) return false;
  std::unique_ptr<Task> task(reinterpret_cast<Task*>(lParam));
  if (task && *task) (*task)();
  return true;
}

}  // namespace varnholt_app
