#pragma once
// What the walk asks of the file system; one implementation per platform
// (walk_posix.cc, walk_win32.cc). Every status query follows links.

#include <cstdint>
#include <vector>

#include "base/native_string.h"

namespace varnholt_app {

struct PathStatus {
  bool exists = false;
  bool isDirectory = false;
  int64_t size = -1;  // -1 when unknown
};

// One entry of a directory listing ("." and ".." are never listed).
struct DirEntry {
  NativeString name;
  bool isDirectory = false;  // of the link target for links; false when unreadable
  int64_t size = -1;         // of the link target for links; -1 when unreadable
};

// Identity of a directory, to notice a link that leads back to an ancestor.
// Some file systems report no file index; such directories are never taken
// for one of their ancestors.
struct DirIdentity {
  bool known = false;
  uint64_t volume = 0;
  uint64_t object = 0;
  bool sameAs(const DirIdentity& other) const {
    return known && other.known && volume == other.volume && object == other.object;
  }
};

PathStatus statPath(const NativeString& path);

// An open directory. The listing is read in one go so that no more than one
// directory is held open at a time, however deep the walk goes.
class DirectoryReader {
 public:
  DirectoryReader() = default;
  DirectoryReader(const DirectoryReader&) = delete;
  DirectoryReader& operator=(const DirectoryReader&) = delete;
  ~DirectoryReader();

  // False when the directory cannot be opened for any reason.
  bool open(const NativeString& path);
  DirIdentity identity() const { return identity_; }
  // Appends the entries in listing order. Entries whose name begins with "."
  // may be left out or listed without their status. Throws WalkError when
  // the listing breaks off before its normal end.
  void readAll(std::vector<DirEntry>& entries);

 private:
  NativeString path_;
  DirIdentity identity_;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace varnholt_app
