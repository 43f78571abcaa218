#include "upgrade/progress_screen.h"

#include "upgrade/time_estimate.h"

namespace zuv::upgrade {

void OPISY(ScreenFields& fields, const std::optional<std::string>& firm,
           const std::optional<std::string>& time_left, const std::optional<std::string>& firms_left,
           const std::string& now_hms) {
  fields.now = now_hms;
  if (firm) fields.firm = *firm;
  if (firms_left) fields.firms_left = *firms_left;
  if (time_left) fields.time_left = *time_left;
  if (fields.time_left == "?") return;
  fields.end_time = G1_P_G2(fields.now, fields.time_left);
}

}  // namespace zuv::upgrade
