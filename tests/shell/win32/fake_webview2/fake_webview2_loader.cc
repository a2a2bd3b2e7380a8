// A stand-in for WebView2Loader.dll for the end-to-end test (e2e_test.py).
// Its objects are raw vtables numbered by the runtime's slot order, written
// here independently of the program's declarations: a slot the program calls
// that is not implemented logs "trap <object> <slot>". It logs what the
// program does (one line an event) and plays the page from a script:
//   send <json> | wait <type> [ms] | wait-file <path> [ms] | sleep <ms>
//   append <path> <text> ("\n" is a line feed) | resize|sizemove|move <a> <b>
//   mark <name>; and the options fail-environment, no-webview.
// Environment: VARNHOLT_FAKE_WEBVIEW2_LOG, VARNHOLT_FAKE_WEBVIEW2_SCRIPT.

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace varnholt_app {
namespace {

std::string utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

std::wstring wide(const std::string& text) {
  std::wstring out(text.size() + 1, L'\0');
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(),
                                       static_cast<int>(out.size()));
  out.resize(size > 0 ? static_cast<size_t>(size - 1) : 0);
  return out;
}

// Opened per line, so that the log survives whatever happens to the process.
void logLine(const std::string& line) {
  const wchar_t* path = _wgetenv(L"VARNHOLT_FAKE_WEBVIEW2_LOG");
  FILE* file = path != nullptr ? _wfopen(path, L"ab") : nullptr;
  if (file == nullptr) return;
  std::fputs((line + "\n").c_str(), file);
  std::fclose(file);
}

DWORD uiThread = 0;
void checkThread(const char* method) {
  if (GetCurrentThreadId() != uiThread) logLine(std::string("wrong-thread ") + method);
}

// Callbacks reach the program through its own message loop, as the real
// runtime's do, never from inside one of the program's calls.
HWND taskWindow = nullptr;
std::deque<std::function<void()>> tasks;
std::map<UINT_PTR, std::function<void()>> timers;

LRESULT CALLBACK taskProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::function<void()> task;
  if (message == WM_APP && !tasks.empty()) {
    task = std::move(tasks.front());
    tasks.pop_front();
  } else if (message == WM_TIMER && timers.count(wParam) != 0) {
    KillTimer(window, wParam);
    task = std::move(timers[wParam]);
    timers.erase(wParam);
  } else {
    return DefWindowProcW(window, message, wParam, lParam);
  }
  task();
  return 0;
}

void defer(std::function<void()> task) {
  tasks.push_back(std::move(task));
  PostMessageW(taskWindow, WM_APP, 0, 0);
}

void after(UINT ms, std::function<void()> task) {
  static UINT_PTR next = 1;
  timers[next] = std::move(task);
  SetTimer(taskWindow, next++, ms, nullptr);
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

template <int N>
HRESULT STDMETHODCALLTYPE trap(Object* self) {
  logLine(std::string("trap ") + self->name + " " + std::to_string(N));
  return E_NOTIMPL;
}

template <class F>
Slot slot(F function) {
  return reinterpret_cast<Slot>(function);
}

HRESULT STDMETHODCALLTYPE queryInterface(Object*, REFIID, void** object) {
  if (object != nullptr) *object = nullptr;
  return E_NOINTERFACE;  // the program needs no other interface of ours
}
ULONG STDMETHODCALLTYPE addRef(Object* self) { return ++self->references; }
ULONG STDMETHODCALLTYPE release(Object* self) {
  if (self->references == 0) {
    logLine(std::string("over-release ") + self->name);
    return 0;
  }
  if (--self->references == 0) {
    logLine(std::string("final-release ") + self->name);
    self->onFinalRelease();
  }
  return self->references;
}

template <int... N>
VTable traps(std::integer_sequence<int, N...>) {
  return {slot(&trap<N>)...};
}

// Every slot traps except IUnknown's and the given ones.
VTable makeVTable(std::initializer_list<std::pair<int, Slot>> methods) {
  VTable table = traps(std::make_integer_sequence<int, 64>());
  table[0] = slot(&queryInterface);
  table[1] = slot(&addRef);
  table[2] = slot(&release);
  for (const auto& [index, method] : methods) table[static_cast<size_t>(index)] = method;
  return table;
}

// The program's handlers: IUnknown, then Invoke at slot 3.
using Handler = void*;
Slot handlerSlot(Handler handler, int index) { return (*static_cast<Slot**>(handler))[index]; }
void holdHandler(Handler handler) {
  reinterpret_cast<ULONG(STDMETHODCALLTYPE*)(Handler)>(handlerSlot(handler, 1))(handler);
}
// What our release leaves: 0 when the program kept no reference of its own.
void dropHandler(Handler handler, const char* kind) {
  const ULONG left =
      reinterpret_cast<ULONG(STDMETHODCALLTYPE*)(Handler)>(handlerSlot(handler, 2))(handler);
  logLine(std::string("handler-released ") + kind + " " + std::to_string(left));
}
void invoke(Handler handler, const void* first, void* second) {
  reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(Handler, const void*, void*)>(
      handlerSlot(handler, 3))(handler, first, second);
}
void invokeResult(Handler handler, HRESULT result, void* object) {
  reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(Handler, HRESULT, void*)>(
      handlerSlot(handler, 3))(handler, result, object);
}

LPWSTR coTaskCopy(const std::wstring& text) {
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), bytes);
  return copy;
}

