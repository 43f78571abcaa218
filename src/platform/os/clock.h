// The clock as the routines use it: local date and time, seconds since midnight with
// hundredths, and pauses counted in hundredths of a second.
#pragma once

#include <ctime>
#include <string>

namespace zuv::os {

struct LocalDateTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, hundredths = 0;
};

LocalDateTime now();
// The local calendar time of t (the thread-safe call of each target).
std::tm local_time(std::time_t t);
// Seconds since local midnight, to the hundredth (0.00 .. 86399.99).
double seconds_since_midnight();
// "YYYYMMDD" of today.
std::string today_dtos();
// "HH:MM:SS" of now.
std::string time_of_day();
void sleep_hundredths(int hundredths);

}  // namespace zuv::os
