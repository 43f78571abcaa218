// Calendar days as counts, for the sample's dates: days since 1970-01-01 and back to
// "YYYYMMDD" (the proleptic Gregorian calendar, as the tables store dates).
#pragma once

#include <cstdio>
#include <string>

namespace zuv::sample {

inline long days_from_civil(int y, int m, int d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

inline std::string dtos(long days) {
  days += 719468;
  const long era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long y = static_cast<long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
  std::string out(8, '0');
  long v = y * 10000 + static_cast<long>(m) * 100 + static_cast<long>(d);
  for (int i = 7; i >= 0; --i, v /= 10) out[static_cast<std::size_t>(i)] = static_cast<char>('0' + v % 10);
  return out;
}

// 0 Monday .. 6 Sunday.
inline int weekday(long days) { return static_cast<int>(((days % 7) + 7 + 3) % 7); }

}  // namespace zuv::sample
