// The verified finish of a database upgrade: before the database is marked finished,
// every firm of the register is looked at again, and so is every table the run wrote.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "upgrade/upgrade_env.h"

namespace zuv::upgrade {

// The local time a run began, as "YYYYMMDD HH:MM:SS": tables written since are the run's.
std::string run_stamp_now();

// Each firm of the register that has its core files and is not among failed must record
// a version that went through every firm step, and its tables written since `since` must
// pass the structure checks; a firm that does not is handed to fail_firm with the
// reason. Answers "" or the fault of a shared table or of the register, which is an
// error outside the firms.
std::string verify_finish(const UpgradeEnv& env, const std::string& database_dir, const std::string& since,
                          const std::vector<long long>& failed,
                          const std::function<void(double nr, const std::string& reason)>& fail_firm);

}  // namespace zuv::upgrade
