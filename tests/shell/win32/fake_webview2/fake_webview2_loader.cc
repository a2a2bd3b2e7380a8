// A stand-in for WebView2Loader.dll for the end-to-end test (e2e_test.py).
// Its objects are raw vtables numbered by the runtime's slot order, written
// here independently of the program's declarations: a slot the program calls
// that is not implemented logs "trap <object> <slot>". It logs what the
// program does (one line an event) and plays the page from a script:
//   send <json> | wait <type> [ms] | wait-file <path> [ms] | sleep <ms>
//   append <path> <text> ('|' is a line feed) | resize|sizemove|move <a> <b>
//   navigate <uri> | popup <uri> | crash render|browser | activate | host-text
//   | mark <name>; and the options fail-environment, no-webview, fail-posts.
// Also copied as the installed runtime's client DLL.
// Environment: VARNHOLT_FAKE_WEBVIEW2_LOG, VARNHOLT_FAKE_WEBVIEW2_SCRIPT.

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace varnholt_app {
namespace {

std::string utf8(const wchar_t* text) {
  std::string out(std::wcslen(text) * 3 + 1, '\0');
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(),
                                       static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(static_cast<size_t>(size - 1));
  return out;
}

std::wstring wide(const std::string& text) {
  std::wstring out(text.size() + 1, L'\0');
  out.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(),
                                                     static_cast<int>(out.size())) - 1));
  return out;
}

DWORD uiThread = 0;

// Opened per line, so that the log survives whatever happens to the process.
// Everything here runs on the thread that asked for the environment, the
// program's calls included, or the line says otherwise.
__attribute__((format(gnu_printf, 1, 2))) void note(const char* format, ...) {
  const wchar_t* path = _wgetenv(L"VARNHOLT_FAKE_WEBVIEW2_LOG");
  FILE* file = path != nullptr ? _wfopen(path, L"ab") : nullptr;
  if (file == nullptr) return;
  if (GetCurrentThreadId() != uiThread) std::fputs("wrong-thread ", file);
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(file, format, arguments);
  va_end(arguments);
  std::fputc('\n', file);
  std::fclose(file);
}

// Callbacks reach the program through its own message loop, as the real
// runtime's do, never from inside one of the program's calls.
std::map<UINT_PTR, std::function<void()>> timers;

void CALLBACK onTimer(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  const std::function<void()> task = std::move(timers[id]);
  timers.erase(id);
  task();
}

void after(UINT ms, std::function<void()> task) {
  timers[SetTimer(nullptr, 0, ms, onTimer)] = std::move(task);
}

// ------------------------------------------------------------ COM objects

using Slot = void (*)();
using VTable = std::array<Slot, 64>;

// Never freed: a program that releases too often shows up in the log
// instead of crashing.
struct Object {
  const VTable* vtable;
  const char* name;
  ULONG references = 1;  // the creator's
  std::function<void()> onFinalRelease = [] {};
};

template <class F>
Slot slot(F function) {
  return reinterpret_cast<Slot>(function);
}

// Calls slot `index` of a COM object of the program's (its handlers: IUnknown,
// then Invoke at 3).
template <class R, class... A>
R call(void* object, int index, A... arguments) {
  const Slot method = (*static_cast<Slot**>(object))[index];
  return reinterpret_cast<R(STDMETHODCALLTYPE*)(void*, A...)>(method)(object, arguments...);
}
// Our release of a handler, logging what is left: 0 when the program kept none.
void dropHandler(void* handler, const char* kind) {
  note("handler-released %s %lu", kind, call<ULONG>(handler, 2));
}

template <int N>
HRESULT STDMETHODCALLTYPE trap(Object* self) {
  note("trap %s %d", self->name, N);
  return E_NOTIMPL;
}
ULONG STDMETHODCALLTYPE addRef(Object* self) { return ++self->references; }
ULONG STDMETHODCALLTYPE release(Object* self) {
  if (self->references == 0) {
    note("over-release %s", self->name);
  } else if (--self->references == 0) {
    note("final-release %s", self->name);
    self->onFinalRelease();
  }
  return self->references;
}

