#include "analysis/heat_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace varnholt_app {
namespace {

// Distance in units of the last place, for values of the same sign.
double ulps(double a, double b) {
  if (a == b) return 0;
  return std::fabs(a - b) / (std::nextafter(std::fabs(b), INFINITY) - std::fabs(b));
}

TEST(HeatMath, LogIsCloseToTheLibrary) {
  double worst = 0;
  for (double x = 1e-300; x < 1e300; x *= 1.0137) {
    worst = std::max(worst, ulps(portableLog(x), std::log(x)));
  }
  for (double x = 0.5; x < 2.5; x += 1.0 / 4096) {
    if (x == 1) continue;
    worst = std::max(worst, ulps(portableLog(x), std::log(x)));
  }
  EXPECT_LE(worst, 2.0);
  EXPECT_EQ(portableLog(1.0), 0.0);
  EXPECT_EQ(portableLog(0.0), -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(portableLog(-1.0)));
  EXPECT_LE(ulps(portableLog(1 + 1e-12), std::log(1 + 1e-12)), 2.0);  // no cancellation near 1
  EXPECT_NEAR(portableLog(std::numeric_limits<double>::denorm_min()), -744.44007192138126, 1e-12);
}

TEST(HeatMath, ExpAndPowAreCloseToTheLibrary) {
  double worstExp = 0;
  for (double z = -700; z < 700; z += 0.0137) {
    worstExp = std::max(worstExp, ulps(portableExp(z), std::exp(z)));
  }
  EXPECT_LE(worstExp, 2.0);
  EXPECT_EQ(portableExp(0), 1.0);
  EXPECT_EQ(portableExp(800), std::numeric_limits<double>::infinity());
  EXPECT_EQ(portableExp(-800), 0.0);
  EXPECT_GT(portableExp(-740), 0.0);  // subnormal, not flushed

  // The two exponents of the heat curves, over the bases they meet.
  double worstPow = 0;
  for (double exponent : {1.35, 1.45}) {
    for (double base = 1e-300; base < 1e6; base *= 1.0093) {
      worstPow = std::max(worstPow, ulps(portablePow(base, exponent), std::pow(base, exponent)));
    }
  }
  EXPECT_LE(worstPow, 3.0);
  EXPECT_EQ(portablePow(0, 1.45), 0.0);
  EXPECT_EQ(portablePow(1, 1.45), 1.0);
}

}  // namespace
}  // namespace varnholt_app
