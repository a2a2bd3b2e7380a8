// File times and pauses for the stable reader, on Windows.

#include <windows.h>

#include "base/file_io.h"
#include "project/stable_reader.h"

namespace varnholt_app {

namespace {

uint64_t fromFileTime(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

uint64_t currentFileTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return fromFileTime(now);
}

bool lastWriteFileTime(const NativeString& path, uint64_t& fileTime) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(systemPath(path).c_str(), GetFileExInfoStandard, &data)) return false;
  fileTime = fromFileTime(data.ftLastWriteTime);
  return true;
}

void sleepMilliseconds(uint32_t ms) { Sleep(ms); }

}  // namespace varnholt_app
