// A stand-in for WebView2Loader.dll for the end-to-end test. It implements
// the interfaces the program declares, writes everything the program does
// with them to a log (one JSON object a line), and plays a page from a
// script: it sends web messages, waits for the program's answers, edits
// files and moves the window.
//
// Environment (read only here, never by the program):
//   VARNHOLT_FAKE_WEBVIEW2_LOG     log file, appended to
//   VARNHOLT_FAKE_WEBVIEW2_SCRIPT  script file, one step a line:
//     send <json>            deliver a web message from the page
//     select-first-file      send "selectFile" for the first file of the
//                            last "setProject"
//     wait <type> [ms]       wait for a posted message of that type that
//                            came after the last send or edit
//     append <path> <text>   append text to a file ("\n" is a line feed)
//     wait-file <path> [ms]  wait until the file exists (the driver's signal
//                            that it dealt with a dialog)
//     sleep <ms>
//     resize <w> <h>         resize the main window (WM_SIZE)
//     sizemove <w> <h>       the same inside WM_ENTERSIZEMOVE/WM_EXITSIZEMOVE
//     move <x> <y>           move the main window
//     mark <name>            write a marker to the log
//   and options, anywhere: fail-environment, fail-controller, no-webview.
// A step that times out is logged as "script-timeout" and the page quits.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "shell/win32/webview2.h"