template <int... N>
VTable traps(std::integer_sequence<int, N...>) {
  return {slot(&trap<N>)...};
}
// Every slot traps except AddRef, Release and the given ones (the program
// needs no QueryInterface of ours).
VTable makeVTable(std::initializer_list<std::pair<size_t, Slot>> methods) {
  VTable table = traps(std::make_integer_sequence<int, 64>());
  table[1] = slot(&addRef);
  table[2] = slot(&release);
  for (const auto& [index, method] : methods) table[index] = method;
  return table;
}

bool failEnvironment = false;
bool noWebView = false;
bool failPosts = false;
HWND host = nullptr;
Object* webView = nullptr;
std::wstring messageJson;
std::vector<std::string> posts;
int navigateCalls = 0;
UINT64 lastNavigationId = 0;
bool rendererCrashed = false;  // the next navigation finds the error page loading
void startScript();

// The view's events by the slot of their add_ method, with the IID each
// handler must answer to (as the runtime's interface definitions give it).
struct EventKind {
  const char* name;
  const wchar_t* iid;
  std::vector<void*> handlers;
};
std::map<int, EventKind> events = {
    {7, {"navigation-starting", L"{9ADBE429-F36D-432B-9DDC-F8881FBD76E3}", {}}},
    {15, {"navigation-completed", L"{D33A35BF-1C49-4F98-93AB-006E0533FE1C}", {}}},
    {25, {"process-failed", L"{79E0AEA4-990B-42D9-AA1D-0FCC2E5BC7F1}", {}}},
    {34, {"web-message", L"{57213F19-00E6-49FA-8E07-898EA01ECBD2}", {}}},
    {44, {"new-window", L"{D4C185FE-C81C-4989-97AF-2D3FA7AB5651}", {}}},
};
template <class Args>
void raise(int slot, Args* args) {
  for (void* handler : events[slot].handlers) call<HRESULT>(handler, 3, webView, args);
}

GUID guid(const wchar_t* text) {
  GUID value{};
  IIDFromString(text, &value);
  return value;
}

// Settings: QueryInterface 0 (for ICoreWebView2Settings3 only),
// put_AreDevToolsEnabled 12, put_AreDefaultContextMenusEnabled 14,
// put_IsZoomControlEnabled 18, put_AreBrowserAcceleratorKeysEnabled 24.
template <int N>
HRESULT STDMETHODCALLTYPE putSetting(Object*, BOOL value) {
  note("setting %d %d", N, value);
  return S_OK;
}
HRESULT STDMETHODCALLTYPE querySettings(Object* self, const GUID* iid, void** out) {
  const bool known = IsEqualGUID(*iid, guid(L"{FDB5AB74-AF33-4854-84F0-0A631DEB5EBA}"));
  if (!known) note("settings-query unknown");
  *out = known ? (addRef(self), self) : nullptr;
  return known ? S_OK : E_NOINTERFACE;
}
const VTable settingsTable = makeVTable(
    {{0, slot(&querySettings)}, {12, slot(&putSetting<12>)}, {14, slot(&putSetting<14>)},
     {18, slot(&putSetting<18>)}, {24, slot(&putSetting<24>)}});
Object settings{&settingsTable, "settings"};

// Message arguments: get_WebMessageAsJson 4.
template <const std::wstring* text>
HRESULT STDMETHODCALLTYPE getText(Object*, LPWSTR* out) {
  const size_t bytes = (text->size() + 1) * sizeof(wchar_t);
  *out = static_cast<LPWSTR>(std::memcpy(CoTaskMemAlloc(bytes), text->c_str(), bytes));
  return S_OK;
}
const VTable messageArgsTable = makeVTable({{4, slot(&getText<&messageJson>)}});

