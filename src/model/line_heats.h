#pragma once
// The raw heat of every line of one file, immutable once built.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <span>
#include <vector>

namespace varnholt_app {

// A file's lines share few distinct heats (blank and trivial lines are 0,
// most scored lines take one of a handful of base heats), so the values are
// kept once each and every line holds a one- or two-byte index into them;
// a file with more distinct heats keeps them plainly. Every value comes back
// with the bits it went in with. Copies share the one array, so a rescan
// hands an unchanged file's lines from the old model to the new one without
// copying them, and either model may be read on any thread.
class LineHeats {
 public:
  LineHeats() = default;
  LineHeats(const std::vector<double>& values) : LineHeats(values.data(), values.size()) {}
  LineHeats(std::initializer_list<double> values) : LineHeats(values.begin(), values.size()) {}
  LineHeats(const double* values, size_t count);

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  double operator[](size_t i) const {
    switch (width_) {
      case 1:
        return distinctAt(indices()[i]);
      case 2: {
        uint16_t index;
        std::memcpy(&index, indices() + 2 * i, sizeof index);
        return distinctAt(index);
      }
      default:
        return distinctAt(i);
    }
  }
  // The values that occur, each once in the order of first appearance;
  // every value in line order when they are kept plainly.
  size_t distinctCount() const { return distinct_; }
  double distinctAt(size_t k) const { return std::bit_cast<double>(words_.get()[k]); }
  // The largest value, NaN ignored; -infinity when there is none.
  double highest() const { return highest_; }
  // Where the values live, to visit many files in memory order and to see
  // that two copies share one array.
  const void* storage() const { return words_.get(); }
  // Bytes of the array, for memory accounting.
  size_t storedBytes() const {
    return width_ == 8 ? 8 * size_ : 8 * distinct_ + (size_ * width_ + 7) / 8 * 8;
  }

  class Iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = double;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = double;
    Iterator() = default;
    Iterator(const LineHeats* heats, size_t i) : heats_(heats), i_(i) {}
    double operator*() const { return (*heats_)[i_]; }
    Iterator& operator++() { ++i_; return *this; }
    Iterator operator++(int) { Iterator old = *this; ++i_; return old; }
    bool operator==(const Iterator& other) const { return i_ == other.i_; }

   private:
    const LineHeats* heats_ = nullptr;
    size_t i_ = 0;
  };
  Iterator begin() const { return {this, 0}; }
  Iterator end() const { return {this, size_}; }

  bool operator==(const LineHeats& other) const;

 private:
  const unsigned char* indices() const {
    return reinterpret_cast<const unsigned char*>(words_.get() + distinct_);
  }

  std::shared_ptr<const uint64_t[]> words_;  // the distinct values, then the indices
  size_t size_ = 0;
  double highest_ = 0.0;
  size_t distinct_ = 0;
  uint8_t width_ = 8;  // bytes per line: 1 or 2 for an index, 8 for a plain value
};

}  // namespace varnholt_app
