#include "shell/linux/page_file.h"

#include <unistd.h>

#include <vector>

#include "base/file_io.h"
#include "base/utf.h"

namespace varnholt_app {

std::string executableFolder() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    const auto length = static_cast<size_t>(n);
    if (length < buffer.size()) {
      const std::string path(buffer.data(), length);
      const size_t slash = path.rfind('/');
      return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    }
    if (buffer.size() >= (1u << 20)) return {};
    buffer.resize(buffer.size() * 2);  // the link may have been cut short
  }
}

std::string readPageFile(const std::string& path) {
  std::string bytes;
  if (!readWholeFile(path, bytes) || bytes.empty()) return std::string(kFallbackPageHtml);
  // Round trip through UTF-16 so the view gets the same text as on Windows.
  return utf16ToUtf8Lossy(utf8ToUtf16(bytes));
}

const std::string& uiPageHtml() {
  static const std::string page = readPageFile(executableFolder() + std::string(kPageFileName));
  return page;
}

}  // namespace varnholt_app
