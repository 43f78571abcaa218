// Calendar days as counts for the sample's dates: the Julian day numbers the tables'
// own date helpers use, made from a year, month and day and turned back into the
// "YYYYMMDD" text a date field holds.
#pragma once

#include <cstdio>
#include <string>

#include "platform/base/dates.h"

namespace zuv::sample {

inline long days_from_civil(int y, int m, int d) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02d%02d", y, m, d);
  return base::julian_day(text);
}

inline std::string dtos(long days) { return base::date_from_julian(days); }

// 0 Monday .. 6 Sunday (Julian day 0 was a Monday).
inline int weekday(long days) { return static_cast<int>(days % 7); }

}  // namespace zuv::sample
