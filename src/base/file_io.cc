#include "base/file_io.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>

namespace varnholt_app {

#ifdef _WIN32

InputFile::~InputFile() { close(); }

bool InputFile::open(const NativeString& path) {
  close();
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = h;
  return true;
}

bool InputFile::isOpen() const { return handle_ != nullptr; }

void InputFile::close() {
  if (handle_ != nullptr) {
    CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
  }
}

int64_t InputFile::size() const {
  LARGE_INTEGER size;
  if (handle_ == nullptr || !GetFileSizeEx(static_cast<HANDLE>(handle_), &size)) return -1;
  return size.QuadPart;
}

int64_t InputFile::read(void* buffer, size_t count) {
  if (handle_ == nullptr) return -1;
  auto* out = static_cast<char*>(buffer);
  size_t total = 0;
  while (total < count) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count - total, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(handle_), out + total, chunk, &got, nullptr)) {
      return total > 0 ? static_cast<int64_t>(total) : -1;
    }
    if (got == 0) break;
    total += got;
  }
  return static_cast<int64_t>(total);
}

#else

InputFile::~InputFile() { close(); }

bool InputFile::open(const NativeString& path) {
  close();
  int fd;
  // Non-blocking so that a FIFO in the folder cannot hang the open; reads
  // of regular files are not affected by the flag.
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  fd_ = fd;
  return true;
}

bool InputFile::isOpen() const { return fd_ >= 0; }

void InputFile::close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

int64_t InputFile::size() const {
  struct stat st;
  if (fd_ < 0 || fstat(fd_, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

int64_t InputFile::read(void* buffer, size_t count) {
  if (fd_ < 0) return -1;
  auto* out = static_cast<char*>(buffer);
  size_t total = 0;
  while (total < count) {
    const ssize_t got = ::read(fd_, out + total, std::min<size_t>(count - total, 1u << 30));
    if (got < 0) {
      if (errno == EINTR) continue;
      return total > 0 ? static_cast<int64_t>(total) : -1;
    }
    if (got == 0) break;
    total += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(total);
}

#endif

bool readWholeFile(const NativeString& path, std::string& out, int64_t maxBytes) {
  out.clear();
  InputFile file;
  if (!file.open(path)) return false;
  const int64_t size = file.size();
  if (size < 0 || size > maxBytes) return false;
  if (size == 0) return true;
  out.resize(static_cast<size_t>(size));
  const int64_t got = file.read(out.data(), out.size());
  out.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return true;
}

}  // namespace varnholt_app
