#include "analysis/line_split.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
// As for the text scanner: an AVX2 build of the count, taken when the CPU
// has it; not on Windows, where gcc does not align the stack for it.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32)
#include <immintrin.h>
#define VARNHOLT_WIDE_COUNT 1
#endif

namespace varnholt_app {

namespace {

constexpr bool isBlankByte(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// What the first byte of a trimmed line says about isTrivialLine.
enum LeadKind : uint8_t { kLeadOther = 0, kLeadComment, kLeadSlash, kLeadPunct };
struct LeadBytes {
  uint8_t kind[256];
  constexpr LeadBytes() : kind() {
    kind[static_cast<unsigned char>('*')] = kLeadComment;
    kind[static_cast<unsigned char>('#')] = kLeadComment;
    kind[static_cast<unsigned char>('/')] = kLeadSlash;
    for (char c : {'(', ')', ',', ';', '[', ']', '{', '}'}) kind[static_cast<unsigned char>(c)] = kLeadPunct;
  }
};
constexpr LeadBytes kLeadBytes;

// The first bytes of a word as the memcpy of them into a uint64_t reads.
constexpr uint64_t prefixWord(std::string_view s, bool mask = false) {
  uint64_t w = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const uint64_t b = mask ? 0xff : static_cast<unsigned char>(s[i]);
    w |= std::endian::native == std::endian::little ? b << (8 * i) : b << (8 * (7 - i));
  }
  return w;
}
constexpr uint64_t prefixMask(size_t n) { return prefixWord(std::string_view("........", n), true); }
std::array<char, 8> prefixBytes(const char* p, size_t n) {
  std::array<char, 8> out{};
  for (size_t i = 0; i < n && i < 8; ++i) out[i] = p[i];
  return out;
}
constexpr uint64_t kImport = prefixWord("import");
constexpr uint64_t kPackage = prefixWord("package");
constexpr uint64_t kUsing = prefixWord("using");
constexpr uint64_t kPrefixMask5 = prefixMask(5);
constexpr uint64_t kPrefixMask6 = prefixMask(6);
constexpr uint64_t kPrefixMask7 = prefixMask(7);

#ifdef VARNHOLT_WIDE_COUNT
// Line breaks among the first `size` bytes, 32 at a time, up to 31 left over.
[[gnu::target("avx2")]] size_t countBreaksWide(const char* data, size_t size, size_t& done) {
  const __m256i newline = _mm256_set1_epi8('\n');
  size_t breaks = 0;
  size_t i = 0;
  while (size - i >= 32) {
    const size_t blocks = std::min<size_t>((size - i) / 32, 255);
    __m256i lanes = _mm256_setzero_si256();
    for (size_t b = 0; b < blocks; ++b, i += 32) {
      const __m256i chunk = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
      lanes = _mm256_sub_epi8(lanes, _mm256_cmpeq_epi8(chunk, newline));
    }
    const __m256i sums = _mm256_sad_epu8(lanes, _mm256_setzero_si256());
    breaks += static_cast<size_t>(_mm256_extract_epi64(sums, 0)) + static_cast<size_t>(_mm256_extract_epi64(sums, 1)) +
              static_cast<size_t>(_mm256_extract_epi64(sums, 2)) + static_cast<size_t>(_mm256_extract_epi64(sums, 3));
  }
  done = i;
  return breaks;
}
#endif

}  // namespace

size_t countSplitLines(std::string_view text) {
  if (text.empty()) return 0;
  const char* data = text.data();
  const size_t size = text.size();
  size_t breaks = 0;
  size_t i = 0;
#ifdef VARNHOLT_WIDE_COUNT
  static const bool wide = __builtin_cpu_supports("avx2");
  if (wide) breaks = countBreaksWide(data, size, i);
#endif
#ifdef __SSE2__
  // Sixteen bytes at a time; per-lane counters are folded before they wrap.
  const __m128i newline = _mm_set1_epi8('\n');
  while (size - i >= 16) {
    const size_t blocks = std::min<size_t>((size - i) / 16, 255);
    __m128i lanes = _mm_setzero_si128();
    for (size_t b = 0; b < blocks; ++b, i += 16) {
      const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
      lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(chunk, newline));
    }
    const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
    breaks += static_cast<size_t>(_mm_cvtsi128_si32(sums)) +
              static_cast<size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  }
#else
  // Eight bytes at a time: mark the zero bytes of (word ^ "\n\n\n...").
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7full;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, data + i, 8);
    const uint64_t x = word ^ (kOnes * '\n');
    const uint64_t zero = ~(((x & kLow7) + kLow7) | x) & ~kLow7;
    breaks += static_cast<size_t>(((zero >> 7) * kOnes) >> 56);
  }
#endif
  for (; i < size; ++i) breaks += data[i] == '\n' ? 1 : 0;
  return breaks + 1;
}

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  lines.reserve(countSplitLines(text));
  forEachLine(text, [&](std::string_view line) { lines.push_back(line); });
  return lines;
}
std::string_view trimLine(std::string_view line) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  size_t b = 0;
  size_t e = line.size();
  while (b < e && blank(line[b])) ++b;
  while (e > b && blank(line[e - 1])) --e;
  return line.substr(b, e - b);
}

bool isTrivialLine(std::string_view trimmedLine) {
  const std::string_view s = trimLine(trimmedLine);
  if (s.empty()) return true;
  if (s.starts_with("//") || s.starts_with("/*")) return true;
  if (s[0] == '*' || s[0] == '#') return true;
  if (s.starts_with("import ") || s.starts_with("package ") || s.starts_with("using ")) return true;
  for (char c : s) {
    switch (c) {
      case '(': case ')': case ',': case ';': case '[': case ']': case '{': case '}':
        break;
      default:
        return false;
    }
  }
  return true;
}

bool isTrivialUntrimmed(std::string_view line, size_t knownBlanks) {
  const char* const end = line.data() + line.size();
  const char* p = line.data() + std::min(knownBlanks, line.size());
  while (p < end && isBlankByte(*p)) ++p;
  if (p == end) return true;
  const auto rest = static_cast<size_t>(end - p);
  // Decided without a branch on the first byte, which follows no pattern.
  const uint8_t kind = kLeadBytes.kind[static_cast<unsigned char>(*p)];
  const char next = rest >= 2 ? p[1] : '\0';
  const bool trivial = (kind == kLeadComment) | ((kind == kLeadSlash) & ((next == '/') | (next == '*')));
  uint64_t word = 0;
  if (rest >= 8) {
    std::memcpy(&word, p, 8);
  } else {
    std::memcpy(&word, prefixBytes(p, rest).data(), 8);
  }
  // "import " and the like may lose their blank to trimming.
  if (((word & kPrefixMask6) == kImport) | ((word & kPrefixMask7) == kPackage) |
      ((word & kPrefixMask5) == kUsing)) {
    return isTrivialLine(trimLine(line));
  }
  if (kind != kLeadPunct) return trivial;
  // Brackets and separators only, up to trailing blanks.
  for (; p < end; ++p) {
    if (kLeadBytes.kind[static_cast<unsigned char>(*p)] == kLeadPunct) continue;
    if (!isBlankByte(*p)) return false;
    while (p < end && isBlankByte(*p)) ++p;
    return p == end;
  }
  return true;
}
}  // namespace varnholt_app
