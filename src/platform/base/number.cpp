#include "platform/base/number.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace zuv::base {

namespace {
// Rounds a positive number half away from zero on its decimal value as the suite
// prints it (15 significant digits), not on its binary value: 16384.045 is held as
// 16384.04499999..., and rounding that would lose the half grosz.
double round_on_digits(double v, int decimals) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.14e", v);  // d.dddddddddddddde[+-]xx
  std::string digits;
  const char* p = buf;
  for (; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') digits += *p;
  const int exponent = std::atoi(p + 1);
  // Digits kept: those down to the place of 10^-decimals.
  const int keep = exponent + 1 + decimals;
  if (keep >= static_cast<int>(digits.size())) return std::strtod(buf, nullptr);
  if (keep < 0) return 0;
  long long kept = keep == 0 ? 0 : std::stoll(digits.substr(0, keep));
  if (digits[keep] >= '5') ++kept;
  // The decimal result read back gives the double nearest to it.
  const std::string result = std::to_string(kept) + "e" + std::to_string(exponent + 1 - keep);
  return std::strtod(result.c_str(), nullptr);
}

double round_half_away(double v, int decimals) {
  // Below a hundred million in the last kept place, fifteen digits reach far past it:
  // only a number within a millionth of the half can round differently on its binary
  // value. The rest round directly; an integer divided by a power of ten gives the
  // double nearest to the decimal result, as reading it back does.
  static constexpr double kScale[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6};
  if (decimals >= 0 && decimals <= 6) {
    const double scale = kScale[decimals], scaled = v * scale;
    if (scaled < 1e8) {
      const double whole = std::floor(scaled), part = scaled - whole;
      if (std::abs(part - 0.5) > 1e-6) return (part > 0.5 ? whole + 1 : whole) / scale;
    }
  }
  return round_on_digits(v, decimals);
}
}  // namespace

double ROUND2(double number, int decimals) {
  if (number > 0) return round_half_away(number + 1e-12, decimals);
  if (number < 0) return -round_half_away(-number + 1e-12, decimals);
  return 0;
}

}  // namespace zuv::base
