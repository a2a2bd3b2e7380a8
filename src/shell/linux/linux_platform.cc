#include "shell/linux/linux_platform.h"

#include <gtk/gtk.h>

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
        if (app_ != nullptr && window_ != nullptr) app_->onTimer(id);
      }) {}

void LinuxPlatform::attachWindow(AppUI& app, GtkWindow* window, std::shared_ptr<GlibWindowPoster> poster) {
  app_ = &app;
  window_ = window;
  poster_ = std::move(poster);
}

void LinuxPlatform::detachWindow() {
  window_ = nullptr;
  if (poster_) poster_->close();
}

std::shared_ptr<WindowPoster> LinuxPlatform::windowPoster() { return poster_; }

void LinuxPlatform::setTimer(uint32_t id, uint32_t periodMs) { timers_.set(id, periodMs); }

void LinuxPlatform::killTimer(uint32_t id) { timers_.kill(id); }

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

void LinuxPlatform::startFolderWatcher(const NativeString& folder) {
  varnholt_app::startFolderWatcher(watcher_, poster_, folder);
}

void LinuxPlatform::stopFolderWatcher() { varnholt_app::stopFolderWatcher(watcher_); }

NativeString LinuxPlatform::showFolderPicker() {
  if (window_ == nullptr) return {};
  return varnholt_app::showFolderPicker(window_);
}

SnapshotSaveResult LinuxPlatform::saveSnapshotWithDialog(const std::u16string& fileName,
                                                         const std::string& pngBytes) {
  return varnholt_app::saveSnapshotWithDialog(window_, utf16ToUtf8Lossy(fileName), pngBytes);
}

void LinuxPlatform::setWindowTitle(const std::u16string& title) {
  if (window_ != nullptr) gtk_window_set_title(window_, utf16ToUtf8Lossy(title).c_str());
}

void LinuxPlatform::postWebMessage(const std::u16string& json) { web_.postJson(utf16ToUtf8Lossy(json)); }
void LinuxPlatform::postWebMessageUtf8(const std::string& json) { web_.postJson(json); }

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
