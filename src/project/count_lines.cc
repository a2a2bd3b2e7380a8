#include "project/count_lines.h"

#include <algorithm>
#include <limits>
#include <memory>

#include "base/file_io.h"
#include "base/native_string.h"
#include "base/thread_scratch.h"

namespace varnholt_app {

namespace {

constexpr size_t kBlockBytes = 65536;

// Counts line feeds in runs of at most 255 bytes with a byte-wide counter,
// a loop the compiler can vectorise.
uint64_t countLineFeeds(const char* bytes, size_t size) {
  uint64_t total = 0;
  while (size > 0) {
    const size_t run = std::min<size_t>(size, 255);
    unsigned char count = 0;
    for (size_t i = 0; i < run; ++i) {
      count = static_cast<unsigned char>(count + (bytes[i] == '\n'));
    }
    total += count;
    bytes += run;
    size -= run;
  }
  return total;
}

}  // namespace

int32_t countLines(std::string_view utf8Path, int64_t& bytesRead) {
  bytesRead = 0;
  InputFile file;
  if (!file.open(utf8ToNative(utf8Path))) return 0;
  // One block per thread, kept: a fresh (zeroed) 64 KiB per file would cost
  // more than counting a small file.
  VARNHOLT_THREAD_SCRATCH const std::unique_ptr<char[]> block(new char[kBlockBytes]);
  uint64_t lineFeeds = 0;
  char last = '\n';
  // One byte past the window tells a file that grew since the walk; it
  // counts no lines, like any file outside the window.
  constexpr int64_t kReadLimit = kFileWindowBytes + 1;
  while (bytesRead < kReadLimit) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(kBlockBytes, kReadLimit - bytesRead));
    const int64_t got = file.read(block.get(), want);
    if (got <= 0) break;
    const char* begin = block.get();
    const char* end = begin + got;
    lineFeeds += countLineFeeds(begin, static_cast<size_t>(got));
    last = end[-1];
    bytesRead += got;
    if (static_cast<size_t>(got) < want) break;
  }
  if (bytesRead == 0 || bytesRead > kFileWindowBytes) return 0;
  const uint64_t lines = lineFeeds + (last != '\n' ? 1 : 0);
  constexpr auto kMax = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
  return static_cast<int32_t>(std::min(lines, kMax));
}

int32_t countLinesIn(std::string_view bytes) {
  if (bytes.empty()) return 0;
  const uint64_t lines = countLineFeeds(bytes.data(), bytes.size()) + (bytes.back() != '\n' ? 1 : 0);
  constexpr auto kMax = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
  return static_cast<int32_t>(std::min(lines, kMax));
}

int32_t countLines(std::string_view utf8Path) {
  int64_t bytesRead = 0;
  return countLines(utf8Path, bytesRead);
}

}  // namespace varnholt_app
