#include "shell/win32/page_file.h"

#include <windows.h>

#include <vector>

#include "base/file_io.h"
#include "base/utf.h"
#include "shell/win32/wide_text.h"

namespace varnholt_app {

namespace {
// Far above any real page (the view itself takes at most 2 MB of text), low
// enough that a stray huge file cannot exhaust memory.
constexpr int64_t kMaxPageBytes = 64 * 1024 * 1024;
}  // namespace

std::wstring folderPart(std::wstring_view path) {
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring_view::npos) return {};
  return std::wstring(path.substr(0, slash + 1));
}

std::wstring executableFolder() {
  // Grows past MAX_PATH: an install folder with a long path still finds its
  // files.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (length == 0) return {};
    if (length < size) return folderPart(std::wstring_view(buffer.data(), length));
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring readPageFile(const std::wstring& path) {
  std::string bytes;
  if (!readWholeFile(path, bytes, kMaxPageBytes)) return {};
  return toWide(utf8ToUtf16(bytes));
}

std::wstring loadUiPage(const std::wstring& folder) {
  std::wstring text = readPageFile(folder + kPageFileName);
  if (text.empty()) text = kFallbackPage;
  return text;
}

}  // namespace varnholt_app
