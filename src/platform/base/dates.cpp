#include "platform/base/dates.h"

#include <cstdio>

namespace zuv::base {

long julian_day(std::string_view s) {
  if (s.size() < 8) return 0;
  int v[8];
  for (int i = 0; i < 8; ++i) {
    if (s[i] < '0' || s[i] > '9') return 0;
    v[i] = s[i] - '0';
  }
  long y = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
  int m = v[4] * 10 + v[5], d = v[6] * 10 + v[7];
  if (y < 1 || m < 1 || m > 12 || d < 1 || d > 31) return 0;
  long a = (14 - m) / 12;
  long yy = y + 4800 - a, mm = m + 12 * a - 3;
  return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

std::string date_from_julian(long jd) {
  if (jd <= 0) return std::string(8, ' ');
  long a = jd + 32044, b = (4 * a + 3) / 146097, c = a - 146097 * b / 4;
  long d = (4 * c + 3) / 1461, e = c - 1461 * d / 4, m = (5 * e + 2) / 153;
  long day = e - (153 * m + 2) / 5 + 1, month = m + 3 - 12 * (m / 10);
  long year = 100 * b + d - 4800 + m / 10;
  if (year < 1 || year > 9999) return std::string(8, ' ');
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04ld%02ld%02ld", year, month, day);
  return buf;
}

}  // namespace zuv::base
