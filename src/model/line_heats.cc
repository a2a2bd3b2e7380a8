#include "model/line_heats.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace varnholt_app {

namespace {

constexpr size_t kMaxIndexed = size_t{1} << 16;

// Open addressing over the bit patterns, so that -0.0 and NaNs stay apart.
struct DistinctTable {
  std::vector<uint64_t> keys;
  std::vector<uint32_t> slots;  // index + 1; 0 is free
  unsigned shift = 64;

  explicit DistinctTable(size_t expected) {
    size_t capacity = 16;
    while (capacity < 2 * expected) capacity *= 2;
    keys.resize(capacity);
    slots.assign(capacity, 0);
    shift = 64 - static_cast<unsigned>(std::countr_zero(capacity));
  }
  // The index of `bits`, adding it as `next` when it is new.
  uint32_t find(uint64_t bits, uint32_t next) {
    size_t slot = static_cast<size_t>((bits * 0x9e3779b97f4a7c15ull) >> shift);
    for (;;) {
      if (slots[slot] == 0) {
        keys[slot] = bits;
        slots[slot] = next + 1;
        return next;
      }
      if (keys[slot] == bits) return slots[slot] - 1;
      slot = (slot + 1) & (keys.size() - 1);
    }
  }
};

}  // namespace

LineHeats::LineHeats(const double* values, size_t count) : size_(count) {
  highest_ = -std::numeric_limits<double>::infinity();
  for (size_t i = 0; i < count; ++i) {
    if (values[i] > highest_) highest_ = values[i];
  }
  if (count == 0) return;

  // Index every line while there are few enough distinct values.
  std::vector<uint64_t> distinct;
  std::vector<uint16_t> index(count);
  DistinctTable table(std::min(count, kMaxIndexed));
  uint64_t lastBits = std::bit_cast<uint64_t>(values[0]) + 1;  // differs from the first
  uint32_t lastIndex = 0;
  bool plain = false;
  for (size_t i = 0; i < count; ++i) {
    const uint64_t bits = std::bit_cast<uint64_t>(values[i]);
    if (bits != lastBits) {
      const auto next = static_cast<uint32_t>(distinct.size());
      lastIndex = table.find(bits, next);
      lastBits = bits;
      if (lastIndex == next) {
        if (next == kMaxIndexed) {
          plain = true;
          break;
        }
        distinct.push_back(bits);
      }
    }
    index[i] = static_cast<uint16_t>(lastIndex);
  }
  const size_t width = distinct.size() <= 256 ? 1 : 2;
  if (!plain && 8 * distinct.size() + width * count >= 8 * count) plain = true;

  if (plain) {
    auto words = std::make_shared_for_overwrite<uint64_t[]>(count);
    std::memcpy(words.get(), values, count * sizeof(double));
    words_ = std::move(words);
    distinct_ = count;
    width_ = 8;
    return;
  }
  width_ = static_cast<uint8_t>(width);
  const size_t indexWords = (count * width_ + 7) / 8;
  auto words = std::make_shared_for_overwrite<uint64_t[]>(distinct.size() + indexWords);
  std::copy(distinct.begin(), distinct.end(), words.get());
  words.get()[distinct.size() + indexWords - 1] = 0;  // no stray bits after the last index
  auto* out = reinterpret_cast<unsigned char*>(words.get() + distinct.size());
  if (width_ == 1) {
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<unsigned char>(index[i]);
  } else {
    std::memcpy(out, index.data(), count * sizeof(uint16_t));
  }
  words_ = std::move(words);
  distinct_ = distinct.size();
}

bool LineHeats::operator==(const LineHeats& other) const {
  if (size_ != other.size_) return false;
  for (size_t i = 0; i < size_; ++i) {
    if (!((*this)[i] == other[i])) return false;
  }
  return true;
}

}  // namespace varnholt_app
