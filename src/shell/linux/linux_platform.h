#pragma once
// The desktop under Linux: GTK 3 main loop, timers and dialogs, the
// WebKitGTK view, and the inotify folder watcher.

#include <memory>

#include "project/folder_watcher.h"
#include "shell/linux/glib_dispatcher.h"
#include "shell/linux/glib_timers.h"
#include "shell/platform.h"

typedef struct _GtkWindow GtkWindow;
typedef struct _GMainLoop GMainLoop;

namespace varnholt_app {

class AppUI;
class WebHost;

class LinuxPlatform final : public Platform {
 public:
  LinuxPlatform(GMainLoop* loop, WebHost& web);
  LinuxPlatform(const LinuxPlatform&) = delete;
  LinuxPlatform& operator=(const LinuxPlatform&) = delete;

  // The window exists; tasks run and timers fire for `app` from now on.
  void attachWindow(AppUI& app, GtkWindow* window);
  // The window is being destroyed: dispatches fail from now on.
  void detachWindow();
  int exitCode() const { return exitCode_; }

  std::shared_ptr<Dispatcher> dispatcher() override { return dispatcher_; }
  void setTimer(Timer id, uint32_t periodMs) override;
  void killTimer(Timer id) override;
  uint32_t tickCount() override;
  uint64_t monotonicMs() override;
  bool startThread(std::function<void()> body) override;
  void startFolderWatcher(const NativeString& folder, FolderChangeHandler onChange) override;
  void stopFolderWatcher() override;
  NativeString showFolderPicker() override;
  SnapshotSaveResult saveSnapshotWithDialog(const std::string& fileName, const std::string& pngBytes) override;
  void setWindowTitle(const std::u16string& title) override;
  void postWebMessage(const std::string& json) override;
  void releaseFreedMemory() override;
  void closeMainWindow() override;
  void quitMessageLoop(int exitCode) override;

 private:
  static int onCloseIdle(void* data);

  GMainLoop* loop_;
  WebHost& web_;
  AppUI* app_ = nullptr;
  GtkWindow* window_ = nullptr;  // null once destroyed
  std::shared_ptr<GlibDispatcher> dispatcher_;
  GlibTimers timers_;
  FolderWatcher watcher_;
  int exitCode_ = 0;
};

}  // namespace varnholt_app
