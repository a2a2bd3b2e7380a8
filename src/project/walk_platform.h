#pragma once
// What the walk asks of the file system; one implementation per platform
// (walk_posix.cc, walk_win32.cc). Every status query follows links.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/native_string.h"
#include "model/model.h"

namespace varnholt_app {

struct PathStatus {
  bool exists = false;
  bool isDirectory = false;
  int64_t size = -1;  // -1 when unknown
  FileStamp stamp;    // of a file; unknown (zero) where the system gives none
};

// How the listing itself describes an entry.
enum class EntryKind {
  Directory,  // a plain directory
  File,       // a plain file
  Other,      // a link, or a kind the listing does not tell: ask status()
};

struct DirEntry {
  NativeString name;
  EntryKind kind = EntryKind::Other;
  int64_t listedSize = -1;  // the size the listing gave, -1 when none
#ifdef _WIN32
  FileStamp listedStamp;  // the stamp it gave, unknown when it gave none
#endif
};

// Identity of a directory, so that each is listed once however many links
// lead to it. Some file systems report no file index; such directories are
// never taken for one another.
struct DirIdentity {
  bool known = false;
  uint64_t volume = 0;
  uint64_t object = 0;
  bool sameAs(const DirIdentity& other) const {
    return known && other.known && volume == other.volume && object == other.object;
  }
};

PathStatus statPath(const NativeString& path);

// The clock file times are written by, in the unit of FileStamp.
int64_t fileClockNow();
// How far a file time may lag the clock and still belong to a write that
// happened after it was read (coarse file-system clocks, FAT's 2 s ticks).
int64_t fileClockGranularity();

// One open directory, listed entry by entry ("." and ".." never appear).
class DirectoryReader {
 public:
  DirectoryReader();
  DirectoryReader(const DirectoryReader&) = delete;
  DirectoryReader& operator=(const DirectoryReader&) = delete;
  ~DirectoryReader();

  // False when the directory cannot be opened or listed for any reason, and
  // for the pseudo file systems of the kernel (proc, sysfs and the like).
  bool open(const NativeString& path);
  DirIdentity identity() const { return identity_; }
  // The next entry in listing order; false at the normal end. Throws
  // Failure when the listing breaks off before that.
  bool next(DirEntry& entry);
  // Status of an entry of this directory, following links.
  PathStatus status(const DirEntry& entry);
  // Reads up to `capacity` bytes from the start of an entry that is a file;
  // false when it cannot be opened.
  bool readPrefix(const DirEntry& entry, char* buffer, size_t capacity, size_t& got);

 private:
  void close();

  NativeString path_;
  DirIdentity identity_;
#ifdef _WIN32
  struct Listing;
  std::unique_ptr<Listing> listing_;
#else
  int fd_ = -1;
  void* stream_ = nullptr;  // DIR*
#endif
};

}  // namespace varnholt_app
