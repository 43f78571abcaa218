// Rounding as the suite's reports and stored numbers expect it.
#pragma once

namespace zuv::base {

// Half away from zero on the decimal value as printed (15 significant digits), after
// a 1e-12 nudge: 2.675 and 16384.045 round up although their binary values lie below
// the half. The runtime routine ROUND2 of lib/ is this one.
double ROUND2(double number, int decimals = 2);

}  // namespace zuv::base
