#include "platform/base/number.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace zuv::base {

namespace {
// Rounds a positive number half away from zero on its decimal value as the suite
// prints it (15 significant digits), not on its binary value: 16384.045 is held as
// 16384.04499999..., and rounding that would lose the half grosz.
double round_half_away(double v, int decimals) {
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
}  // namespace

double ROUND2(double number, int decimals) {
  if (number > 0) return round_half_away(number + 1e-12, decimals);
  if (number < 0) return -round_half_away(-number + 1e-12, decimals);
  return 0;
}

}  // namespace zuv::base
