#include "project/stable_reader.h"

#include <array>
#include <new>
#include <utility>

#include "base/file_io.h"

namespace varnholt_app {

namespace {

constexpr std::array<uint32_t, 8> kPausesMs = {0, 8, 16, 24, 40, 60, 90, 120};
// Editors often truncate a file and write it a moment later: an empty file
// this young (100 ns units, 0.5 s) may be half-saved.
constexpr uint64_t kFreshWindow = 5'000'000;

}  // namespace

bool readFileStable(std::string_view utf8Path, std::string& out, bool& unstable,
                    const StableReadClock& clock) {
  out.clear();
  unstable = false;
  if (utf8Path.empty()) return false;
  const NativeString path = utf8ToNative(utf8Path);
  if (path.empty()) return false;

  uint64_t referenceTime = 0;
  bool referenceKnown = lastWriteFileTime(path, referenceTime);
  for (uint32_t pause : kPausesMs) {
    if (pause > 0) clock.sleep(pause);
    InputFile file;
    if (!file.open(path)) continue;
    const int64_t size = file.size();
    if (size < 0) continue;
    if (size > 0) {
      if (size > kStableReadMaxBytes) continue;
      std::string bytes;
      try {
        bytes.resize(static_cast<size_t>(size));
      } catch (const std::bad_alloc&) {
        continue;
      }
      const int64_t got = file.read(bytes.data(), bytes.size());
      file.close();
      if (got != size) continue;  // shrank or failed while we read
      out = std::move(bytes);
      unstable = false;
      return true;
    }

    file.close();
    uint64_t time = 0;
    const bool known = lastWriteFileTime(path, time);
    const bool changed = referenceKnown && known && time != referenceTime;
    const bool haveTime = known || referenceKnown;
    const uint64_t lastWrite = known ? time : referenceTime;
    const uint64_t now = clock.now();
    const bool fresh = haveTime && lastWrite != 0 && now > lastWrite && now - lastWrite < kFreshWindow;
    if (!changed && !fresh) {
      unstable = false;
      return true;  // really empty
    }
    unstable = true;
    referenceKnown = known;
    if (known) referenceTime = time;
  }
  unstable = true;
  out.clear();
  return false;
}

bool readFileStable(std::string_view utf8Path, std::string& out, bool& unstable) {
  static const StableReadClock systemClock{sleepMilliseconds, currentFileTime};
  return readFileStable(utf8Path, out, unstable, systemClock);
}

}  // namespace varnholt_app
