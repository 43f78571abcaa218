// The running estimate of an upgrade's remaining time, and clock-time arithmetic on
// "hh:mm:ss" texts.
#pragma once

#include <string>

namespace zuv::upgrade {

// Seconds as "hh:mm:ss" (hours not wrapped), each part two digits at least.
std::string hms(long long seconds);

// G1_P_G2: the sum of two "hh:mm:ss" times, wrapped past midnight.
std::string G1_P_G2(const std::string& t1, const std::string& t2);

// OBLICZ_CZAS: set up with the number of firms, then asked after each firm.
class TimeEstimate {
 public:
  // OBLICZ_CZAS(total): remembers the total; answers "".
  std::string OBLICZ_CZAS(int total_firms);
  // OBLICZ_CZAS(start, now, done): the time left as "hh:mm:ss", from the pace so far.
  std::string OBLICZ_CZAS(double start_seconds, double now_seconds, int firms_done) const;
  int total() const { return total_; }

 private:
  int total_ = 0;
};

}  // namespace zuv::upgrade