template <class T, const T* value>
HRESULT STDMETHODCALLTYPE getValue(Object*, T* out) {
  *out = *value;
  return S_OK;
}

// Navigation-completed arguments: get_NavigationId 5.
UINT64 completedId = 0;
const VTable navigationArgsTable = makeVTable({{5, slot(&getValue<UINT64, &completedId>)}});

void navigationCompleted(UINT64 id, const char* what) {
  completedId = id;
  Object args{&navigationArgsTable, "navigation-args"};
  raise(15, &args);
  note("navigation-completed %s", what);
}

// Navigation-starting arguments: get_Uri 3, put_Cancel 8, get_NavigationId 9.
std::wstring startingUri;
UINT64 startingId = 0;
BOOL cancelled = FALSE;
HRESULT STDMETHODCALLTYPE putCancel(Object*, BOOL cancel) { cancelled = cancel; return S_OK; }
const VTable startingArgsTable =
    makeVTable({{3, slot(&getText<&startingUri>)}, {8, slot(&putCancel)},
                {9, slot(&getValue<UINT64, &startingId>)}});

// Every navigation, cancelled or not, ends with a completion.
void navigate(const std::wstring& uri, const char* what) {
  startingUri = uri;
  startingId = ++lastNavigationId;
  cancelled = FALSE;
  Object args{&startingArgsTable, "starting-args"};
  raise(7, &args);
  note("navigation %s cancelled %d", utf8(uri.c_str()).c_str(), cancelled);
  navigationCompleted(startingId, cancelled ? "cancelled" : what);
}

void deliver(const std::wstring& json) {
  note("send %s", utf8(json.c_str()).c_str());
  messageJson = json;
  Object args{&messageArgsTable, "message-args"};
  raise(34, &args);
}

// Process-failed arguments: get_ProcessFailedKind 3.
INT32 failedKind = 0;
const VTable failedArgsTable = makeVTable({{3, slot(&getValue<INT32, &failedKind>)}});

// New-window arguments: get_Uri 3, put_NewWindow 4, put_Handled 6.
std::wstring popupUri;
BOOL popupHandled = FALSE;
HRESULT STDMETHODCALLTYPE putNewWindow(Object*, void*) { note("new-window-given"); return S_OK; }
HRESULT STDMETHODCALLTYPE putHandled(Object*, BOOL handled) { popupHandled = handled; return S_OK; }
const VTable newWindowArgsTable = makeVTable(
    {{3, slot(&getText<&popupUri>)}, {4, slot(&putNewWindow)}, {6, slot(&putHandled)}});

void noteHostText() {
  HWND hostWindow = FindWindowExW(FindWindowW(L"VarnholtMain", nullptr), nullptr,
                                  L"VarnholtWebHost", nullptr);
  wchar_t text[512] = L"";
  GetWindowTextW(hostWindow, text, 512);
  note("host-text %s", utf8(text).c_str());
}

