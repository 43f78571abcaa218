#include "platform/os/clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

namespace zuv::os {

std::tm local_time(std::time_t t) {
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  return tm;
}

LocalDateTime now() {
  auto tp = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(tp);
  auto since = tp.time_since_epoch();
  long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000;
  if (ms < 0) ms += 1000;
  const std::tm tm = local_time(t);
  LocalDateTime d;
  d.year = tm.tm_year + 1900;
  d.month = tm.tm_mon + 1;
  d.day = tm.tm_mday;
  d.hour = tm.tm_hour;
  d.minute = tm.tm_min;
  d.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // a leap second counts as the last one
  d.hundredths = static_cast<int>(ms / 10);
  return d;
}

double seconds_since_midnight() {
  LocalDateTime d = now();
  return d.hour * 3600 + d.minute * 60 + d.second + d.hundredths / 100.0;
}

std::string today_dtos() {
  LocalDateTime d = now();
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", d.year, d.month, d.day);
  return buf;
}

std::string time_of_day() {
  LocalDateTime d = now();
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", d.hour, d.minute, d.second);
  return buf;
}

void sleep_hundredths(int hundredths) {
  if (hundredths > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10LL * hundredths));
}

}  // namespace zuv::os
