#pragma once
// Natural logarithm and power built from basic arithmetic only, so that the
// heat figures come out bit for bit the same with every C library (the
// system log and pow differ in the last bit between platforms).

namespace varnholt_app {

// ln(x) for x > 0; within a few units in the last place of the exact value.
double portableLog(double x);

// e^z.
double portableExp(double z);

// base^exponent for base >= 0 and exponent > 0, as e^(exponent * ln(base)).
double portablePow(double base, double exponent);

}  // namespace varnholt_app
