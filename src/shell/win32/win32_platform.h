#pragma once
// The Windows side of the platform seam: the main window's timers and
// message queue, threads, the folder watcher, the shell dialogs and the
// web view.

#include <windows.h>

#include <memory>

#include "project/folder_watcher.h"
#include "shell/platform.h"
#include "shell/win32/hwnd_dispatcher.h"

namespace varnholt_app {

class WebViewHost;

class Win32Platform final : public Platform {
 public:
  Win32Platform() = default;
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  // The main window exists (start of WM_CREATE).
  void attachWindow(HWND window);
  // The main window is being destroyed: dispatches fail from now on and the
  // queued ones are dropped. Timers and the handle stay usable until the
  // window is gone.
  void windowClosing();
  void setWebViewHost(WebViewHost* webView) { webView_ = webView; }

  std::shared_ptr<Dispatcher> dispatcher() override { return dispatcher_; }
  void setTimer(Timer id, uint32_t periodMs) override;
  void killTimer(Timer id) override;
  uint32_t tickCount() override;
  uint64_t monotonicMs() override;
  bool startThread(std::function<void()> body) override;
  void startFolderWatcher(const NativeString& folder, FolderChangeHandler onChange) override;
  void stopFolderWatcher() override;
  NativeString showFolderPicker() override;
  SnapshotSaveResult saveSnapshotWithDialog(const std::string& fileName,
                                            const std::string& pngBytes) override;
  void setWindowTitle(const std::u16string& title) override;
  void postWebMessage(const std::string& json) override;
  void closeMainWindow() override;
  void quitMessageLoop(int exitCode) override;

 private:
  HWND window_ = nullptr;
  // Stays with the watcher and workers after the window is gone.
  std::shared_ptr<HwndDispatcher> dispatcher_;
  WebViewHost* webView_ = nullptr;
  FolderWatcher folderWatcher_;
};

}  // namespace varnholt_app
