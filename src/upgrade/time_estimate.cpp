#include "upgrade/time_estimate.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "lib/text.h"

namespace zuv::upgrade {
namespace {

std::string two_digits(long long n) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%02lld", n);
  return buf;
}

// Splits seconds into parts with the carries of the original arithmetic: a part that
// reaches 60 becomes 0 and adds one to the part above.
void split(double total, long long& h, long long& m, long long& s) {
  h = static_cast<long long>(lib::C_INT(total / 3600));
  m = static_cast<long long>(lib::C_INT((total - h * 3600.0) / 60));
  s = static_cast<long long>(std::llround(total - h * 3600.0 - m * 60.0));
  if (s >= 60) {
    s = 0;
    ++m;
  }
  if (m >= 60) {
    m = 0;
    ++h;
  }
}

int part(const std::string& t, size_t at) {
  if (t.size() < at + 2) return 0;
  return std::atoi(t.substr(at, 2).c_str());
}

}  // namespace

std::string hms(long long seconds) {
  long long h, m, s;
  split(static_cast<double>(seconds < 0 ? 0 : seconds), h, m, s);
  return two_digits(h) + ":" + two_digits(m) + ":" + two_digits(s);
}

std::string G1_P_G2(const std::string& t1, const std::string& t2) {
  long long total = 0;
  for (const std::string* t : {&t1, &t2}) total += part(*t, 0) * 3600LL + part(*t, 3) * 60LL + part(*t, 6);
  long long h, m, s;
  split(static_cast<double>(total), h, m, s);
  return two_digits(h % 24) + ":" + two_digits(m) + ":" + two_digits(s);
}

std::string TimeEstimate::OBLICZ_CZAS(int total_firms) {
  total_ = total_firms;
  return "";
}

std::string TimeEstimate::OBLICZ_CZAS(double start_seconds, double now_seconds, int firms_done) const {
  if (firms_done < 1) return "00:00:00";
  double elapsed = now_seconds - start_seconds;
  // Past midnight the clock of the day starts again from zero.
  if (elapsed < 0) elapsed += 86400;
  double left = elapsed * (total_ - firms_done) / firms_done;
  if (left < 0) left = 0;
  long long h, m, s;
  split(left, h, m, s);
  return two_digits(h) + ":" + two_digits(m) + ":" + two_digits(s);
}

}  // namespace zuv::upgrade
