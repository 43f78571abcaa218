#include "platform/base/number.h"

#include <cmath>

namespace zuv::base {
namespace {
double round_half_away(double v, int decimals) {
  double scale = std::pow(10.0, decimals);
  return std::floor(v * scale + 0.5) / scale;
}
}  // namespace

double ROUND2(double number, int decimals) {
  if (number > 0) return round_half_away(number + 1e-12, decimals);
  if (number < 0) return -round_half_away(-number + 1e-12, decimals);
  return 0;
}

}  // namespace zuv::base