bool failEnvironment = false;
bool noWebView = false;
HWND hostWindow = nullptr;
std::vector<Handler> messageHandlers;
std::vector<Handler> navigationHandlers;
std::wstring messageJson;
std::vector<std::string> posts;
void startScript();

// Settings: put_AreDevToolsEnabled 12, put_AreDefaultContextMenusEnabled 14,
// put_IsZoomControlEnabled 18.
template <int N>
HRESULT STDMETHODCALLTYPE putSetting(Object*, BOOL value) {
  checkThread("put setting");
  logLine("setting " + std::to_string(N) + " " + std::to_string(value));
  return S_OK;
}
const VTable settingsTable =
    makeVTable({{12, slot(&putSetting<12>)}, {14, slot(&putSetting<14>)},
                {18, slot(&putSetting<18>)}});
Object settings{&settingsTable, "settings"};

// Message arguments: get_WebMessageAsJson 4.
HRESULT STDMETHODCALLTYPE getMessageJson(Object*, LPWSTR* json) {
  checkThread("get_WebMessageAsJson");
  *json = coTaskCopy(messageJson);
  return S_OK;
}
const VTable messageArgsTable = makeVTable({{4, slot(&getMessageJson)}});
const VTable navigationArgsTable = makeVTable({});

Object* webView = nullptr;

void deliver(const std::wstring& json) {
  logLine("send " + utf8(json.c_str()));
  messageJson = json;
  Object args{&messageArgsTable, "message-args"};
  for (Handler handler : messageHandlers) invoke(handler, webView, &args);
}

// The view: get_Settings 3, NavigateToString 6, add_NavigationCompleted 15,
// PostWebMessageAsJson 32, add_WebMessageReceived 34.
HRESULT STDMETHODCALLTYPE getSettings(Object*, Object** out) {
  checkThread("get_Settings");
  addRef(&settings);
  *out = &settings;
  return S_OK;
}
HRESULT STDMETHODCALLTYPE navigateToString(Object*, LPCWSTR html) {
  checkThread("NavigateToString");
  std::string logged;
  for (const char c : utf8(html)) logged += c == '\n' ? "\\n" : c == '\\' ? "\\\\" : std::string(1, c);
  logLine("navigate " + logged);
  defer([] {
    Object args{&navigationArgsTable, "navigation-args"};
    for (Handler handler : navigationHandlers) invoke(handler, webView, &args);
    logLine("navigation-completed");
    startScript();
  });
  return S_OK;
}
template <int N>
HRESULT STDMETHODCALLTYPE addHandler(Object*, Handler handler, INT64* token) {
  checkThread("add handler");
  holdHandler(handler);
  (N == 15 ? navigationHandlers : messageHandlers).push_back(handler);
  *token = N;
  logLine(N == 15 ? "add navigation-completed" : "add web-message");
  return S_OK;
}
HRESULT STDMETHODCALLTYPE postJson(Object*, LPCWSTR json) {
  checkThread("PostWebMessageAsJson");
  posts.push_back(utf8(json));
  logLine("post " + posts.back());
  return S_OK;
}
const VTable webViewTable =
    makeVTable({{3, slot(&getSettings)}, {6, slot(&navigateToString)},
                {15, slot(&addHandler<15>)}, {32, slot(&postJson)}, {34, slot(&addHandler<34>)}});

