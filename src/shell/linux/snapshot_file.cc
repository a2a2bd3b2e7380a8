#include "shell/linux/snapshot_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace varnholt_app {

std::string withDefaultExtension(const std::string& path, std::string_view extension) {
  const size_t slash = path.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  if (nameStart == path.size()) return path;  // a folder, not a file name
  const size_t dot = path.rfind('.');
  if (dot != std::string::npos && dot > nameStart) return path;
  std::string out = path;
  out += '.';
  out += extension;
  return out;
}

std::string writeWholeFile(const std::string& path, std::string_view bytes) {
  int fd;
  // Opened non-blocking so that a FIFO without a reader fails at once
  // instead of freezing the window; the writes below block as usual.
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::strerror(errno);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
    std::string error = std::strerror(errno);
    ::close(fd);
    return error;
  }
  size_t written = 0;
  std::string error;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = std::strerror(errno);
      break;
    }
    if (n == 0) {
      error = "nothing more could be written";
      break;
    }
    written += static_cast<size_t>(n);
  }
  // A delayed write error (full disk, network file system) shows up here.
  if (::close(fd) != 0 && error.empty()) error = std::strerror(errno);
  return error;
}

}  // namespace varnholt_app
