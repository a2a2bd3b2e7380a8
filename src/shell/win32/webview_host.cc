#include "shell/win32/webview_host.h"

#include "base/utf.h"
#include "shell/app_ui.h"
#include "shell/page_file.h"
#include "shell/win32/com_callback.h"
#include "shell/win32/wide_text.h"

namespace varnholt_app {

namespace {

// The loader beside the executable wins over any other copy on the search
// path; its bitness must match ours either way.
CreateCoreWebView2EnvironmentWithOptionsFn loadCreateEnvironment(HMODULE& loader) {
  if (loader == nullptr) {
    const std::wstring besideUs = executableFolder() + L"WebView2Loader.dll";
    loader = LoadLibraryW(besideUs.c_str());
    if (loader == nullptr) loader = LoadLibraryW(L"WebView2Loader.dll");
    if (loader == nullptr) return nullptr;
  }
  // Through void(*)(): GetProcAddress returns a generic function pointer.
  return reinterpret_cast<CreateCoreWebView2EnvironmentWithOptionsFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(loader, kCreateEnvironmentExport)));
}

}  // namespace

void WebViewHost::ensureWebView(HWND host) {
  if (webview_ || host == nullptr) return;
  hwndHost_ = host;
  const CreateCoreWebView2EnvironmentWithOptionsFn create = loadCreateEnvironment(loader_);
  if (create == nullptr) return;
  auto* callback = EnvironmentCompletedCallback::create(
      [this](HRESULT result, ICoreWebView2Environment* environment) {
        return onEnvironmentCreated(result, environment);
      });
  if (callback == nullptr) return;
  create(nullptr, nullptr, nullptr, callback);
  callback->Release();
}

HRESULT WebViewHost::onEnvironmentCreated(HRESULT result, ICoreWebView2Environment* environment) {
  if (FAILED(result) || environment == nullptr) return result;
  environment_.assign(environment);
  auto* callback = ControllerCompletedCallback::create(
      [this](HRESULT created, ICoreWebView2Controller* controller) {
        return onControllerCreated(created, controller);
      });
  if (callback == nullptr) return E_OUTOFMEMORY;
  environment->CreateCoreWebView2Controller(hwndHost_, callback);
  callback->Release();
  return S_OK;
}

HRESULT WebViewHost::onControllerCreated(HRESULT result, ICoreWebView2Controller* controller) {
  if (FAILED(result) || controller == nullptr) return result;
  controller_.assign(controller);
  controller->get_CoreWebView2(webview_.put());

  // Settings first, so that the view is configured before it is sized and
  // anything reaches the page.
  ComRef<ICoreWebView2Settings> settings;
  if (webview_ && SUCCEEDED(webview_->get_Settings(settings.put())) && settings) {
    settings->put_AreDefaultContextMenusEnabled(FALSE);
    settings->put_AreDevToolsEnabled(TRUE);
    settings->put_IsZoomControlEnabled(FALSE);
  }
  setBoundsFrom(hwndHost_);
  // A controller without a view gets nothing called on the missing view.
  if (!webview_) return S_OK;

  if (auto* onMessage = WebMessageReceivedCallback::create(
          [this](ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs* args) {
            return onWebMessage(args);
          })) {
    webview_->add_WebMessageReceived(onMessage, &webMessageToken_);
    onMessage->Release();
  }
  if (auto* onNavigation = NavigationCompletedCallback::create(
          [this](ICoreWebView2*, ICoreWebView2NavigationCompletedEventArgs*) {
            return onNavigationCompleted();
          })) {
    webview_->add_NavigationCompleted(onNavigation, &navigationCompletedToken_);
    onNavigation->Release();
  }

  if (uiPageHtml_.empty()) uiPageHtml_ = toWide(utf8ToUtf16(uiPageHtml()));
  webview_->NavigateToString(uiPageHtml_.c_str());
  app_.onWebViewReady();
  return S_OK;
}

HRESULT WebViewHost::onNavigationCompleted() {
  navigationCompleted_ = true;
  if (controller_ && !viewHidden_) controller_->put_IsVisible(TRUE);
  return S_OK;
}

HRESULT WebViewHost::onWebMessage(ICoreWebView2WebMessageReceivedEventArgs* args) {
  if (args == nullptr) return S_OK;
  LPWSTR text = nullptr;
  if (FAILED(args->get_WebMessageAsJson(&text)) || text == nullptr) return S_OK;
  std::u16string json;
  try {
    json = toU16(text);
  } catch (...) {
    CoTaskMemFree(text);
    throw;
  }
  CoTaskMemFree(text);
  app_.handleWebMessage(json);
  return S_OK;
}

void WebViewHost::setBoundsFrom(HWND host) {
  if (!controller_ || host == nullptr) return;
  RECT bounds{};
  GetClientRect(host, &bounds);
  controller_->put_Bounds(bounds);
}

void WebViewHost::parentMoved(bool inSizeMove) {
  if (!inSizeMove && !viewHidden_ && controller_ && navigationCompleted_) {
    controller_->NotifyParentWindowPositionChanged();
  }
}

void WebViewHost::hideForSizeMove() {
  viewHidden_ = true;
  if (controller_) controller_->put_IsVisible(FALSE);
}

void WebViewHost::showAfterSizeMove() {
  viewHidden_ = false;
  // Before the first navigation has completed, showing is left to it.
  if (controller_ && navigationCompleted_) {
    controller_->put_IsVisible(TRUE);
    controller_->NotifyParentWindowPositionChanged();
  }
}

bool WebViewHost::postJson(const std::u16string& json) {
  if (!webview_) return false;
  webview_->PostWebMessageAsJson(toWide(json).c_str());
  return true;
}

void WebViewHost::release() {
  webview_.reset();
  controller_.reset();
  environment_.reset();
}

}  // namespace varnholt_app