// The controller: put_IsVisible 4, put_Bounds 6,
// NotifyParentWindowPositionChanged 23, get_CoreWebView2 25.
HRESULT STDMETHODCALLTYPE putIsVisible(Object*, BOOL visible) {
  checkThread("put_IsVisible");
  logLine("visible " + std::to_string(visible));
  return S_OK;
}
HRESULT STDMETHODCALLTYPE putBounds(Object*, RECT bounds) {
  checkThread("put_Bounds");
  RECT client{};
  GetClientRect(hostWindow, &client);
  logLine("bounds " + std::to_string(bounds.right - bounds.left) + "x" +
          std::to_string(bounds.bottom - bounds.top) + " host " + std::to_string(client.right) +
          "x" + std::to_string(client.bottom) + " shown " +
          std::to_string(IsWindowVisible(hostWindow)));
  return S_OK;
}
HRESULT STDMETHODCALLTYPE notifyMoved(Object*) {
  checkThread("NotifyParentWindowPositionChanged");
  logLine("notify-moved");
  return S_OK;
}
HRESULT STDMETHODCALLTYPE getCoreWebView2(Object*, Object** out) {
  checkThread("get_CoreWebView2");
  *out = webView;
  if (webView == nullptr) return E_FAIL;
  addRef(webView);
  return S_OK;
}
const VTable controllerTable =
    makeVTable({{4, slot(&putIsVisible)}, {6, slot(&putBounds)}, {23, slot(&notifyMoved)},
                {25, slot(&getCoreWebView2)}});

// The environment: CreateCoreWebView2Controller 3.
HRESULT STDMETHODCALLTYPE createController(Object*, HWND parent, Handler handler) {
  checkThread("CreateCoreWebView2Controller");
  hostWindow = parent;
  holdHandler(handler);
  defer([handler] {
    if (!noWebView) {
      webView = new Object{&webViewTable, "webview"};
      webView->onFinalRelease = [] {
        for (Handler h : messageHandlers) dropHandler(h, "web-message");
        for (Handler h : navigationHandlers) dropHandler(h, "navigation-completed");
        release(&settings);
      };
    }
    auto* controller = new Object{&controllerTable, "controller"};
    controller->onFinalRelease = [] {
      if (webView != nullptr) release(webView);  // our creation reference
    };
    invokeResult(handler, S_OK, controller);
    release(controller);  // the program keeps its own
    dropHandler(handler, "controller-completed");
  });
  return S_OK;
}
const VTable environmentTable = makeVTable({{3, slot(&createController)}});

// ------------------------------------------------------------------ script

std::vector<std::string> script;
size_t nextStep = 0;
size_t postCursor = 0;  // waits look at posts from here on, set by send and append

void runScript();

// Polls `done` every 50 ms; at the deadline the page gives up and quits.
void waitUntil(std::function<bool()> done, ULONGLONG deadline, std::string step) {
  if (done()) return defer(runScript);
  if (GetTickCount64() < deadline) {
    return after(50, [=] { waitUntil(done, deadline, step); });
  }
  logLine("script-timeout " + step);
  nextStep = script.size();
  deliver(L"{\"type\":\"quitApp\"}");
}

void startScript() {
  static bool started = false;
  if (started) return;
  started = true;
  runScript();
}

