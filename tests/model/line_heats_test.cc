#include "model/line_heats.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

namespace varnholt_app {
namespace {

// Every value comes back with its bits, whichever way the lines are stored:
// one-byte indices, two-byte indices, or plainly.
TEST(LineHeats, KeepsEveryBitInEachStorage) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const size_t distinct : {size_t{5}, size_t{300}, size_t{70000}}) {
    std::vector<double> values;
    for (size_t i = 0; i < 3 * distinct; ++i) {
      const size_t k = (i * 7919) % distinct;
      values.push_back(k == 0 ? -0.0 : k == 1 ? nan : k == 2 ? 0.0 : 0.1 * static_cast<double>(k));
    }
    const LineHeats heats(values);
    ASSERT_EQ(heats.size(), values.size());
    for (size_t i = 0; i < values.size(); ++i) {
      ASSERT_EQ(std::bit_cast<uint64_t>(heats[i]), std::bit_cast<uint64_t>(values[i])) << distinct << ' ' << i;
    }
    EXPECT_EQ(heats.highest(), 0.1 * static_cast<double>(distinct - 1));
    std::vector<double> iterated(heats.begin(), heats.end());
    EXPECT_EQ(iterated.size(), values.size());
    EXPECT_EQ(std::bit_cast<uint64_t>(iterated.back()), std::bit_cast<uint64_t>(values.back()));
    const LineHeats copy = heats;
    EXPECT_EQ(copy.storage(), heats.storage());
  }
  EXPECT_EQ(LineHeats({nan}).highest(), -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(LineHeats().empty());
  EXPECT_FALSE(LineHeats({1.0, 2.0}) == LineHeats({1.0, 3.0}));
}

}  // namespace
}  // namespace varnholt_app
