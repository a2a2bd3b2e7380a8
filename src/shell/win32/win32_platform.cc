#include "shell/win32/win32_platform.h"

#include "shell/win32/dialogs.h"
#include "shell/win32/webview_host.h"
#include "shell/win32/wide_text.h"

namespace varnholt_app {

namespace {

DWORD WINAPI runThreadBody(LPVOID parameter) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(parameter));
  (*body)();
  return 0;
}

}  // namespace

void Win32Platform::attachWindow(HWND window) {
  window_ = window;
  dispatcher_ = std::make_shared<HwndDispatcher>(window);
}

void Win32Platform::windowClosing() {
  if (dispatcher_) dispatcher_->close();
}

void Win32Platform::setTimer(Timer id, uint32_t periodMs) {
  if (window_ != nullptr) SetTimer(window_, static_cast<UINT_PTR>(id), periodMs, nullptr);
}

void Win32Platform::killTimer(Timer id) {
  if (window_ != nullptr) KillTimer(window_, static_cast<UINT_PTR>(id));
}

uint32_t Win32Platform::tickCount() { return GetTickCount(); }

uint64_t Win32Platform::monotonicMs() { return GetTickCount64(); }

bool Win32Platform::startThread(std::function<void()> body) {
  auto* parameter = new (std::nothrow) std::function<void()>(std::move(body));
  if (parameter == nullptr) return false;
  HANDLE thread = CreateThread(nullptr, 0, runThreadBody, parameter, 0, nullptr);
  if (thread == nullptr) {
    delete parameter;
    return false;
  }
  CloseHandle(thread);  // nobody joins it
  return true;
}

void Win32Platform::startFolderWatcher(const NativeString& folder, FolderChangeHandler onChange) {
  varnholt_app::startFolderWatcher(folderWatcher_, std::move(onChange), folder);
}

void Win32Platform::stopFolderWatcher() { varnholt_app::stopFolderWatcher(folderWatcher_); }

NativeString Win32Platform::showFolderPicker() { return varnholt_app::showFolderPicker(window_); }

SnapshotSaveResult Win32Platform::saveSnapshotWithDialog(const std::string& fileName,
                                                         const std::string& pngBytes) {
  HWND owner = window_ != nullptr ? window_ : GetActiveWindow();
  return varnholt_app::saveSnapshotWithDialog(owner, toWide(utf8ToWide(fileName)), pngBytes);
}

void Win32Platform::setWindowTitle(const std::u16string& title) {
  if (window_ != nullptr) SetWindowTextW(window_, toWide(title).c_str());
}

void Win32Platform::postWebMessage(const std::string& json) {
  if (webView_ != nullptr) webView_->postJson(utf8ToWide(json));
}

void Win32Platform::closeMainWindow() {
  // Posted: this runs inside a web view callback, which must not see the
  // window disappear underneath it.
  if (window_ != nullptr) PostMessageW(window_, WM_CLOSE, 0, 0);
}

void Win32Platform::quitMessageLoop(int exitCode) { PostQuitMessage(exitCode); }

}  // namespace varnholt_app