void runScript() {
  while (nextStep < script.size() && webView != nullptr) {
    const std::string line = script[nextStep++];
    logLine("step " + line);
    char verb[16] = "";
    char first[1024] = "";
    int a = 0;
    int b = 0;
    std::sscanf(line.c_str(), "%15s %1023s %d", verb, first, &a);
    std::sscanf(line.c_str(), "%*s %d %d", &a, &b);
    const std::string rest = line.substr(std::min(line.size(), std::strlen(verb) + 1));
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(a > 0 ? a : 30000);
    const std::string verbName = verb;
    if (verbName == "send") {
      postCursor = posts.size();
      deliver(wide(rest));
    } else if (verbName == "wait") {
      const std::string wanted = std::string("{\"type\":\"") + first + "\"";
      return waitUntil([wanted] {
        for (; postCursor < posts.size(); ++postCursor) {
          if (posts[postCursor].rfind(wanted, 0) == 0) return ++postCursor, true;
        }
        return false;
      }, deadline, line);
    } else if (verbName == "wait-file") {
      const std::wstring path = wide(first);
      return waitUntil([path] { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; },
                       deadline, line);
    } else if (verbName == "sleep") {
      return after(static_cast<UINT>(a), runScript);
    } else if (verbName == "append") {
      std::string text;
      for (size_t i = std::strlen(first) + 1; i < rest.size(); ++i) {
        const bool feed = rest.compare(i, 2, "\\n") == 0;
        text += feed ? '\n' : rest[i];
        i += feed;
      }
      FILE* file = _wfopen(wide(first).c_str(), L"ab");
      const bool ok = file != nullptr && std::fputs(text.c_str(), file) >= 0;
      if (file != nullptr) std::fclose(file);
      logLine("appended " + std::to_string(ok));
      postCursor = posts.size();
    } else if (verbName == "resize" || verbName == "sizemove" || verbName == "move") {
      HWND window = GetAncestor(hostWindow, GA_ROOT);
      const bool inLoop = verbName == "sizemove";
      if (inLoop) SendMessageW(window, WM_ENTERSIZEMOVE, 0, 0);
      SetWindowPos(window, nullptr, a, b, a, b,
                   SWP_NOZORDER | SWP_NOACTIVATE | (verbName == "move" ? SWP_NOSIZE : SWP_NOMOVE));
      if (inLoop) logLine("inside-sizemove");
      if (inLoop) SendMessageW(window, WM_EXITSIZEMOVE, 0, 0);
    } else if (verbName != "mark") {
      logLine("bad-step " + line);
    }
  }
  if (nextStep >= script.size()) logLine("script-done");
}

void loadScript() {
  const wchar_t* path = _wgetenv(L"VARNHOLT_FAKE_WEBVIEW2_SCRIPT");
  FILE* file = path != nullptr ? _wfopen(path, L"rb") : nullptr;
  if (file == nullptr) return;
  char buffer[8192];
  while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
    std::string line(buffer);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line == "fail-environment") {
      failEnvironment = true;
    } else if (line == "no-webview") {
      noWebView = true;
    } else if (!line.empty()) {
      script.push_back(line);
    }
  }
  std::fclose(file);
}

}  // namespace
}  // namespace varnholt_app

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR browserFolder, PCWSTR userDataFolder, void* options, void* handler) {
  using namespace varnholt_app;
  uiThread = GetCurrentThreadId();
  loadScript();
  APTTYPE apartment = APTTYPE_CURRENT;
  APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
  const bool sta = SUCCEEDED(CoGetApartmentType(&apartment, &qualifier)) &&
                   (apartment == APTTYPE_STA || apartment == APTTYPE_MAINSTA);
  const bool defaults = browserFolder == nullptr && userDataFolder == nullptr && options == nullptr;
  logLine("create-environment sta " + std::to_string(sta) + " defaults " + std::to_string(defaults));

  WNDCLASSW taskClass{};
  taskClass.lpfnWndProc = taskProc;
  taskClass.hInstance = GetModuleHandleW(nullptr);
  taskClass.lpszClassName = L"VarnholtFakeWebView2Tasks";
  RegisterClassW(&taskClass);
  taskWindow = CreateWindowExW(0, taskClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                               nullptr, taskClass.hInstance, nullptr);
  holdHandler(handler);
  defer([handler] {
    if (failEnvironment) {
      invokeResult(handler, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), nullptr);
    } else {
      auto* environment = new Object{&environmentTable, "environment"};
      invokeResult(handler, S_OK, environment);
      release(environment);  // the program keeps its own
    }
    dropHandler(handler, "environment-completed");
  });
  return S_OK;
}