namespace varnholt_app {
namespace {

// ---------------------------------------------------------------- logging

std::wstring environmentValue(const wchar_t* name) {
  wchar_t buffer[4096];
  const DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
  if (length == 0 || length >= 4096) return {};
  return std::wstring(buffer, length);
}

std::string toUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::wstring fromUtf8(std::string_view text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

std::string quote(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string quote(std::wstring_view text) { return quote(toUtf8(text)); }

struct Field {
  std::string key;
  std::string value;  // JSON text
};

Field text(std::string key, std::string_view value) { return {std::move(key), quote(value)}; }
Field text(std::string key, std::wstring_view value) { return {std::move(key), quote(value)}; }
Field number(std::string key, long long value) { return {std::move(key), std::to_string(value)}; }

void logEvent(std::string_view name, const std::vector<Field>& fields = {}) {
  static const std::wstring path = environmentValue(L"VARNHOLT_FAKE_WEBVIEW2_LOG");
  if (path.empty()) return;
  std::string line = "{\"event\":" + quote(name);
  for (const Field& field : fields) {
    line += ',';
    line += quote(field.key);
    line += ':';
    line += field.value;
  }
  line += "}\n";
  // Opened per line, so that the log survives whatever happens to the process.
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

DWORD uiThread = 0;

// Every call must come from the thread that created the environment.
void checkThread(const char* method) {
  if (GetCurrentThreadId() != uiThread) logEvent("wrong-thread", {text("method", method)});
}

std::string className(HWND window) {
  wchar_t name[256] = L"";
  if (window != nullptr) GetClassNameW(window, name, 256);
  return toUtf8(name);
}

std::string windowTitle(HWND window) {
  wchar_t title[256] = L"";
  if (window != nullptr) GetWindowTextW(window, title, 256);
  return toUtf8(title);
}

long long iconWidth(HICON icon) {
  ICONINFO info{};
  if (icon == nullptr || !GetIconInfo(icon, &info)) return 0;
  BITMAP bitmap{};
  GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
  if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
  if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
  return bitmap.bmWidth;
}

// What the program made of its windows, as far as the view's parent shows.
void logWindows(HWND host) {
  HWND main = GetAncestor(host, GA_ROOT);
  RECT outer{};
  GetWindowRect(main, &outer);
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(main, GWL_STYLE));
  const auto hostStyle = static_cast<DWORD>(GetWindowLongPtrW(host, GWL_STYLE));
  HDC dc = GetDC(host);
  const LRESULT erase = SendMessageW(host, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  ReleaseDC(host, dc);
  logEvent("windows",
           {text("hostClass", className(host)), text("mainClass", className(main)),
            text("mainTitle", windowTitle(main)), number("mainWidth", outer.right - outer.left),
            number("mainHeight", outer.bottom - outer.top),
            number("mainOverlapped", (style & WS_OVERLAPPEDWINDOW) == WS_OVERLAPPEDWINDOW),
            number("mainClassStyle", static_cast<long long>(GetClassLongPtrW(main, GCL_STYLE))),
            number("iconWidth", iconWidth(reinterpret_cast<HICON>(GetClassLongPtrW(main, GCLP_HICON)))),
            number("smallIconWidth",
                   iconWidth(reinterpret_cast<HICON>(GetClassLongPtrW(main, GCLP_HICONSM)))),
            number("hostChildStyle", (hostStyle & (WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN)) ==
                                         (WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN)),
            number("hostEraseResult", static_cast<long long>(erase))});
}

// ------------------------------------------------------ deferred callbacks

// Callbacks reach the program through its own message loop, as the real
// runtime's do, never from inside one of the program's calls.
HWND taskWindow = nullptr;
std::deque<std::function<void()>> tasks;
std::map<UINT_PTR, std::function<void()>> timers;
UINT_PTR nextTimer = 1;
constexpr UINT kRunTask = WM_APP + 1;

LRESULT CALLBACK taskWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRunTask && !tasks.empty()) {
    std::function<void()> task = std::move(tasks.front());
    tasks.pop_front();
    task();
    return 0;
  }
  if (message == WM_TIMER) {
    KillTimer(window, wParam);
    auto found = timers.find(wParam);
    if (found != timers.end()) {
      std::function<void()> task = std::move(found->second);
      timers.erase(found);
      task();
    }
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void defer(std::function<void()> task) {
  tasks.push_back(std::move(task));
  PostMessageW(taskWindow, kRunTask, 0, 0);
}

UINT_PTR after(UINT ms, std::function<void()> task) {
  const UINT_PTR id = nextTimer++;
  timers[id] = std::move(task);
  SetTimer(taskWindow, id, ms, nullptr);
  return id;
}

void cancel(UINT_PTR id) {
  KillTimer(taskWindow, id);
  timers.erase(id);
}

// ------------------------------------------------------------ COM objects

// Reference counts are logged: the object is never freed, so that a
// program that releases too often shows up in the log instead of crashing.
template <class Interface>
class Counted : public Interface {
 public:
  explicit Counted(const char* name) : name_(name) {}
  virtual ~Counted() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, Interface::iid)) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    if (references_ == 0) {
      logEvent("over-release", {text("object", name_)});
      return 0;
    }
    if (--references_ == 0) {
      logEvent("final-release", {text("object", name_)});
      onFinalRelease();
    }
    return references_;
  }
  ULONG references() const { return references_; }

 protected:
  virtual void onFinalRelease() {}

 private:
  const char* name_;
  ULONG references_ = 1;  // the creator's
};

// A handler the program gave us: we keep one reference while we need it and
// log what our final release leaves (0 when the program released its own).
void probeHandler(IUnknown* handler, const GUID& ownIid, const char* kind) {
  void* viaUnknown = nullptr;
  void* viaOwn = nullptr;
  void* viaOther = nullptr;
  const bool unknownOk = SUCCEEDED(handler->QueryInterface(IID_IUnknown, &viaUnknown));
  const bool ownOk = SUCCEEDED(handler->QueryInterface(ownIid, &viaOwn));
  const HRESULT other = handler->QueryInterface(ICoreWebView2Environment::iid, &viaOther);
  if (unknownOk) static_cast<IUnknown*>(viaUnknown)->Release();
  if (ownOk) static_cast<IUnknown*>(viaOwn)->Release();
  logEvent("handler-probe", {text("kind", kind), number("unknown", unknownOk),
                             number("own", ownOk), number("otherRejected", other == E_NOINTERFACE),
                             number("otherNulled", viaOther == nullptr)});
}

void releaseHandler(IUnknown* handler, const char* kind) {
  const ULONG left = handler->Release();
  logEvent("handler-released", {text("kind", kind), number("left", static_cast<long long>(left))});
}

bool failEnvironment = false;
bool failController = false;
bool noWebView = false;

class Settings final : public Counted<ICoreWebView2Settings> {
 public:
  Settings() : Counted("settings") {}
#define VARNHOLT_SETTING(Name, initial)                                          \
  HRESULT STDMETHODCALLTYPE get_##Name(BOOL* value) override {                   \
    if (value == nullptr) return E_POINTER;                                      \
    *value = initial;                                                            \
    return S_OK;                                                                 \
  }                                                                              \
  HRESULT STDMETHODCALLTYPE put_##Name(BOOL value) override {                    \
    checkThread("put_" #Name);                                                   \
    logEvent("setting", {text("name", #Name), number("value", value)});          \
    return S_OK;                                                                 \
  }
  VARNHOLT_SETTING(IsScriptEnabled, TRUE)
  VARNHOLT_SETTING(IsWebMessageEnabled, TRUE)
  VARNHOLT_SETTING(AreDefaultScriptDialogsEnabled, TRUE)
  VARNHOLT_SETTING(IsStatusBarEnabled, TRUE)
  VARNHOLT_SETTING(AreDevToolsEnabled, TRUE)
  VARNHOLT_SETTING(AreDefaultContextMenusEnabled, TRUE)
  VARNHOLT_SETTING(AreHostObjectsAllowed, TRUE)
  VARNHOLT_SETTING(IsZoomControlEnabled, TRUE)
  VARNHOLT_SETTING(IsBuiltInErrorPageEnabled, TRUE)
#undef VARNHOLT_SETTING
};

class NavigationArgs final : public Counted<ICoreWebView2NavigationCompletedEventArgs> {
 public:
  NavigationArgs() : Counted("navigation-args") {}
  HRESULT STDMETHODCALLTYPE get_IsSuccess(BOOL* value) override {
    if (value == nullptr) return E_POINTER;
    *value = TRUE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_WebErrorStatus(COREWEBVIEW2_WEB_ERROR_STATUS* value) override {
    if (value == nullptr) return E_POINTER;
    *value = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* value) override {
    if (value == nullptr) return E_POINTER;
    *value = 1;
    return S_OK;
  }
};

LPWSTR coTaskCopy(const std::wstring& text) {
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), bytes);
  return copy;
}

class MessageArgs final : public Counted<ICoreWebView2WebMessageReceivedEventArgs> {
 public:
  explicit MessageArgs(std::wstring json) : Counted("message-args"), json_(std::move(json)) {}
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* source) override {
    if (source == nullptr) return E_POINTER;
    *source = coTaskCopy(L"about:blank");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR* json) override {
    checkThread("get_WebMessageAsJson");
    if (json == nullptr) return E_POINTER;
    *json = coTaskCopy(json_);
    return *json != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE TryGetWebMessageAsString(LPWSTR* text) override {
    if (text == nullptr) return E_POINTER;
    *text = nullptr;
    return E_INVALIDARG;  // the page posts objects
  }

 private:
  std::wstring json_;
};

void onPost(const std::wstring& json);
void startScript();

class WebView final : public Counted<ICoreWebView2> {
 public:
  WebView() : Counted("webview") {}

  HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** settings) override {
    checkThread("get_Settings");
    if (settings == nullptr) return E_POINTER;
    settings_.AddRef();
    *settings = &settings_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* uri) override {
    if (uri == nullptr) return E_POINTER;
    *uri = coTaskCopy(L"about:blank");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR) override {
    logEvent("unexpected-call", {text("method", "Navigate")});
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE NavigateToString(LPCWSTR html) override {
    checkThread("NavigateToString");
    if (html == nullptr) return E_INVALIDARG;
    const std::wstring page(html);
    logEvent("navigate", {number("length", static_cast<long long>(page.size())),
                          number("firstUnit", page.empty() ? -1 : page[0]),
                          text("html", page)});
    defer([this] {
      NavigationArgs args;
      for (ICoreWebView2NavigationCompletedEventHandler* handler : navigationHandlers_) {
        handler->Invoke(this, &args);
      }
      logEvent("navigation-completed");
      startScript();
    });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE add_NavigationStarting(ICoreWebView2NavigationStartingEventHandler*,
                                                   EventRegistrationToken*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_NavigationStarting(EventRegistrationToken) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE add_ContentLoading(ICoreWebView2ContentLoadingEventHandler*,
                                               EventRegistrationToken*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_ContentLoading(EventRegistrationToken) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE add_SourceChanged(ICoreWebView2SourceChangedEventHandler*,
                                              EventRegistrationToken*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_SourceChanged(EventRegistrationToken) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE add_HistoryChanged(ICoreWebView2HistoryChangedEventHandler*,
                                               EventRegistrationToken*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_HistoryChanged(EventRegistrationToken) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE add_NavigationCompleted(
      ICoreWebView2NavigationCompletedEventHandler* handler,
      EventRegistrationToken* token) override {
    checkThread("add_NavigationCompleted");
    if (handler == nullptr || token == nullptr) return E_POINTER;
    handler->AddRef();
    probeHandler(handler, ICoreWebView2NavigationCompletedEventHandler::iid,
                 "navigation-completed");
    navigationHandlers_.push_back(handler);
    token->value = nextToken_++;
    logEvent("add-handler", {text("kind", "navigation-completed"), number("token", token->value)});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE remove_NavigationCompleted(EventRegistrationToken) override {
    logEvent("unexpected-call", {text("method", "remove_NavigationCompleted")});
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE add_FrameNavigationStarting(ICoreWebView2NavigationStartingEventHandler*,
                                                        EventRegistrationToken*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_FrameNavigationStarting(EventRegistrationToken) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE add_FrameNavigationCompleted(
      ICoreWebView2NavigationCompletedEventHandler*, EventRegistrationToken*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_FrameNavigationCompleted(EventRegistrationToken) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE add_ScriptDialogOpening(ICoreWebView2ScriptDialogOpeningEventHandler*,
                                                    EventRegistrationToken*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_ScriptDialogOpening(EventRegistrationToken) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE add_PermissionRequested(ICoreWebView2PermissionRequestedEventHandler*,
                                                    EventRegistrationToken*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_PermissionRequested(EventRegistrationToken) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE add_ProcessFailed(ICoreWebView2ProcessFailedEventHandler*,
                                              EventRegistrationToken*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_ProcessFailed(EventRegistrationToken) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(
      LPCWSTR, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RemoveScriptToExecuteOnDocumentCreated(LPCWSTR) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ExecuteScript(LPCWSTR,
                                          ICoreWebView2ExecuteScriptCompletedHandler*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CapturePreview(COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT, IStream*,
                                           ICoreWebView2CapturePreviewCompletedHandler*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Reload() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PostWebMessageAsJson(LPCWSTR json) override {
    checkThread("PostWebMessageAsJson");
    if (json == nullptr) return E_INVALIDARG;
    onPost(json);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PostWebMessageAsString(LPCWSTR) override {
    logEvent("unexpected-call", {text("method", "PostWebMessageAsString")});
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE add_WebMessageReceived(ICoreWebView2WebMessageReceivedEventHandler* handler,
                                                   EventRegistrationToken* token) override {
    checkThread("add_WebMessageReceived");
    if (handler == nullptr || token == nullptr) return E_POINTER;
    handler->AddRef();
    probeHandler(handler, ICoreWebView2WebMessageReceivedEventHandler::iid, "web-message");
    messageHandlers_.push_back(handler);
    token->value = nextToken_++;
    logEvent("add-handler", {text("kind", "web-message"), number("token", token->value)});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE remove_WebMessageReceived(EventRegistrationToken) override {
    logEvent("unexpected-call", {text("method", "remove_WebMessageReceived")});
    return E_NOTIMPL;
  }

  // The page sends a message.
  void deliver(const std::wstring& json) {
    logEvent("send", {text("json", json)});
    MessageArgs args(json);
    for (ICoreWebView2WebMessageReceivedEventHandler* handler : messageHandlers_) {
      handler->Invoke(this, &args);
    }
  }

 protected:
  void onFinalRelease() override {
    for (auto* handler : messageHandlers_) releaseHandler(handler, "web-message");
    for (auto* handler : navigationHandlers_) releaseHandler(handler, "navigation-completed");
    messageHandlers_.clear();
    navigationHandlers_.clear();
    settings_.Release();
  }

 private:
  Settings settings_;
  std::vector<ICoreWebView2WebMessageReceivedEventHandler*> messageHandlers_;
  std::vector<ICoreWebView2NavigationCompletedEventHandler*> navigationHandlers_;
  int64_t nextToken_ = 41;
};

WebView* theWebView = nullptr;

class Controller final : public Counted<ICoreWebView2Controller> {
 public:
  Controller() : Counted("controller") {}

  HWND parent = nullptr;

  HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL* visible) override {
    if (visible == nullptr) return E_POINTER;
    *visible = visible_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL visible) override {
    checkThread("put_IsVisible");
    visible_ = visible;
    logEvent("visible", {number("value", visible)});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Bounds(RECT* bounds) override {
    if (bounds == nullptr) return E_POINTER;
    *bounds = bounds_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Bounds(RECT bounds) override {
    checkThread("put_Bounds");
    bounds_ = bounds;
    RECT client{};
    GetClientRect(parent, &client);
    logEvent("bounds", {number("left", bounds.left), number("top", bounds.top),
                        number("right", bounds.right), number("bottom", bounds.bottom),
                        number("hostRight", client.right), number("hostBottom", client.bottom),
                        number("hostVisible", IsWindowVisible(parent))});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ZoomFactor(double*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ZoomFactor(double) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_ZoomFactorChanged(ICoreWebView2ZoomFactorChangedEventHandler*,
                                                  EventRegistrationToken*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_ZoomFactorChanged(EventRegistrationToken) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetBoundsAndZoomFactor(RECT, double) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_MoveFocusRequested(ICoreWebView2MoveFocusRequestedEventHandler*,
                                                   EventRegistrationToken*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_MoveFocusRequested(EventRegistrationToken) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE add_GotFocus(ICoreWebView2FocusChangedEventHandler*,
                                         EventRegistrationToken*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_GotFocus(EventRegistrationToken) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_LostFocus(ICoreWebView2FocusChangedEventHandler*,
                                          EventRegistrationToken*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_LostFocus(EventRegistrationToken) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_AcceleratorKeyPressed(ICoreWebView2AcceleratorKeyPressedEventHandler*,
                                                      EventRegistrationToken*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_AcceleratorKeyPressed(EventRegistrationToken) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_ParentWindow(HWND* window) override {
    if (window == nullptr) return E_POINTER;
    *window = parent;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_ParentWindow(HWND) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() override {
    checkThread("NotifyParentWindowPositionChanged");
    logEvent("notify-moved");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Close() override {
    logEvent("close");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** webview) override {
    checkThread("get_CoreWebView2");
    if (webview == nullptr) return E_POINTER;
    if (theWebView == nullptr) {
      *webview = nullptr;
      return E_FAIL;
    }
    theWebView->AddRef();
    *webview = theWebView;
    return S_OK;
  }

 protected:
  void onFinalRelease() override {
    if (theWebView != nullptr) theWebView->Release();  // our creation reference
  }

 private:
  BOOL visible_ = TRUE;
  RECT bounds_{};
};

Controller* theController = nullptr;

class Environment final : public Counted<ICoreWebView2Environment> {
 public:
  Environment() : Counted("environment") {}

  HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(
      HWND parent, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) override {
    checkThread("CreateCoreWebView2Controller");
    if (handler == nullptr) return E_POINTER;
    logEvent("create-controller", {text("parentClass", className(parent))});
    logWindows(parent);
    handler->AddRef();
    probeHandler(handler, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler::iid,
                 "controller-completed");
    defer([handler, parent] {
      if (failController) {
        handler->Invoke(E_FAIL, nullptr);
      } else {
        if (!noWebView) theWebView = new WebView();
        theController = new Controller();
        theController->parent = parent;
        handler->Invoke(S_OK, theController);
        theController->Release();  // the program keeps its own
      }
      releaseHandler(handler, "controller-completed");
    });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateWebResourceResponse(IStream*, int, LPCWSTR, LPCWSTR,
                                                      ICoreWebView2WebResourceResponse**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_BrowserVersionString(LPWSTR* version) override {
    if (version == nullptr) return E_POINTER;
    *version = coTaskCopy(L"0.0.0.0 fake");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE add_NewBrowserVersionAvailable(
      ICoreWebView2NewBrowserVersionAvailableEventHandler*, EventRegistrationToken*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_NewBrowserVersionAvailable(EventRegistrationToken) override {
    return E_NOTIMPL;
  }
};

// ------------------------------------------------------------------ script

std::vector<std::string> script;
size_t nextStep = 0;
bool scriptStarted = false;
std::vector<std::wstring> posts;
size_t postCursor = 0;  // waits look at posts from here on
std::wstring waitingFor;
UINT_PTR waitTimer = 0;
constexpr UINT kDefaultWaitMs = 30000;

void runScript();

std::wstring messageType(const std::wstring& json) {
  const std::wstring key = L"\"type\":\"";
  const size_t at = json.find(key);
  if (at == std::wstring::npos) return {};
  const size_t from = at + key.size();
  const size_t end = json.find(L'"', from);
  return end == std::wstring::npos ? std::wstring() : json.substr(from, end - from);
}

// The JSON string starting at `from` (just past its opening quote).
std::wstring readJsonString(const std::wstring& json, size_t from) {
  std::wstring out;
  for (size_t i = from; i < json.size(); ++i) {
    const wchar_t c = json[i];
    if (c == L'"') break;
    if (c != L'\\' || i + 1 >= json.size()) {
      out += c;
      continue;
    }
    const wchar_t e = json[++i];
    switch (e) {
      case L'n': out += L'\n'; break;
      case L't': out += L'\t'; break;
      case L'r': out += L'\r'; break;
      case L'b': out += L'\b'; break;
      case L'f': out += L'\f'; break;
      case L'u':
        if (i + 4 < json.size()) {
          out += static_cast<wchar_t>(std::stoul(json.substr(i + 1, 4), nullptr, 16));
          i += 4;
        }
        break;
      default: out += e; break;
    }
  }
  return out;
}

std::string base64(std::string_view bytes) {
  static const char alphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  auto byte = [&](size_t at) { return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])); };
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
    out += alphabet[v >> 18 & 63];
    out += alphabet[v >> 12 & 63];
    out += alphabet[v >> 6 & 63];
    out += alphabet[v & 63];
  }
  if (i + 1 == bytes.size()) {
    const uint32_t v = byte(i) << 16;
    out += alphabet[v >> 18 & 63];
    out += alphabet[v >> 12 & 63];
    out += "==";
  } else if (i + 2 == bytes.size()) {
    const uint32_t v = byte(i) << 16 | byte(i + 1) << 8;
    out += alphabet[v >> 18 & 63];
    out += alphabet[v >> 12 & 63];
    out += alphabet[v >> 6 & 63];
    out += '=';
  }
  return out;
}

void quitAfterFailure(std::string_view step) {
  logEvent("script-timeout", {text("step", step)});
  nextStep = script.size();
  waitingFor.clear();
  if (theWebView != nullptr) theWebView->deliver(L"{\"type\":\"quitApp\"}");
}

void onPost(const std::wstring& json) {
  logEvent("post", {text("json", json), number("index", static_cast<long long>(posts.size()))});
  posts.push_back(json);
  if (!waitingFor.empty() && messageType(json) == waitingFor) {
    postCursor = posts.size();
    waitingFor.clear();
    cancel(waitTimer);
    defer(runScript);
  }
}

void startScript() {
  if (scriptStarted) return;
  scriptStarted = true;
  logEvent("script-start", {number("steps", static_cast<long long>(script.size()))});
  runScript();
}

std::string argumentAfter(const std::string& line, size_t words) {
  size_t at = 0;
  for (size_t i = 0; i < words && at != std::string::npos; ++i) {
    at = line.find(' ', at);
    if (at != std::string::npos) ++at;
  }
  return at == std::string::npos ? std::string() : line.substr(at);
}

HWND mainWindow() { return theController ? GetAncestor(theController->parent, GA_ROOT) : nullptr; }

void appendToFile(const std::string& rest) {
  const size_t space = rest.find(' ');
  const std::wstring path = fromUtf8(rest.substr(0, space));
  const std::string raw = space == std::string::npos ? std::string() : rest.substr(space + 1);
  std::string content;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 1 < raw.size() && raw[i + 1] == 'n') {
      content += '\n';
      ++i;
    } else {
      content += raw[i];
    }
  }
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  const bool ok = file != INVALID_HANDLE_VALUE &&
                  WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written,
                            nullptr) &&
                  written == content.size();
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  logEvent("appended", {text("path", path), number("ok", ok)});
}

void waitForFile(const std::wstring& path, ULONGLONG deadline, const std::string& line) {
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    defer(runScript);
  } else if (GetTickCount64() >= deadline) {
    quitAfterFailure(line);
  } else {
    after(100, [path, deadline, line] { waitForFile(path, deadline, line); });
  }
}

void runScript() {
  while (nextStep < script.size() && waitingFor.empty()) {
    const std::string line = script[nextStep++];
    const std::string verb = line.substr(0, line.find(' '));
    const std::string rest = argumentAfter(line, 1);
    logEvent("step", {text("line", line)});
    if (theWebView == nullptr) {
      logEvent("bad-step", {text("line", line)});
      return;
    }
    if (verb == "send") {
      postCursor = posts.size();
      theWebView->deliver(fromUtf8(rest));
    } else if (verb == "select-first-file") {
      std::wstring project;
      for (const std::wstring& json : posts) {
        if (messageType(json) == L"setProject") project = json;
      }
      const size_t files = project.find(L"\"files\":[");
      const size_t path = project.find(L"\"path\":\"", files == std::wstring::npos ? 0 : files);
      if (files == std::wstring::npos || path == std::wstring::npos) {
        quitAfterFailure(line);
        return;
      }
      const std::wstring selected = readJsonString(project, path + 8);
      logEvent("selected", {text("path", selected)});
      postCursor = posts.size();
      theWebView->deliver(L"{\"type\":\"selectFile\",\"path_b64\":\"" +
                          fromUtf8(base64(toUtf8(selected))) + L"\"}");
    } else if (verb == "wait") {
      const std::string type = rest.substr(0, rest.find(' '));
      const std::string timeout = argumentAfter(rest, 1);
      const std::wstring wanted = fromUtf8(type);
      bool found = false;
      for (size_t i = postCursor; i < posts.size(); ++i) {
        if (messageType(posts[i]) == wanted) {
          postCursor = i + 1;
          found = true;
          break;
        }
      }
      if (found) continue;
      waitingFor = wanted;
      const UINT ms = timeout.empty() ? kDefaultWaitMs : static_cast<UINT>(std::stoul(timeout));
      waitTimer = after(ms, [line] { quitAfterFailure(line); });
    } else if (verb == "wait-file") {
      const std::string path = rest.substr(0, rest.find(' '));
      const std::string timeout = argumentAfter(rest, 1);
      const UINT ms = timeout.empty() ? kDefaultWaitMs : static_cast<UINT>(std::stoul(timeout));
      waitForFile(fromUtf8(path), GetTickCount64() + ms, line);
      return;
    } else if (verb == "append") {
      postCursor = posts.size();
      appendToFile(rest);
    } else if (verb == "sleep") {
      after(static_cast<UINT>(std::stoul(rest)), runScript);
      return;
    } else if (verb == "resize" || verb == "sizemove" || verb == "move") {
      const int a = std::stoi(rest);
      const int b = std::stoi(argumentAfter(rest, 1));
      HWND window = mainWindow();
      const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | (verb == "move" ? SWP_NOSIZE : SWP_NOMOVE);
      if (verb == "sizemove") SendMessageW(window, WM_ENTERSIZEMOVE, 0, 0);
      SetWindowPos(window, nullptr, a, b, a, b, flags);
      if (verb == "sizemove") {
        logEvent("inside-sizemove");
        SendMessageW(window, WM_EXITSIZEMOVE, 0, 0);
      }
    } else if (verb == "mark") {
      logEvent("mark", {text("name", rest)});
    } else {
      logEvent("bad-step", {text("line", line)});
    }
  }
  if (nextStep >= script.size() && waitingFor.empty()) logEvent("script-done");
}

void loadScript() {
  const std::wstring path = environmentValue(L"VARNHOLT_FAKE_WEBVIEW2_SCRIPT");
  if (path.empty()) return;
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) {
    logEvent("no-script", {text("path", path)});
    return;
  }
  std::string line;
  for (int c; (c = std::fgetc(file)) != EOF;) {
    if (c != '\n') {
      if (c != '\r') line += static_cast<char>(c);
      continue;
    }
    if (line == "fail-environment") {
      failEnvironment = true;
    } else if (line == "fail-controller") {
      failController = true;
    } else if (line == "no-webview") {
      noWebView = true;
    } else if (!line.empty() && line[0] != '#') {
      script.push_back(line);
    }
    line.clear();
  }
  if (!line.empty()) script.push_back(line);
  std::fclose(file);
}

Environment* theEnvironment = nullptr;

}  // namespace
}  // namespace varnholt_app

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR browserExecutableFolder, PCWSTR userDataFolder,
    varnholt_app::ICoreWebView2EnvironmentOptions* options,
    varnholt_app::ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  using namespace varnholt_app;
  uiThread = GetCurrentThreadId();
  loadScript();
  APTTYPE apartment = APTTYPE_CURRENT;
  APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
  const bool sta = SUCCEEDED(CoGetApartmentType(&apartment, &qualifier)) &&
                   (apartment == APTTYPE_STA || apartment == APTTYPE_MAINSTA);
  logEvent("create-environment",
           {number("browserFolderNull", browserExecutableFolder == nullptr),
            number("userDataFolderNull", userDataFolder == nullptr),
            number("optionsNull", options == nullptr), number("sta", sta)});
  if (handler == nullptr) return E_POINTER;

  WNDCLASSW taskClass{};
  taskClass.lpfnWndProc = taskWindowProc;
  taskClass.hInstance = GetModuleHandleW(nullptr);
  taskClass.lpszClassName = L"VarnholtFakeWebView2Tasks";
  RegisterClassW(&taskClass);
  taskWindow = CreateWindowExW(0, taskClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                               nullptr, taskClass.hInstance, nullptr);

  handler->AddRef();
  probeHandler(handler, ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler::iid,
               "environment-completed");
  defer([handler] {
    if (failEnvironment) {
      handler->Invoke(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), nullptr);
    } else {
      theEnvironment = new Environment();
      handler->Invoke(S_OK, theEnvironment);
      theEnvironment->Release();  // the program keeps its own
    }
    releaseHandler(handler, "environment-completed");
  });
  return S_OK;
}
