// Directory enumeration with opendir/readdir: the listing's d_type saves a
// stat for every subdirectory; links and unknown types are resolved with
// fstatat relative to the open directory.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "project/walk.h"
#include "project/walk_platform.h"

namespace varnholt_app {

namespace {

int openDirectoryFd(const char* path) {
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

PathStatus statPath(const NativeString& path) {
  PathStatus status;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return status;
  status.exists = true;
  status.isDirectory = S_ISDIR(st.st_mode);
  status.size = static_cast<int64_t>(st.st_size);
  return status;
}

DirectoryReader::~DirectoryReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool DirectoryReader::open(const NativeString& path) {
  path_ = path;
  fd_ = openDirectoryFd(path.c_str());
  if (fd_ < 0) return false;
  struct stat st;
  if (::fstat(fd_, &st) != 0) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  identity_.known = true;
  identity_.volume = static_cast<uint64_t>(st.st_dev);
  identity_.object = static_cast<uint64_t>(st.st_ino);
  return true;
}

void DirectoryReader::readAll(std::vector<DirEntry>& entries) {
  if (fd_ < 0) return;
  // The stream gets its own descriptor so that fstatat can keep using fd_.
  const int streamFd = ::dup(fd_);
  if (streamFd < 0) throw WalkError("cannot list " + path_ + ": " + std::strerror(errno));
  DIR* dir = ::fdopendir(streamFd);
  if (dir == nullptr) {
    ::close(streamFd);
    throw WalkError("cannot list " + path_ + ": " + std::strerror(errno));
  }
  for (;;) {
    errno = 0;
    const struct dirent* raw = ::readdir(dir);
    if (raw == nullptr) {
      const int error = errno;
      ::closedir(dir);
      if (error != 0) throw WalkError("listing " + path_ + " failed: " + std::strerror(error));
      return;
    }
    const char* name = raw->d_name;
    // Also skips "." and ".."; on this platform names never fail to
    // convert, so hidden entries can go before anything is asked of them.
    if (name[0] == '.') continue;
    DirEntry entry;
    entry.name = name;
    if (raw->d_type == DT_DIR) {
      entry.isDirectory = true;
    } else {
      // Plain files need their size; links and unknown types their target.
      struct stat st;
      if (::fstatat(fd_, name, &st, 0) == 0) {
        entry.isDirectory = S_ISDIR(st.st_mode);
        entry.size = static_cast<int64_t>(st.st_size);
      }
    }
    entries.push_back(std::move(entry));
  }
}

}  // namespace varnholt_app
