#include "model/line_heats.h"

#include <algorithm>
#include <array>
#include <limits>

#include "base/thread_scratch.h"

namespace varnholt_app {

namespace {

constexpr size_t kMaxIndexed = size_t{1} << 16;

// Gives every line the index of its value's bits among the distinct ones
// (so that -0.0 and NaNs stay apart), in W bytes at out + W * i. False when
// there are more than `limit` distinct values.
template <size_t W>
bool indexLines(const double* values, size_t count, size_t limit, uint64_t* keys,
                uint32_t* slots, size_t slotCount, std::vector<uint64_t>& distinct,
                unsigned char* out) {
  const unsigned shift = 64 - static_cast<unsigned>(std::countr_zero(slotCount));
  uint64_t lastBits = std::bit_cast<uint64_t>(values[0]) ^ 1;  // differs from the first
  uint32_t last = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint64_t bits = std::bit_cast<uint64_t>(values[i]);
    // Runs of one value (blank lines, plain statements) are common.
    if (bits != lastBits) {
      size_t slot = static_cast<size_t>((bits * 0x9e3779b97f4a7c15ull) >> shift);
      for (;;) {
        if (slots[slot] == 0) {
          if (distinct.size() == limit) return false;
          distinct.push_back(bits);
          keys[slot] = bits;
          slots[slot] = static_cast<uint32_t>(distinct.size());
        }
        if (keys[slot] == bits) break;
        slot = (slot + 1) & (slotCount - 1);
      }
      last = slots[slot] - 1;
      lastBits = bits;
    }
    if constexpr (W == 1) {
      out[i] = static_cast<unsigned char>(last);
    } else {
      const auto index = static_cast<uint16_t>(last);
      std::memcpy(out + 2 * i, &index, sizeof index);
    }
  }
  return true;
}

}  // namespace

LineHeats::LineHeats(const double* values, size_t count) : size_(count) {
  highest_ = -std::numeric_limits<double>::infinity();
  if (count == 0) return;

  // The indices are built in a buffer each thread keeps for its next file.
  VARNHOLT_THREAD_SCRATCH std::vector<unsigned char> buffer;
  VARNHOLT_THREAD_SCRATCH std::vector<uint64_t> distinct;
  distinct.clear();
  bool indexed = false;
  size_t width = 1;
  {
    // Almost every file has at most 256 distinct heats: a table on the stack.
    constexpr size_t kSmallSlots = 512;
    std::array<uint64_t, kSmallSlots> keys;
    std::array<uint32_t, kSmallSlots> slots{};
    if (buffer.size() < count) buffer.resize(count);
    indexed = indexLines<1>(values, count, 256, keys.data(), slots.data(), kSmallSlots, distinct,
                            buffer.data());
  }
  if (!indexed && count > 256) {
    width = 2;
    size_t slotCount = 1024;
    while (slotCount < 2 * std::min(count, kMaxIndexed)) slotCount *= 2;
    std::vector<uint64_t> keys(slotCount);
    std::vector<uint32_t> slots(slotCount);
    distinct.clear();
    if (buffer.size() < 2 * count) buffer.resize(2 * count);
    indexed = indexLines<2>(values, count, kMaxIndexed, keys.data(), slots.data(), slotCount,
                            distinct, buffer.data());
  }
  // Plainly, unless the indices and the distinct values take less room.
  if (!indexed || 8 * distinct.size() + width * count >= 8 * count) {
    auto words = std::make_shared_for_overwrite<uint64_t[]>(count);
    std::memcpy(words.get(), values, count * sizeof(double));
    for (size_t i = 0; i < count; ++i) highest_ = std::max(highest_, values[i]);
    words_ = std::move(words);
    distinct_ = count;
    width_ = 8;
  } else {
    const size_t indexWords = (count * width + 7) / 8;
    auto words = std::make_shared_for_overwrite<uint64_t[]>(distinct.size() + indexWords);
    std::copy(distinct.begin(), distinct.end(), words.get());
    words.get()[distinct.size() + indexWords - 1] = 0;  // no stray bits after the last index
    std::memcpy(words.get() + distinct.size(), buffer.data(), count * width);
    for (const uint64_t bits : distinct) highest_ = std::max(highest_, std::bit_cast<double>(bits));
    words_ = std::move(words);
    distinct_ = distinct.size();
    width_ = static_cast<uint8_t>(width);
  }
  // Not a huge buffer left by an exceptional file.
  if (buffer.capacity() > (size_t{1} << 20)) std::vector<unsigned char>().swap(buffer);
}

bool LineHeats::operator==(const LineHeats& other) const {
  if (size_ != other.size_) return false;
  for (size_t i = 0; i < size_; ++i) {
    if (!((*this)[i] == other[i])) return false;
  }
  return true;
}

}  // namespace varnholt_app
