#pragma once
// How far a value may be from the reading of its formatted text.
#include <algorithm>
#include <cmath>

namespace calorix::fuzz {

// Two decimals, rounded half up from fifteen significant digits, at most
// eight significant digits.
inline double Fixed2Allowance(double value) {
  const double a = std::fabs(value);
  return std::max(0.005 + 1e-14 * a, 6e-8 * a) * (1 + 1e-9);
}

// Eight significant digits.
inline double General8Allowance(double value) {
  return 6e-8 * std::fabs(value) * (1 + 1e-9);
}

}  // namespace calorix::fuzz
