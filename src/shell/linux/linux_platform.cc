#include "shell/linux/linux_platform.h"

#include <gtk/gtk.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <system_error>
#include <thread>
#include <utility>

#include "base/utf.h"
#include "shell/app_ui.h"
#include "shell/linux/dialogs.h"
#include "shell/linux/web_host.h"

namespace varnholt_app {

LinuxPlatform::LinuxPlatform(GMainLoop* loop, WebHost& web)
    : loop_(loop), web_(web), timers_([this](uint32_t id) {
        if (app_ != nullptr && window_ != nullptr) app_->onTimer(static_cast<Timer>(id));
      }) {}

void LinuxPlatform::attachWindow(AppUI& app, GtkWindow* window) {
  app_ = &app;
  window_ = window;
  dispatcher_ = std::make_shared<GlibDispatcher>(nullptr);
}

void LinuxPlatform::detachWindow() {
  window_ = nullptr;
  if (dispatcher_) dispatcher_->close();
}

void LinuxPlatform::setTimer(Timer id, uint32_t periodMs) { timers_.set(static_cast<uint32_t>(id), periodMs); }

void LinuxPlatform::killTimer(Timer id) { timers_.kill(static_cast<uint32_t>(id)); }

uint32_t LinuxPlatform::tickCount() { return static_cast<uint32_t>(monotonicMs()); }

uint64_t LinuxPlatform::monotonicMs() { return static_cast<uint64_t>(g_get_monotonic_time() / 1000); }

bool LinuxPlatform::startThread(std::function<void()> body) {
  try {
    std::thread(std::move(body)).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void LinuxPlatform::startFolderWatcher(const NativeString& folder, FolderChangeHandler onChange) {
  varnholt_app::startFolderWatcher(watcher_, std::move(onChange), folder);
}

void LinuxPlatform::stopFolderWatcher() { varnholt_app::stopFolderWatcher(watcher_); }

NativeString LinuxPlatform::showFolderPicker() {
  if (window_ == nullptr) return {};
  return varnholt_app::showFolderPicker(window_);
}

SnapshotSaveResult LinuxPlatform::saveSnapshotWithDialog(const std::string& fileName,
                                                         const std::string& pngBytes) {
  return varnholt_app::saveSnapshotWithDialog(window_, fileName, pngBytes);
}

void LinuxPlatform::setWindowTitle(const std::u16string& title) {
  if (window_ != nullptr) gtk_window_set_title(window_, utf16ToUtf8Lossy(title).c_str());
}

void LinuxPlatform::postWebMessage(const std::string& json) { web_.postJson(json); }

// glibc keeps what the threads of a run and the megabyte messages freed;
// a tree like the kernel's leaves a hundred MB of it after a few rescans.
void LinuxPlatform::releaseFreedMemory() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
}

int LinuxPlatform::onCloseIdle(void* data) {
  auto* platform = static_cast<LinuxPlatform*>(data);
  if (platform->window_ != nullptr) gtk_window_close(platform->window_);
  return G_SOURCE_REMOVE;
}

void LinuxPlatform::closeMainWindow() {
  // Later, from the loop: "quitApp" arrives inside a WebKit signal, and the
  // view must not be destroyed under its own feet.
  if (window_ != nullptr) g_idle_add_full(G_PRIORITY_DEFAULT, &LinuxPlatform::onCloseIdle, this, nullptr);
}

void LinuxPlatform::quitMessageLoop(int exitCode) {
  exitCode_ = exitCode;
  g_main_loop_quit(loop_);
}

}  // namespace varnholt_app