// The view: get_Settings 3, NavigateToString 6, add_NavigationStarting 7,
// add_NavigationCompleted 15, add_ProcessFailed 25, PostWebMessageAsJson 32,
// add_WebMessageReceived 34, add_NewWindowRequested 44.
HRESULT STDMETHODCALLTYPE getSettings(Object*, Object** out) {
  addRef(*out = &settings);
  return S_OK;
}
HRESULT STDMETHODCALLTYPE navigateToString(Object*, LPCWSTR html) {
  std::string escaped;
  for (const char c : utf8(html)) escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
  note("navigate %s", escaped.c_str());
  ++navigateCalls;
  after(0, [] {
    // After a renderer crash the runtime's own error page is loading
    // already; it completes while the program's navigation waits.
    if (std::exchange(rendererCrashed, false)) {
      navigationCompleted(++lastNavigationId, "error-page");
    }
    navigate(L"about:blank", "page");
    startScript();
  });
  return S_OK;
}
template <int N>
HRESULT STDMETHODCALLTYPE addHandler(Object*, void* handler, INT64* token) {
  EventKind& kind = events[N];
  void* asked = nullptr;
  const GUID iid = guid(kind.iid);
  if (FAILED(call<HRESULT>(handler, 0, &iid, &asked)) || asked != handler) {
    note("bad-iid %s", kind.name);
  }
  if (asked != nullptr) call<ULONG>(asked, 2);
  call<ULONG>(handler, 1);
  kind.handlers.push_back(handler);
  note("add %s", kind.name);
  *token = N;
  return S_OK;
}
HRESULT STDMETHODCALLTYPE postJson(Object*, LPCWSTR json) {
  posts.push_back(utf8(json));
  note("post %s", posts.back().c_str());
  return failPosts ? E_FAIL : S_OK;
}
const VTable webViewTable = makeVTable(
    {{3, slot(&getSettings)}, {6, slot(&navigateToString)}, {7, slot(&addHandler<7>)},
     {15, slot(&addHandler<15>)}, {25, slot(&addHandler<25>)}, {32, slot(&postJson)},
     {34, slot(&addHandler<34>)}, {44, slot(&addHandler<44>)}});

// The controller: put_IsVisible 4, put_Bounds 6, MoveFocus 12,
// NotifyParentWindowPositionChanged 23, Close 24, get_CoreWebView2 25.
HRESULT STDMETHODCALLTYPE putIsVisible(Object*, BOOL visible) {
  note("visible %d", visible);
  return S_OK;
}
HRESULT STDMETHODCALLTYPE putBounds(Object*, RECT bounds) {
  RECT client{};
  GetClientRect(host, &client);
  note("bounds %ldx%ld host %ldx%ld shown %d", bounds.right - bounds.left,
       bounds.bottom - bounds.top, client.right, client.bottom, IsWindowVisible(host));
  return S_OK;
}
HRESULT STDMETHODCALLTYPE notifyMoved(Object*) {
  note("notify-moved");
  return S_OK;
}
HRESULT STDMETHODCALLTYPE moveFocus(Object*, INT32 reason) {
  note("move-focus %d", reason);
  return S_OK;
}
HRESULT STDMETHODCALLTYPE closeController(Object*) {
  note("close host-window %d", IsWindow(host));
  return S_OK;
}
HRESULT STDMETHODCALLTYPE getCoreWebView2(Object*, Object** out) {
  if ((*out = webView) == nullptr) return E_FAIL;
  addRef(webView);
  return S_OK;
}
const VTable controllerTable = makeVTable(
    {{4, slot(&putIsVisible)}, {6, slot(&putBounds)}, {12, slot(&moveFocus)},
     {23, slot(&notifyMoved)}, {24, slot(&closeController)}, {25, slot(&getCoreWebView2)}});

// The environment: CreateCoreWebView2Controller 3.
HRESULT STDMETHODCALLTYPE createController(Object*, HWND parent, void* handler) {
  host = parent;
  call<ULONG>(handler, 1);
  after(0, [handler] {
    if (!noWebView) {
      webView = new Object{&webViewTable, "webview"};
      webView->onFinalRelease = [] {
        for (auto& [slotIndex, kind] : events) {
          for (void* h : kind.handlers) dropHandler(h, kind.name);
        }
        release(&settings);
      };
    }
    auto* controller = new Object{&controllerTable, "controller"};
    controller->onFinalRelease = [] {
      if (webView != nullptr) release(webView);  // our creation reference
    };
    call<HRESULT>(handler, 3, S_OK, controller);
    release(controller);  // the program keeps its own
    dropHandler(handler, "controller-completed");
    if (navigateCalls == 0) startScript();  // no page is coming
  });
  return S_OK;
}
const VTable environmentTable = makeVTable({{3, slot(&createController)}});

