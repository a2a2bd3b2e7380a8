#pragma once
// Reading a file that an editor may be writing at this very moment.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/file_io.h"
#include "base/native_string.h"

namespace varnholt_app {

// Largest file readFileStable reads: the window of the analysis, so that the
// code view never takes in a file that grew past it. A larger one fails.
inline constexpr int64_t kStableReadMaxBytes = kFileWindowBytes;

// Reads the whole file as raw bytes, trying up to eight times with pauses of
// 0, 8, 16, 24, 40, 60, 90 and 120 ms. An empty file written less than half
// a second ago, or whose write time moves between looks, is not trusted yet.
// True: `out` holds the whole file (maybe empty), `unstable` is false.
// False with `unstable` false: the path was empty; nothing was tried.
// False with `unstable` true: every attempt failed; `out` is empty.
bool readFileStable(std::string_view utf8Path, std::string& out, bool& unstable);

// Pauses and the wall clock, replaceable so tests can follow the schedule
// without waiting for it.
struct StableReadClock {
  std::function<void(uint32_t ms)> sleep;
  std::function<uint64_t()> now;  // file time, see currentFileTime
};
bool readFileStable(std::string_view utf8Path, std::string& out, bool& unstable,
                    const StableReadClock& clock);

// File times: 100 ns units since 1601-01-01 UTC.
uint64_t currentFileTime();
// The last write time of a file; false when it cannot be read.
bool lastWriteFileTime(const NativeString& path, uint64_t& fileTime);
void sleepMilliseconds(uint32_t ms);

}  // namespace varnholt_app
