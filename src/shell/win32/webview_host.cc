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
// NavigateToString takes at most 2 MB; counted here as the UTF-16 text we
// hand over, which is never less than its UTF-8 size for our ASCII page.
constexpr size_t kMaxNavigateBytes = 2 * 1024 * 1024;
// More renderer exits than this within a minute: the page is not reloaded.
constexpr int kMaxRenderExitsPerMinute = 3;

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
  wchar_t text[256];
  if (result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
    std::swprintf(text, std::size(text),
                  L"The WebView2 Runtime is not installed. Get it from %ls", kDownloadPage);
  } else {
    std::swprintf(text, std::size(text),
                  L"The WebView2 Runtime did not start (error 0x%08lX). Reinstall it from %ls",
                  static_cast<unsigned long>(result), kDownloadPage);
  }
  showFailure(text);
}

void WebViewHost::showFailure(const wchar_t* text) {
  failed_ = true;
  // A view left visible would cover the text with a blank page.
  if (controller_) controller_->put_IsVisible(FALSE);
  if (hwndHost_ == nullptr) return;
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
  const EnvironmentStart start = startEnvironment(webViewUserDataFolder(), callback, loader_);
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

// Registers one of the view's events with the handler of this host.
template <class Callback, class Add, class Args>
void WebViewHost::listen(Add add, HRESULT (WebViewHost::*handle)(Args*),
                         EventRegistrationToken& token, const char* step) {
  auto* callback =
      Callback::create([this, handle](ICoreWebView2*, Args* args) { return (this->*handle)(args); });
  if (callback == nullptr) return;
  succeeded((webview_.get()->*add)(callback, &token), step);
  callback->Release();
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
    // F3, Ctrl+F, Ctrl+P, F5 and the like would open the browser's find
    // bar, print dialog or reload; the page keeps its own keys.
    ComRef<ICoreWebView2Settings3> settings3;
    void** keySettings = reinterpret_cast<void**>(settings3.put());
    if (succeeded(settings->QueryInterface(ICoreWebView2Settings3::iid, keySettings),
                  "get the key settings") &&
        settings3) {
      succeeded(settings3->put_AreBrowserAcceleratorKeysEnabled(FALSE), "turn browser keys off");
    }
  }
  setBoundsFrom(hwndHost_);
  if (!webview_) {
    fail(FAILED(gotView) ? gotView : E_POINTER, "get the view");
    return S_OK;
  }

  listen<NavigationStartingCallback>(&ICoreWebView2::add_NavigationStarting,
                                     &WebViewHost::onNavigationStarting, navigationStartingToken_,
                                     "add the navigation filter");
  listen<WebMessageReceivedCallback>(&ICoreWebView2::add_WebMessageReceived,
                                     &WebViewHost::onWebMessage, webMessageToken_,
                                     "add the message handler");
  listen<NavigationCompletedCallback>(&ICoreWebView2::add_NavigationCompleted,
                                      &WebViewHost::onNavigationCompleted,
                                      navigationCompletedToken_, "add the navigation handler");
  listen<ProcessFailedCallback>(&ICoreWebView2::add_ProcessFailed, &WebViewHost::onProcessFailed,
                                processFailedToken_, "add the process handler");
  listen<NewWindowRequestedCallback>(&ICoreWebView2::add_NewWindowRequested,
                                     &WebViewHost::onNewWindowRequested, newWindowToken_,
                                     "add the new-window handler");

  showPage();
  app_.onWebViewReady();
  // The window already had the keyboard: the page takes it, or keys go
  // nowhere until the user clicks into it.
  const HWND focus = GetFocus();
  if (focus != nullptr && (focus == hwndHost_ || focus == GetAncestor(hwndHost_, GA_ROOT))) {
    focusView();
  }
  return S_OK;
}

void WebViewHost::showPage() {
  if (uiPageHtml_.empty()) uiPageHtml_ = toWide(utf8ToUtf16(uiPageHtml()));
  const size_t bytes = uiPageHtml_.size() * sizeof(wchar_t);
  if (bytes > kMaxNavigateBytes) {
    wchar_t text[256];
    std::swprintf(text, std::size(text),
                  L"VarnholtUI.html is too large to show: %zu KB as text, the web view takes at "
                  L"most %zu KB.",
                  bytes / 1024, kMaxNavigateBytes / 1024);
    succeeded(E_INVALIDARG, "fit the page into the view");
    showFailure(text);
    return;
  }
  ownNavigationPending_ = true;
  const HRESULT shown = webview_->NavigateToString(uiPageHtml_.c_str());
  if (FAILED(shown)) {
    ownNavigationPending_ = false;
    wchar_t text[256];
    std::swprintf(text, std::size(text), L"The web view did not take the page (error 0x%08lX).",
                  static_cast<unsigned long>(shown));
    succeeded(shown, "show the page");
    showFailure(text);
  }
}