// ------------------------------------------------------------------ script

std::vector<std::string> script;
size_t nextStep = 0;
size_t postCursor = 0;  // waits look at posts from here on; send and append move it

void runScript();

// Polls `done` every 50 ms; at the deadline the page gives up and quits.
void waitUntil(std::function<bool()> done, ULONGLONG deadline, std::string step) {
  if (done()) return after(0, runScript);
  if (GetTickCount64() < deadline) return after(50, [=] { waitUntil(done, deadline, step); });
  note("script-timeout %s", step.c_str());
  nextStep = script.size();
  deliver(L"{\"type\":\"quitApp\"}");
}

void startScript() {
  static bool started = false;
  if (!std::exchange(started, true)) runScript();
}

void runScript() {
  while (nextStep < script.size()) {
    const std::string line = script[nextStep++];
    note("step %s", line.c_str());
    char verb[16] = "";
    char first[1024] = "";
    int a = 0;
    int b = 0;
    std::sscanf(line.c_str(), "%15s %1023s %d", verb, first, &a);
    std::sscanf(line.c_str(), "%*s %d %d", &a, &b);
    const std::string command = verb;
    const std::string rest = line.substr(std::min(line.size(), command.size() + 1));
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(a > 0 ? a : 30000);
    if (command == "send") {
      postCursor = posts.size();
      deliver(wide(rest));
    } else if (command == "wait") {
      const std::string wanted = std::string("{\"type\":\"") + first + "\"";
      return waitUntil(
          [wanted] {
            while (postCursor < posts.size()) {
              if (posts[postCursor++].starts_with(wanted)) return true;
            }
            return false;
          },
          deadline, line);
    } else if (command == "wait-file") {
      const std::wstring path = wide(first);
      return waitUntil(
          [path] { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; },
          deadline, line);
    } else if (command == "sleep") {
      return after(static_cast<UINT>(a), runScript);
    } else if (command == "append") {
      std::string text = rest.substr(std::strlen(first) + 1);
      std::replace(text.begin(), text.end(), '|', '\n');
      FILE* file = _wfopen(wide(first).c_str(), L"ab");
      note("appended %d", file != nullptr && std::fputs(text.c_str(), file) >= 0);
      if (file != nullptr) std::fclose(file);
      postCursor = posts.size();
    } else if (command == "resize" || command == "sizemove" || command == "move") {
      HWND window = GetAncestor(host, GA_ROOT);
      if (command == "sizemove") SendMessageW(window, WM_ENTERSIZEMOVE, 0, 0);
      SetWindowPos(window, nullptr, a, b, a, b,
                   SWP_NOZORDER | SWP_NOACTIVATE | (command == "move" ? SWP_NOSIZE : SWP_NOMOVE));
      if (command == "sizemove") note("inside-sizemove");
      if (command == "sizemove") SendMessageW(window, WM_EXITSIZEMOVE, 0, 0);
    } else if (command == "navigate") {
      navigate(wide(first), "page");
    } else if (command == "popup") {
      popupUri = wide(first);
      popupHandled = FALSE;
      Object args{&newWindowArgsTable, "new-window-args"};
      raise(44, &args);
      note("new-window %s handled %d", first, popupHandled);
    } else if (command == "crash") {
      failedKind = std::strcmp(first, "browser") == 0 ? 0 : 1;
      rendererCrashed = failedKind == 1;
      Object args{&failedArgsTable, "failed-args"};
      note("process-failed %d", failedKind);
      raise(25, &args);
    } else if (command == "activate") {
      // Alt+Tab to another window of this thread and back.
      HWND main = GetAncestor(host, GA_ROOT);
      HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                   0, 200, 100, nullptr, nullptr, nullptr, nullptr);
      SetActiveWindow(other);
      note("switched-away %d", GetActiveWindow() == other);
      SetActiveWindow(main);
      note("switched-back %d", GetActiveWindow() == main);
      DestroyWindow(other);
    } else if (command == "host-text") {
      noteHostText();
    } else if (command != "mark") {
      note("bad-step %s", line.c_str());
    }
  }
  note("script-done");
}

