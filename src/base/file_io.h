#pragma once
// Plain binary file reading on the native file API. No text translation.

#include <cstddef>
#include <cstdint>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "base/native_string.h"

namespace varnholt_app {

// The largest file the program analyses, counts or shows (2 MiB). A read for
// any of these takes at most one byte more, to tell that a file is too big.
inline constexpr int64_t kFileWindowBytes = 2097152;

#ifdef _WIN32
// The form of `path` the file API accepts at any length: an absolute path
// that is too long for the classic limit gets the \\?\ prefix.
NativeString systemPath(const NativeString& path);
#else
// open(2) and stat(2) (following links) for paths of any length: a path
// longer than PATH_MAX is opened directory by directory from its start.
int openPath(const NativeString& path, int flags);
bool statNative(const NativeString& path, struct stat& st);
#endif

// An open file for reading, shared for read, write and delete so that it
// never blocks an editor. Closed on destruction.
class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  bool open(const NativeString& path);
  bool isOpen() const;
  void close();
  // Current size in bytes, or -1 when it cannot be read.
  int64_t size() const;
  // Reads up to `count` bytes; fewer only at the end of the file or on an
  // error. Returns the number of bytes read, or -1 on an error before any.
  int64_t read(void* buffer, size_t count);
  // One read of the system: it may give fewer bytes than there are.
  int64_t readOnce(void* buffer, size_t count);

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// What a file or folder is, whatever its name: device (volume) and inode
// (file index). A folder replaced under the same name gets another.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};
// False when the path cannot be reached.
bool fileIdentity(const NativeString& path, FileIdentity& out);

// Reads the whole file (a file that shrank meanwhile gives what was there).
// False when it cannot be opened, sized or read, or holds more than `maxBytes`,
// also when it grew past that after its size was taken: never more than
// `maxBytes` + 1 bytes are read. `sizeHint`: the size a listing just saw,
// taken instead of asking the file (-1: ask); a wrong one costs more reads,
// never other bytes.
bool readWholeFile(const NativeString& path, std::string& out,
                   int64_t maxBytes = INT64_MAX, int64_t sizeHint = -1);

}  // namespace varnholt_app