// Nothing but our page may load: a dropped file, a link or a script would
// otherwise replace it and receive the project's data.
HRESULT WebViewHost::onNavigationStarting(ICoreWebView2NavigationStartingEventArgs* args) {
  if (args == nullptr) return S_OK;
  LPWSTR uri = nullptr;
  UINT64 id = 0;
  const bool gotUri = SUCCEEDED(args->get_Uri(&uri));
  const bool gotId = SUCCEEDED(args->get_NavigationId(&id));
  bool ours = gotId && ownNavigationId_ != 0 && id == ownNavigationId_;
  if (!ours && ownNavigationPending_ && gotUri && isOwnPageAddress(uri)) {
    ours = true;
    ownNavigationPending_ = false;
    ownNavigationId_ = gotId ? id : 0;
  }
  CoTaskMemFree(uri);
  if (!ours) succeeded(args->put_Cancel(TRUE), "cancel a navigation");
  return S_OK;
}

HRESULT WebViewHost::onNavigationCompleted(ICoreWebView2NavigationCompletedEventArgs* args) {
  UINT64 id = 0;
  // Another navigation's end (a cancelled one, the runtime's error page)
  // says nothing about ours.
  if (args != nullptr && SUCCEEDED(args->get_NavigationId(&id)) && ownNavigationId_ != 0 &&
      id != ownNavigationId_) {
    return S_OK;
  }
  navigationCompleted_ = true;
  updateVisibility();
  return S_OK;
}

HRESULT WebViewHost::onProcessFailed(ICoreWebView2ProcessFailedEventArgs* args) {
  COREWEBVIEW2_PROCESS_FAILED_KIND kind = -1;
  if (args == nullptr || FAILED(args->get_ProcessFailedKind(&kind))) return S_OK;
  if (trace_) {
    std::fprintf(stderr, "webview: a runtime process failed, kind %d\n", static_cast<int>(kind));
    std::fflush(stderr);
  }
  if (failed_ || !webview_) return S_OK;
  if (kind == kBrowserProcessExited) {
    // Every view of the environment went with it. The objects stay until
    // release(): freeing them here would free this handler while it runs.
    showFailure(L"The WebView2 Runtime stopped (its browser process exited). Start Varnholt "
                L"again.");
    return S_OK;
  }
  if (kind != kRenderProcessExited) return S_OK;  // the runtime recovers from the others

  const ULONGLONG now = GetTickCount64();
  if (renderExits_ == 0 || now - renderExitsSince_ > 60000) {
    renderExits_ = 0;
    renderExitsSince_ = now;
  }
  if (++renderExits_ > kMaxRenderExitsPerMinute) {
    showFailure(L"The page's renderer stopped several times in a minute. Start Varnholt again.");
    return S_OK;
  }
  // The runtime shows its error page in a new renderer: load ours instead.
  // The page asks for the current state with "uiReady" once it is up.
  app_.onPageReloading();
  showPage();
  return S_OK;
}

// window.open, target=_blank and shift-click would open an unfiltered
// browser window of the runtime's own.
HRESULT WebViewHost::onNewWindowRequested(ICoreWebView2NewWindowRequestedEventArgs* args) {
  if (args != nullptr) succeeded(args->put_Handled(TRUE), "refuse a new window");
  return S_OK;
}

HRESULT WebViewHost::onWebMessage(ICoreWebView2WebMessageReceivedEventArgs* args) {
  if (args == nullptr) return S_OK;
  LPWSTR text = nullptr;
  if (FAILED(args->get_WebMessageAsJson(&text)) || text == nullptr) return S_OK;
  std::string json;
  try {
    json = utf16ToUtf8Lossy(toU16(text));
  } catch (...) {
    CoTaskMemFree(text);
    throw;
  }
  CoTaskMemFree(text);
  app_.handleWebMessage(json);
  return S_OK;
}

void WebViewHost::updateVisibility() {
  if (controller_ && navigationCompleted_ && !failed_) {
    succeeded(controller_->put_IsVisible(minimized_ ? FALSE : TRUE), "show or hide the view");
  }
}

void WebViewHost::setBoundsFrom(HWND host) {
  if (!controller_ || host == nullptr) return;
  RECT bounds{};
  GetClientRect(host, &bounds);
  succeeded(controller_->put_Bounds(bounds), "size the view");
}

void WebViewHost::parentMoved() {
  if (controller_ && navigationCompleted_ && !failed_) {
    controller_->NotifyParentWindowPositionChanged();
  }
}

void WebViewHost::setMinimized(bool minimized) {
  if (minimized == minimized_) return;
  minimized_ = minimized;
  updateVisibility();
}

bool WebViewHost::focusView() {
  if (!controller_ || failed_ || minimized_) return false;
  return succeeded(controller_->MoveFocus(kMoveFocusProgrammatic), "move the focus");
}

bool WebViewHost::postJson(const std::u16string& json) {
  if (!webview_ || failed_) return false;
  return succeeded(webview_->PostWebMessageAsJson(toWide(json).c_str()), "post a message");
}

void WebViewHost::release() {
  webview_.reset();
  // Closed while the host window still exists, as the runtime expects;
  // this also ends the browser processes now rather than at the last
  // reference somewhere in the runtime.
  if (controller_) succeeded(controller_->Close(), "close the controller");
  controller_.reset();
  environment_.reset();
}

}  // namespace varnholt_app
