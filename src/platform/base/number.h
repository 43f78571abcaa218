// Rounding as the suite's reports and stored numbers expect it.
#pragma once

namespace zuv::base {

// Half away from zero, after a 1e-12 nudge that absorbs binary representation error
// (2.675 rounds to 2.68). The runtime routine ROUND2 of lib/ is this one.
double ROUND2(double number, int decimals = 2);

}  // namespace zuv::base
