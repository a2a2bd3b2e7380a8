#include <windows.h>

#include <string_view>
#include <vector>

#include "shell/page_file.h"

namespace varnholt_app {

NativeString executableFolder() {
  // Grows past MAX_PATH: an install folder with a long path still finds its
  // files.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (length == 0) return {};
    if (length < size) {
      const std::wstring_view path(buffer.data(), length);
      const size_t slash = path.find_last_of(L"\\/");
      return slash == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, slash + 1));
    }
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace varnholt_app
