#include "shell/win32/console.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>

#include "base/utf.h"
#include "shell/win32/wide_text.h"

namespace varnholt_app {

std::vector<std::wstring> commandLineArguments() {
  std::vector<std::wstring> arguments;
  int count = 0;
  LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
  if (list == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(list[i]);
  LocalFree(list);
  return arguments;
}

namespace {

bool isGivenHandle(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

}  // namespace

void showCommandLineText(const std::string& text, bool error) {
  const std::wstring wide = toWide(utf8ToUtf16(text));
  auto writeTo = [&](HANDLE handle) {
    DWORD written = 0;
    if (GetFileType(handle) == FILE_TYPE_CHAR &&
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr)) {
      return true;
    }
    return WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0;
  };
  HANDLE given = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (isGivenHandle(given) && writeTo(given)) return;
  if (AttachConsole(ATTACH_PARENT_PROCESS)) {
    HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
    if (console != INVALID_HANDLE_VALUE) {
      const bool written = writeTo(console);
      CloseHandle(console);
      if (written) return;
    }
  }
  const UINT icon = error ? UINT{MB_ICONERROR} : UINT{MB_ICONINFORMATION};
  MessageBoxW(nullptr, wide.c_str(), L"Varnholt", MB_OK | icon);
}

void attachTraceConsole() {
  if (isGivenHandle(GetStdHandle(STD_ERROR_HANDLE))) return;  // a file or pipe from the parent
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  if (std::freopen("CONOUT$", "w", stderr) == nullptr) return;
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  SetConsoleOutputCP(CP_UTF8);  // the trace is UTF-8 JSON
}

}  // namespace varnholt_app