// The program's DPI awareness and the manifest that asks for it.
void noteProcess() {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  const char* manifest = found != nullptr
      ? static_cast<const char*>(LockResource(LoadResource(nullptr, found))) : "";
  const std::string text(manifest, found != nullptr ? SizeofResource(nullptr, found) : 0);
  note("manifest per-monitor-v2 %d aware %d",
       text.find("\">PerMonitorV2</dpiAwareness>") != std::string::npos,
       GetAwarenessFromDpiAwarenessContext(GetThreadDpiAwarenessContext()));
  note("manifest windows-8.1 %d",
       text.find("1f676c76-80e1-4239-95bb-83d0f6d0da78") != std::string::npos);
  // A plain load by name, as any DLL in the process might do: it must not
  // reach the current folder or the PATH.
  HMODULE planted = LoadLibraryW(L"WebView2Loader.dll");
  note("plain-load-finds-loader %d", planted != nullptr);
  if (planted != nullptr) FreeLibrary(planted);
}

HRESULT createEnvironment(const char* via, PCWSTR browserFolder, PCWSTR userDataFolder,
                          void* options, void* handler) {
  uiThread = GetCurrentThreadId();
  const wchar_t* scriptPath = _wgetenv(L"VARNHOLT_FAKE_WEBVIEW2_SCRIPT");
  if (FILE* file = scriptPath != nullptr ? _wfopen(scriptPath, L"rb") : nullptr) {
    for (char buffer[8192]; std::fgets(buffer, sizeof buffer, file) != nullptr;) {
      std::string line(buffer, std::strcspn(buffer, "\r\n"));
      if (line == "fail-environment") {
        failEnvironment = true;
      } else if (line == "no-webview") {
        noWebView = true;
      } else if (line == "fail-posts") {
        failPosts = true;
      } else if (!line.empty()) {
        script.push_back(line);
      }
    }
    std::fclose(file);
  }
  APTTYPE apartment = APTTYPE_CURRENT;
  APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
  CoGetApartmentType(&apartment, &qualifier);
  const DWORD folder = userDataFolder != nullptr ? GetFileAttributesW(userDataFolder) : 0;
  note("create-environment %s sta %d defaults %d user-data %s folder %d", via,
       apartment == APTTYPE_STA || apartment == APTTYPE_MAINSTA,
       browserFolder == nullptr && options == nullptr,
       userDataFolder != nullptr ? utf8(userDataFolder).c_str() : "-",
       folder != INVALID_FILE_ATTRIBUTES && (folder & FILE_ATTRIBUTE_DIRECTORY) != 0);
  noteProcess();

  call<ULONG>(handler, 1);
  after(0, [handler] {
    if (failEnvironment) {
      call<HRESULT>(handler, 3, E_ACCESSDENIED, static_cast<void*>(nullptr));
      noteHostText();
    } else {
      auto* environment = new Object{&environmentTable, "environment"};
      call<HRESULT>(handler, 3, S_OK, environment);
      release(environment);  // the program keeps its own
    }
    dropHandler(handler, "environment-completed");
  });
  return S_OK;
}

}  // namespace
}  // namespace varnholt_app

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR browserFolder, PCWSTR userDataFolder, void* options, void* handler) {
  return varnholt_app::createEnvironment("loader", browserFolder, userDataFolder, options, handler);
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE CreateWebViewEnvironmentWithOptionsInternal(
    bool checkRunningInstance, int runtimeType, PCWSTR userDataFolder, void* options,
    void* handler) {
  return varnholt_app::createEnvironment(
      checkRunningInstance && runtimeType == 0 ? "runtime" : "runtime-bad-arguments", nullptr,
      userDataFolder, options, handler);
}
