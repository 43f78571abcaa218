// The exchange rate of a day from the template directory's rate table, as the firm
// steps look it up.
#pragma once

#include <optional>
#include <string_view>
#include <utility>

#include "platform/table/work_areas.h"

namespace zuv::steps {

// {rate in PLN for the currency's unit, unit}.
using Rate = std::pair<double, double>;

// The rate of currency on date (YYYYMMDD; blank for the latest rate) from the table
// open as "eur" in its order "dat": (1, 1) for PLN, an empty code or none; nothing
// when "eur" is not open, the currency has no column, or the day has no record.
// The unit is 100 for JPY, HUF, ISK and KRW, 10000 for IDR, else 1.
std::optional<Rate> WEZ_KURS(table::WorkAreas& areas, std::string_view date, std::string_view currency);

}  // namespace zuv::steps
