#include "base/file_io.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>
#include <new>

namespace varnholt_app {

#ifdef _WIN32

NativeString systemPath(const NativeString& path) {
  // Directories are limited to MAX_PATH - 12 characters in the classic form.
  constexpr size_t kClassicLimit = MAX_PATH - 12;
  if (path.size() < kClassicLimit || path.rfind(L"\\\\?\\", 0) == 0 ||
      path.rfind(L"\\\\.\\", 0) == 0) {
    return path;
  }
  const auto isSeparator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  NativeString prefixed;
  if (path.size() > 2 && path[1] == L':' && isSeparator(path[2])) {
    prefixed = L"\\\\?\\" + path;
  } else if (isSeparator(path[0]) && isSeparator(path[1])) {
    prefixed = L"\\\\?\\UNC\\" + path.substr(2);
  } else {
    return path;  // relative: the system resolves it, at its own limit
  }
  // The prefixed form takes no forward slashes.
  std::replace(prefixed.begin(), prefixed.end(), L'/', L'\\');
  return prefixed;
}

InputFile::~InputFile() { close(); }

bool InputFile::open(const NativeString& path) {
  close();
  HANDLE h = CreateFileW(systemPath(path).c_str(), GENERIC_READ,
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

int64_t InputFile::readOnce(void* buffer, size_t count) {
  if (handle_ == nullptr) return -1;
  DWORD got = 0;
  const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count, 1u << 30));
  if (!ReadFile(static_cast<HANDLE>(handle_), buffer, chunk, &got, nullptr)) return -1;
  return static_cast<int64_t>(got);
}

#else

namespace {

// Runs `call(dirFd, rest)` with `rest` short enough for one system call.
template <typename Call>
int callAtPath(const NativeString& path, Call call) {
  if (path.size() < PATH_MAX) return call(AT_FDCWD, path.c_str());
#ifdef O_PATH
  constexpr int kStepFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
  constexpr int kStepFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
  int dir = AT_FDCWD;
  size_t pos = 0;
  std::string step;
  while (path.size() - pos >= PATH_MAX) {
    // The longest run of whole components that fits; names are far shorter.
    const size_t cut = path.rfind('/', pos + PATH_MAX - 2);
    if (cut == NativeString::npos || cut < pos) {
      if (dir != AT_FDCWD) ::close(dir);
      errno = ENAMETOOLONG;
      return -1;
    }
    // At least one byte: when the cut is at pos, that byte is the root's "/".
    // (Assigning a literal here trips g++ 12's -Wrestrict at -O3.)
    step.assign(path, pos, std::max<size_t>(cut - pos, 1));
    int next;
    do {
      next = ::openat(dir, step.c_str(), kStepFlags);
    } while (next < 0 && errno == EINTR);
    if (dir != AT_FDCWD) ::close(dir);
    if (next < 0) return -1;
    dir = next;
    pos = cut + 1;
  }
  const char* rest = pos < path.size() ? path.c_str() + pos : ".";
  const int result = call(dir, rest);
  const int saved = errno;
  if (dir != AT_FDCWD) ::close(dir);
  errno = saved;
  return result;
}

}  // namespace

int openPath(const NativeString& path, int flags) {
  return callAtPath(path, [flags](int dir, const char* rest) {
    int fd;
    do {
      fd = ::openat(dir, rest, flags);
    } while (fd < 0 && errno == EINTR);
    return fd;
  });
}

bool statNative(const NativeString& path, struct stat& st) {
  const auto statAt = [&st](int dir, const char* rest) { return ::fstatat(dir, rest, &st, 0); };
  return callAtPath(path, statAt) == 0;
}

InputFile::~InputFile() { close(); }

bool InputFile::open(const NativeString& path) {
  close();
  // Non-blocking so that a FIFO in the folder cannot hang the open; reads
  // of regular files are not affected by the flag.
  const int fd = openPath(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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

int64_t InputFile::readOnce(void* buffer, size_t count) {
  if (fd_ < 0) return -1;
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, std::min<size_t>(count, 1u << 30));
    if (got >= 0) return static_cast<int64_t>(got);
    if (errno != EINTR) return -1;
  }
}

#endif

bool fileIdentity(const NativeString& path, FileIdentity& out) {
#ifdef _WIN32
  // Backup semantics let CreateFile open a folder; no access is asked for.
  HANDLE handle = CreateFileW(systemPath(path).c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  if (!known) return false;
  out.device = info.dwVolumeSerialNumber;
  out.index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return true;
#else
  struct stat st;
  if (!statNative(path, st)) return false;
  out.device = static_cast<uint64_t>(st.st_dev);
  out.index = static_cast<uint64_t>(st.st_ino);
  return true;
#endif
}

bool readWholeFile(const NativeString& path, std::string& out, int64_t maxBytes, int64_t sizeHint) {
  out.clear();
  if (maxBytes < 0) return false;
  InputFile file;
  if (!file.open(path)) return false;
  const int64_t size = sizeHint >= 0 ? std::min(sizeHint, maxBytes) : file.size();
  if (size < 0 || size > maxBytes) return false;
  // The size may be stale by now: the file is read up to one byte past the
  // limit, however large it has grown.
  const int64_t cap = maxBytes < INT64_MAX ? maxBytes + 1 : maxBytes;
  size_t want = static_cast<size_t>(size < cap ? size + 1 : cap);
  size_t have = 0;
  out.resize(want);
  // Asked for a byte more than it should hold, a file of the expected size
  // gives exactly that size in one read: that is its end, with no second
  // read to see nothing more come. Anything else reads on to the end.
  const int64_t first = file.readOnce(out.data(), want);
  if (first >= 0 && first == size && static_cast<size_t>(size) < want) {
    out.resize(static_cast<size_t>(first));
    return true;
  }
  if (first > 0) have = static_cast<size_t>(first);
  for (int64_t got = first;;) {
    if (got < 0) {
      // A read error is no empty file.
      std::string().swap(out);
      return false;
    }
    if (have >= want) {
      if (static_cast<int64_t>(have) >= cap) break;
      want = static_cast<size_t>(std::min<int64_t>(cap, static_cast<int64_t>(want) * 2));
      out.resize(want);
    }
    got = file.read(out.data() + have, want - have);
    if (got > 0) have += static_cast<size_t>(got);
    if (got == 0 || (got > 0 && have < want)) break;
  }
  out.resize(have);
  if (static_cast<int64_t>(have) > maxBytes) {
    std::string().swap(out);
    return false;
  }
  return true;
}

}  // namespace varnholt_app
