#include "analysis/heat_math.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace varnholt_app {

namespace {

// ln 2 split so that k * kLn2Hi is exact for every exponent k of a double.
constexpr double kLn2Hi = 6.93147180369123816490e-01;
constexpr double kLn2Lo = 1.90821492927058770002e-10;
constexpr double kInvLn2 = 1.44269504088896338700e+00;
constexpr double kSqrtHalf = 0.70710678118654752440;

// 1 / (2k + 1): the atanh series of the logarithm.
constexpr double kOddReciprocals[] = {1.0 / 1,  1.0 / 3,  1.0 / 5,  1.0 / 7,  1.0 / 9,
                                      1.0 / 11, 1.0 / 13, 1.0 / 15, 1.0 / 17, 1.0 / 19,
                                      1.0 / 21, 1.0 / 23, 1.0 / 25};

// 1 / n: the Taylor series of the exponential.
constexpr double kReciprocals[] = {0,        1.0 / 1,  1.0 / 2,  1.0 / 3,  1.0 / 4,
                                   1.0 / 5,  1.0 / 6,  1.0 / 7,  1.0 / 8,  1.0 / 9,
                                   1.0 / 10, 1.0 / 11, 1.0 / 12, 1.0 / 13, 1.0 / 14};

// 2^k for -1022 <= k <= 1023, built from its bits.
double powerOfTwo(int k) {
  const uint64_t bits = static_cast<uint64_t>(k + 1023) << 52;
  double out;
  std::memcpy(&out, &bits, sizeof out);
  return out;
}

// ln x as an unevaluated sum hi + lo, for x > 0 finite.
void logParts(double x, double& hi, double& lo) {
  int e = 0;
  double m = std::frexp(x, &e);  // exact: x = m * 2^e, 0.5 <= m < 1
  if (m < kSqrtHalf) {
    m *= 2;
    --e;
  }
  // ln m = 2 atanh(f) = 2f (1 + f^2/3 + f^4/5 + ...), |f| <= 0.1716.
  const double f = (m - 1) / (m + 1);
  const double s = f * f;
  double series = kOddReciprocals[12];
  for (int k = 11; k >= 1; --k) series = kOddReciprocals[k] + s * series;
  const double lnM = 2 * f + 2 * f * (s * series);
  const double big = e * kLn2Hi;  // exact
  hi = big + lnM;
  lo = ((big - hi) + lnM) + e * kLn2Lo;
}

// a * b = p + err exactly (Dekker), without relying on a fused multiply-add.
void twoProduct(double a, double b, double& p, double& err) {
  constexpr double kSplit = 134217729.0;  // 2^27 + 1
  const double ta = kSplit * a;
  const double aHi = ta - (ta - a);
  const double aLo = a - aHi;
  const double tb = kSplit * b;
  const double bHi = tb - (tb - b);
  const double bLo = b - bHi;
  p = a * b;
  err = ((aHi * bHi - p) + aHi * bLo + aLo * bHi) + aLo * bLo;
}

// e^(z + zLo) for a small correction zLo.
double expParts(double z, double zLo) {
  if (std::isnan(z)) return z;
  if (z > 709.78) return std::numeric_limits<double>::infinity();
  if (z < -745.2) return 0.0;
  const int k = static_cast<int>(std::floor(z * kInvLn2 + 0.5));
  const double r = ((z - k * kLn2Hi) + zLo) - k * kLn2Lo;  // |r| <= 0.35
  // Taylor series to r^14 / 14!, summed from the small end.
  double sum = 1.0;
  for (int n = 14; n >= 1; --n) sum = 1.0 + r * sum * kReciprocals[n];
  // Two steps keep each factor a normal number.
  const int half = k / 2;
  return sum * powerOfTwo(half) * powerOfTwo(k - half);
}

}  // namespace

double portableLog(double x) {
  if (std::isnan(x) || x < 0) return std::numeric_limits<double>::quiet_NaN();
  if (x == 0) return -std::numeric_limits<double>::infinity();
  if (std::isinf(x)) return x;
  double hi = 0;
  double lo = 0;
  logParts(x, hi, lo);
  return hi + lo;
}

double portableExp(double z) { return expParts(z, 0.0); }

double portablePow(double base, double exponent) {
  if (std::isnan(base) || std::isnan(exponent) || base < 0) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  if (base == 0) return 0.0;
  if (base == 1) return 1.0;
  if (std::isinf(base)) return base;
  double hi = 0;
  double lo = 0;
  logParts(base, hi, lo);
  double z = 0;
  double zErr = 0;
  twoProduct(exponent, hi, z, zErr);
  return expParts(z, zErr + exponent * lo);
}

}  // namespace varnholt_app
