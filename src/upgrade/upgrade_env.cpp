#include "upgrade/upgrade_env.h"

#include <cmath>

#include "platform/os/clock.h"
#include "upgrade/upgrade_observer.h"

namespace zuv::upgrade {

UpgradeObserver& UpgradeEnv::told() const {
  static UpgradeObserver nobody;
  return observer ? *observer : nobody;
}

void UpgradeEnv::run_step(std::string_view name, const std::function<void()>& run) const { told().step(name, run); }

void UpgradeEnv::progress(double n) const { told().progress(n); }

void UpgradeEnv::progress_restart(double maximum, const std::string& text) const {
  told().progress_restart(maximum, text);
}

double UpgradeEnv::now_seconds() const { return seconds ? seconds() : os::seconds_since_midnight(); }

std::string UpgradeEnv::now_hms() const { return time_of_day ? time_of_day() : os::time_of_day(); }

std::string firm_directory(const std::string& database_dir, double nr, const char* prefix) {
  // STR(nr, 4) trimmed: the number rounded to a whole, as the register's field holds it.
  long long n = std::llround(nr);
  return database_dir + prefix + std::to_string(n) + "\\";
}

}  // namespace zuv::upgrade
