#pragma once
// Where the web view's environment comes from: a WebView2Loader.dll beside
// the executable, else the installed Evergreen WebView2
// Runtime found through the registry. Also where its user data lives.

#include <windows.h>

#include <string>

#include "shell/win32/webview2.h"

namespace varnholt_app {

// The registry key (per machine and per user) in which the Evergreen runtime
// records its current version folder, value "EBWebView".
inline constexpr wchar_t kRuntimeClientStateKey[] =
    L"SOFTWARE\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";

// The client DLL of the installed runtime: the first of HKLM then HKCU, each
// in the 32- and 64-bit registry views, whose version folder holds it. Empty
// when none does.
std::wstring findRuntimeClientDll(const wchar_t* clientStateKey = kRuntimeClientStateKey);

// %LOCALAPPDATA%\Varnholt\WebView2, created when missing; empty when it
// cannot be found or made (the runtime then picks its default).
std::wstring webViewUserDataFolder();

struct EnvironmentStart {
  HRESULT result = S_OK;
  const char* step = "";  // what failed, for the trace
};

// Asks for the environment from a WebView2Loader.dll beside the executable,
// else from the installed runtime. `module` keeps the DLL that answered
// loaded for the rest of the run. The handler is called later, on this
// thread, only when the result succeeded.
EnvironmentStart startEnvironment(
    const std::wstring& userDataFolder,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler, HMODULE& module);

}  // namespace varnholt_app
