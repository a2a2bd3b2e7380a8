#include "shell/win32/webview_host.h"

#include <cstdio>
#include <cwchar>

#include "base/utf.h"
#include "shell/app_ui.h"
#include "shell/page_file.h"
#include "shell/win32/com_callback.h"
#include "shell/win32/runtime_loader.h"
#include "shell/win32/wide_text.h"

namespace varnholt_app {

namespace {

constexpr wchar_t kDownloadPage[] = L"https://developer.microsoft.com/microsoft-edge/webview2/";

// Our page is handed over as text; the runtime reports that navigation as
// about:blank or as a data: address, depending on its version.
bool isOwnPageAddress(const wchar_t* uri) {
  return uri != nullptr &&
         (std::wcsncmp(uri, L"about:blank", 11) == 0 || std::wcsncmp(uri, L"data:", 5) == 0);
}

}  // namespace

bool WebViewHost::succeeded(HRESULT result, const char* step) const {
  if (SUCCEEDED(result)) return true;
  if (trace_) {
    std::fprintf(stderr, "webview: %s failed: 0x%08lX\n", step, static_cast<unsigned long>(result));
    std::fflush(stderr);
  }
  return false;
}

void WebViewHost::fail(HRESULT result, const char* step) {
  succeeded(result == S_OK ? E_FAIL : result, step);
  if (hwndHost_ == nullptr) return;
  wchar_t text[256];
  if (result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
    std::swprintf(text, std::size(text),
                  L"The WebView2 Runtime is not installed. Get it from %ls", kDownloadPage);
  } else {
    std::swprintf(text, std::size(text),
                  L"The WebView2 Runtime did not start (error 0x%08lX). Reinstall it from %ls",
                  static_cast<unsigned long>(result), kDownloadPage);
  }
  SetWindowTextW(hwndHost_, text);
  InvalidateRect(hwndHost_, nullptr, TRUE);
}

void WebViewHost::ensureWebView(HWND host) {
  if (webview_ || host == nullptr) return;
  hwndHost_ = host;
  auto* callback = EnvironmentCompletedCallback::create(
      [this](HRESULT result, ICoreWebView2Environment* environment) {
        return onEnvironmentCreated(result, environment);
      });
  if (callback == nullptr) return fail(E_OUTOFMEMORY, "make the environment callback");
  const EnvironmentStart start =
      startEnvironment(executableFolder(), webViewUserDataFolder(), callback, loader_);
  callback->Release();
  if (FAILED(start.result)) fail(start.result, start.step);
}

HRESULT WebViewHost::onEnvironmentCreated(HRESULT result, ICoreWebView2Environment* environment) {
  if (FAILED(result) || environment == nullptr) {
    fail(result, "create the environment");
    return result;
  }
  environment_.assign(environment);
  auto* callback = ControllerCompletedCallback::create(
      [this](HRESULT created, ICoreWebView2Controller* controller) {
        return onControllerCreated(created, controller);
      });
  if (callback == nullptr) {
    fail(E_OUTOFMEMORY, "make the controller callback");
    return E_OUTOFMEMORY;
  }
  const HRESULT asked = environment->CreateCoreWebView2Controller(hwndHost_, callback);
  callback->Release();
  if (FAILED(asked)) fail(asked, "ask for the controller");
  return S_OK;
}

HRESULT WebViewHost::onControllerCreated(HRESULT result, ICoreWebView2Controller* controller) {
  if (FAILED(result) || controller == nullptr) {
    fail(result, "create the controller");
    return result;
  }
  controller_.assign(controller);
  const HRESULT gotView = controller->get_CoreWebView2(webview_.put());

  // Settings first, so that the view is configured before it is sized and
  // anything reaches the page. DevTools and "Inspect" only when tracing.
  ComRef<ICoreWebView2Settings> settings;
  if (webview_ && succeeded(webview_->get_Settings(settings.put()), "get the settings") &&
      settings) {
    succeeded(settings->put_AreDefaultContextMenusEnabled(trace_ ? TRUE : FALSE),
              "set the context menu");
    succeeded(settings->put_AreDevToolsEnabled(trace_ ? TRUE : FALSE), "set DevTools");
    succeeded(settings->put_IsZoomControlEnabled(FALSE), "set the zoom control");
  }
  setBoundsFrom(hwndHost_);
  if (!webview_) {
    fail(FAILED(gotView) ? gotView : E_POINTER, "get the view");
    return S_OK;
  }

  if (auto* onStarting = NavigationStartingCallback::create(
          [this](ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs* args) {
            return onNavigationStarting(args);
          })) {
    succeeded(webview_->add_NavigationStarting(onStarting, &navigationStartingToken_),
              "add the navigation filter");
    onStarting->Release();
  }
  if (auto* onMessage = WebMessageReceivedCallback::create(
          [this](ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs* args) {
            return onWebMessage(args);
          })) {
    succeeded(webview_->add_WebMessageReceived(onMessage, &webMessageToken_),
              "add the message handler");
    onMessage->Release();
  }
  if (auto* onNavigation = NavigationCompletedCallback::create(
          [this](ICoreWebView2*, ICoreWebView2NavigationCompletedEventArgs*) {
            return onNavigationCompleted();
          })) {
    succeeded(webview_->add_NavigationCompleted(onNavigation, &navigationCompletedToken_),
              "add the navigation handler");
    onNavigation->Release();
  }

  if (uiPageHtml_.empty()) uiPageHtml_ = toWide(utf8ToUtf16(uiPageHtml()));
  ownNavigationPending_ = true;
  if (!succeeded(webview_->NavigateToString(uiPageHtml_.c_str()), "show the page")) {
    ownNavigationPending_ = false;
  }
  app_.onWebViewReady();
  return S_OK;
}

// Nothing but our page may load: a dropped file, a link or a script would
// otherwise replace it and receive the project's data.
HRESULT WebViewHost::onNavigationStarting(ICoreWebView2NavigationStartingEventArgs* args) {
  if (args == nullptr) return S_OK;
  LPWSTR uri = nullptr;
  const bool ours =
      SUCCEEDED(args->get_Uri(&uri)) && ownNavigationPending_ && isOwnPageAddress(uri);
  CoTaskMemFree(uri);
  if (ours) {
    ownNavigationPending_ = false;
  } else {
    succeeded(args->put_Cancel(TRUE), "cancel a navigation");
  }
  return S_OK;
}

HRESULT WebViewHost::onNavigationCompleted() {
  navigationCompleted_ = true;
  ownNavigationPending_ = false;
  updateVisibility();
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

void WebViewHost::updateVisibility() {
  if (controller_ && navigationCompleted_) {
    succeeded(controller_->put_IsVisible(viewHidden_ || minimized_ ? FALSE : TRUE),
              "show or hide the view");
  }
}

void WebViewHost::setBoundsFrom(HWND host) {
  if (!controller_ || host == nullptr) return;
  RECT bounds{};
  GetClientRect(host, &bounds);
  succeeded(controller_->put_Bounds(bounds), "size the view");
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
  if (controller_ && navigationCompleted_ && !minimized_) {
    controller_->put_IsVisible(TRUE);
    controller_->NotifyParentWindowPositionChanged();
  }
}

void WebViewHost::setMinimized(bool minimized) {
  if (minimized == minimized_) return;
  minimized_ = minimized;
  updateVisibility();
}

bool WebViewHost::postJson(const std::u16string& json) {
  if (!webview_) return false;
  webview_->PostWebMessageAsJson(toWide(json).c_str());
  return true;
}

void WebViewHost::release() {
  webview_.reset();
  // Closing ends the browser processes now rather than when the last
  // reference somewhere in the runtime goes.
  if (controller_) succeeded(controller_->Close(), "close the controller");
  controller_.reset();
  environment_.reset();
}

}  // namespace varnholt_app
