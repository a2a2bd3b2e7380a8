#pragma once
// Plain binary file reading on the native file API. No text translation.

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/native_string.h"

namespace varnholt_app {

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

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// Reads the whole file: its size first, then that many bytes (a file that
// shrank meanwhile gives what was there). False when it cannot be opened or
// sized, or holds more than `maxBytes`.
bool readWholeFile(const NativeString& path, std::string& out,
                   int64_t maxBytes = INT64_MAX);

}  // namespace varnholt_app
