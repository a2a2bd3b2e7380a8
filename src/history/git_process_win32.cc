#include <windows.h>

#include "base/utf.h"
#include "history/git_process.h"

namespace varnholt_app {
namespace {

// Quoting that CommandLineToArgvW and the C runtime read back as given.
void appendQuoted(std::u16string& line, const std::u16string& arg) {
  if (!arg.empty() && arg.find_first_of(u" \t\"") == std::u16string::npos) {
    line += arg;
    return;
  }
  line += u'"';
  size_t backslashes = 0;
  for (char16_t c : arg) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, u'\\');
  line += u'"';
}

}  // namespace

ProcessOutcome streamCommand(const std::vector<std::string>& argv,
                             const std::function<bool(std::string_view)>& sink, bool withErrors) {
  ProcessOutcome outcome;
  if (argv.empty()) return outcome;
  std::u16string line;
  for (const std::string& arg : argv) {
    if (!line.empty()) line += u' ';
    appendQuoted(line, utf8ToUtf16(arg));
  }
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 1 << 16)) return outcome;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = writeEnd;
  startup.hStdError = withErrors ? writeEnd : nul;
  PROCESS_INFORMATION process{};
  const BOOL created =
      CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(line.data()), nullptr, nullptr, TRUE,
                     CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
  CloseHandle(writeEnd);
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  if (!created) {
    CloseHandle(readEnd);
    return outcome;
  }
  outcome.started = true;
  std::string buffer(1 << 18, '\0');
  DWORD got = 0;
  while (ReadFile(readEnd, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0) {
    if (!sink(std::string_view(buffer.data(), got))) {
      outcome.stopped = true;
      TerminateProcess(process.hProcess, 1);
      break;
    }
  }
  CloseHandle(readEnd);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  if (!outcome.stopped && GetExitCodeProcess(process.hProcess, &code)) {
    outcome.exitCode = static_cast<int>(code);
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return outcome;
}

}  // namespace varnholt_app
