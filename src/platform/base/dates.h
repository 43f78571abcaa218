// Dates as the tables keep them: "YYYYMMDD" text, eight blanks when empty, and the
// Julian day number that binary date fields and date index keys store.
#pragma once

#include <string>
#include <string_view>

namespace zuv::base {

// Julian day number of a YYYYMMDD date; 0 for an empty or invalid date text.
long julian_day(std::string_view yyyymmdd);
// YYYYMMDD of a Julian day number; eight blanks for 0 or below, or for a day outside
// the years 1 to 9999.
std::string date_from_julian(long jd);

}  // namespace zuv::base
