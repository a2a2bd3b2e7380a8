#include <unistd.h>

#include <vector>

#include "shell/page_file.h"

namespace varnholt_app {

NativeString executableFolder() {
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

}  // namespace varnholt_app
