#pragma once
// 64-bit FNV-1a, the hash of every path- and name-keyed table in the program.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace varnholt_app {

inline uint64_t fnv1a64(std::string_view bytes) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ull;
  }
  return hash;
}

struct Fnv1aHash {
  using is_transparent = void;
  size_t operator()(std::string_view bytes) const { return static_cast<size_t>(fnv1a64(bytes)); }
  size_t operator()(const std::string& bytes) const { return operator()(std::string_view(bytes)); }
  size_t operator()(const char* bytes) const { return operator()(std::string_view(bytes)); }
};

}  // namespace varnholt_app
