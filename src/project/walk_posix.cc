// Directory enumeration with opendir/readdir. The listing's d_type saves a
// stat for every subdirectory; everything else is asked relative to the open
// directory, which spares the kernel a walk down the full path each time.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif

#include <time.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/file_io.h"
#include "project/walk.h"
#include "project/walk_platform.h"

namespace varnholt_app {

namespace {

PathStatus fromStat(const struct stat& st) {
  PathStatus status;
  status.exists = true;
  status.isDirectory = S_ISDIR(st.st_mode);
  status.size = static_cast<int64_t>(st.st_size);
  const auto ns = [](const struct timespec& t) {
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
  };
  status.stamp.volume = static_cast<uint64_t>(st.st_dev);
  status.stamp.object = static_cast<uint64_t>(st.st_ino);
  status.stamp.size = status.size;
  status.stamp.modified = ns(st.st_mtim);
  status.stamp.changed = ns(st.st_ctim);
  return status;
}

// File systems that describe the kernel rather than hold files: endless
// through their own links, with files whose reads can block or have effects.
bool isPseudoFileSystem([[maybe_unused]] int fd) {
#ifdef __linux__
  struct statfs fs;
  if (::fstatfs(fd, &fs) != 0) return false;
  switch (static_cast<uint64_t>(fs.f_type)) {
    case 0x9fa0:      // proc
    case 0x62656572:  // sysfs
    case 0x1cd1:      // devpts
    case 0x27e0eb:    // cgroup
    case 0x63677270:  // cgroup2
    case 0x64626720:  // debugfs
    case 0x74726163:  // tracefs
    case 0x73636673:  // securityfs
    case 0x62656570:  // configfs
    case 0xcafe4a11:  // bpf
    case 0x6165676c:  // pstore
    case 0x42494e4d:  // binfmt_misc
    case 0x65735543:  // fusectl
    case 0xde5e81e4:  // efivarfs
    case 0x19800202:  // mqueue
    case 0xf97cff8c:  // selinuxfs
    case 0x43415d53:  // smackfs
    case 0x6e736673:  // nsfs
    case 0x7655821:   // resctrl
      return true;
    default:
      return false;
  }
#else
  return false;
#endif
}

}  // namespace

PathStatus statPath(const NativeString& path) {
  struct stat st;
  if (!statNative(path, st)) return PathStatus{};
  return fromStat(st);
}

int64_t fileClockNow() {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t fileClockGranularity() { return 2000000000; }

DirectoryReader::DirectoryReader() = default;
DirectoryReader::~DirectoryReader() { close(); }

void DirectoryReader::close() {
  if (stream_ != nullptr) ::closedir(static_cast<DIR*>(stream_));
  if (fd_ >= 0) ::close(fd_);
  stream_ = nullptr;
  fd_ = -1;
}

bool DirectoryReader::open(const NativeString& path) {
  close();
  path_ = path;
  identity_ = DirIdentity{};
  fd_ = openPath(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct stat st;
  // The stream gets its own descriptor so that fd_ stays usable for the
  // relative calls below.
  const int streamFd = ::fstat(fd_, &st) == 0 && !isPseudoFileSystem(fd_) ? ::dup(fd_) : -1;
  if (streamFd >= 0) stream_ = ::fdopendir(streamFd);
  if (stream_ == nullptr) {
    if (streamFd >= 0) ::close(streamFd);
    close();
    return false;
  }
  identity_.known = true;
  identity_.volume = static_cast<uint64_t>(st.st_dev);
  identity_.object = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool DirectoryReader::next(DirEntry& entry) {
  auto* dir = static_cast<DIR*>(stream_);
  if (dir == nullptr) return false;
  for (;;) {
    errno = 0;
    const struct dirent* raw = ::readdir(dir);
    if (raw == nullptr) {
      if (errno != 0) {
        throw Failure("listing " + path_ + " failed: " + std::strerror(errno));
      }
      return false;
    }
    const char* name = raw->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    entry.name.assign(name);
    entry.kind = raw->d_type == DT_DIR   ? EntryKind::Directory
                 : raw->d_type == DT_REG ? EntryKind::File
                                         : EntryKind::Other;
    entry.listedSize = -1;
    return true;
  }
}

PathStatus DirectoryReader::status(const DirEntry& entry) {
  struct stat st;
  if (fd_ < 0 || ::fstatat(fd_, entry.name.c_str(), &st, 0) != 0) return PathStatus{};
  return fromStat(st);
}

bool DirectoryReader::readPrefix(const DirEntry& entry, char* buffer, size_t capacity,
                                 size_t& got) {
  got = 0;
  if (fd_ < 0) return false;
  int fd;
  // Non-blocking: an entry replaced by a FIFO since it was listed must not
  // hang the walk waiting for a writer. Reads of regular files don't care.
  do {
    fd = ::openat(fd_, entry.name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  bool ok = true;
  while (got < capacity) {
    const ssize_t n = ::read(fd, buffer + got, capacity - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = got > 0;  // an error before any byte: unreadable
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  return ok;
}

}  // namespace varnholt_app
