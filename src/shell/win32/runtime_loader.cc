#include "shell/win32/runtime_loader.h"

#include <shlobj.h>

namespace varnholt_app {

namespace {

#if defined(__x86_64__) || defined(_M_X64)
constexpr wchar_t kClientDll[] = L"\\EBWebView\\x64\\EmbeddedBrowserWebView.dll";
#elif defined(__aarch64__) || defined(_M_ARM64)
constexpr wchar_t kClientDll[] = L"\\EBWebView\\arm64\\EmbeddedBrowserWebView.dll";
#else
constexpr wchar_t kClientDll[] = L"\\EBWebView\\x86\\EmbeddedBrowserWebView.dll";
#endif

std::wstring readString(HKEY root, const wchar_t* key, const wchar_t* value, REGSAM view) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS) return {};
  std::wstring text(MAX_PATH, L'\0');
  for (;;) {
    DWORD type = 0;
    DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    const LSTATUS status = RegQueryValueExW(opened, value, nullptr, &type,
                                            reinterpret_cast<BYTE*>(text.data()), &bytes);
    if (status == ERROR_MORE_DATA) {
      text.resize(bytes / sizeof(wchar_t) + 1);
      continue;
    }
    RegCloseKey(opened);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
    text.resize(bytes / sizeof(wchar_t));
    // Stored strings may or may not carry their terminator.
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
  }
}

bool isFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

template <class Function>
Function findExport(HMODULE module, const char* name) {
  // Through void(*)(): GetProcAddress returns a generic function pointer.
  return reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace

std::wstring findRuntimeClientDll(const wchar_t* clientStateKey) {
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    for (REGSAM view : {REGSAM{KEY_WOW64_32KEY}, REGSAM{KEY_WOW64_64KEY}}) {
      std::wstring folder = readString(root, clientStateKey, L"EBWebView", view);
      while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) {
        folder.pop_back();
      }
      if (folder.empty()) continue;
      // An update may have removed the folder the key still names.
      const std::wstring dll = folder + kClientDll;
      if (isFile(dll)) return dll;
    }
  }
  return {};
}

std::wstring webViewUserDataFolder() {
  PWSTR localAppData = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr,
                                     &localAppData))) {
    folder = std::wstring(localAppData) + L"\\Varnholt\\WebView2";
  }
  CoTaskMemFree(localAppData);
  if (folder.empty()) return {};
  const int made = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS) {
    return {};
  }
  return folder;
}

EnvironmentStart startEnvironment(
    const std::wstring& userDataFolder,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler, HMODULE& module) {
  const PCWSTR userData = userDataFolder.empty() ? nullptr : userDataFolder.c_str();
  // Only a loader shipped beside us: one planted in the current folder or on
  // the PATH would run its code in our process. Its bitness must match ours.
  module = LoadLibraryExW(L"WebView2Loader.dll", nullptr,
                          LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != nullptr) {
    const auto create =
        findExport<CreateCoreWebView2EnvironmentWithOptionsFn>(module, kCreateEnvironmentExport);
    if (create == nullptr) return {E_NOINTERFACE, "find the loader's export"};
    return {create(nullptr, userData, nullptr, handler), "ask WebView2Loader.dll"};
  }

  const std::wstring clientDll = findRuntimeClientDll();
  if (clientDll.empty()) return {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "find the runtime"};
  // Its own dependencies come from its version folder, never from the
  // current folder or the PATH.
  module = LoadLibraryExW(clientDll.c_str(), nullptr,
                          LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) {
    return {HRESULT_FROM_WIN32(GetLastError()), "load the runtime's client DLL"};
  }
  const auto create = findExport<CreateWebViewEnvironmentWithOptionsInternalFn>(
      module, kCreateEnvironmentInternalExport);
  if (create == nullptr) return {E_NOINTERFACE, "find the runtime's export"};
  return {create(true, kInstalledRuntime, userData, nullptr, handler),
          "ask the runtime for the environment"};
}

}  // namespace varnholt_app
