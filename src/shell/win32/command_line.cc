#include "shell/win32/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>

namespace varnholt_app {

CommandLine parseCommandLine(const std::vector<std::wstring>& arguments) {
  CommandLine result;
  for (const std::wstring& argument : arguments) {
    if (argument == L"--trace") {
      result.trace = true;
    } else if (argument.rfind(L"--", 0) == 0) {
      continue;
    } else if (result.folder.empty() && !argument.empty()) {
      result.folder = argument;
    }
  }
  return result;
}

std::vector<std::wstring> commandLineArguments() {
  std::vector<std::wstring> arguments;
  int count = 0;
  LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
  if (list == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(list[i]);
  LocalFree(list);
  return arguments;
}

std::wstring absoluteFolder(const std::wstring& folder) {
  std::wstring path = folder;
  const DWORD needed = GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr);
  if (needed > 0) {
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(folder.c_str(), needed, full.data(), nullptr);
    if (length > 0 && length < needed) {
      full.resize(length);
      path = std::move(full);
    }
  }
  auto isSeparator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  while (path.size() > 1 && isSeparator(path.back()) &&
         !(path.size() == 3 && path[1] == L':')) {
    path.pop_back();
  }
  return path;
}

void attachTraceConsole() {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error != nullptr && error != INVALID_HANDLE_VALUE &&
      GetFileType(error) != FILE_TYPE_UNKNOWN) {
    return;  // a file or pipe given by the parent
  }
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  if (std::freopen("CONOUT$", "w", stderr) == nullptr) return;
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  SetConsoleOutputCP(CP_UTF8);  // the trace is UTF-8 JSON
}

}  // namespace varnholt_app
