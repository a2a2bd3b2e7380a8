// File times and pauses for the stable reader, on POSIX systems.

#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <cstdint>
#include <limits>

#include "base/file_io.h"
#include "project/stable_reader.h"

namespace varnholt_app {

namespace {

constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr uint64_t kUnitsPerSecond = 10'000'000;

// Clamped rather than wrapped: a file may carry any time its owner set.
uint64_t toFileTime(const timespec& time) {
  if (time.tv_sec < -kSecondsFrom1601To1970) return 0;
  if (time.tv_sec > std::numeric_limits<int64_t>::max() - kSecondsFrom1601To1970) {
    return std::numeric_limits<uint64_t>::max();
  }
  const auto seconds = static_cast<uint64_t>(time.tv_sec + kSecondsFrom1601To1970);
  if (seconds > (std::numeric_limits<uint64_t>::max() - kUnitsPerSecond) / kUnitsPerSecond) {
    return std::numeric_limits<uint64_t>::max();
  }
  return seconds * kUnitsPerSecond + static_cast<uint64_t>(time.tv_nsec) / 100;
}

}  // namespace

uint64_t currentFileTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return toFileTime(now);
}

bool lastWriteFileTime(const NativeString& path, uint64_t& fileTime) {
  struct stat st;
  if (!statNative(path, st)) return false;
  fileTime = toFileTime(st.st_mtim);
  return true;
}

void sleepMilliseconds(uint32_t ms) {
  timespec remaining{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace varnholt_app
