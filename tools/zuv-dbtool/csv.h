// CSV as the tool reads and writes it: comma separated, fields in double quotes with
// doubled quotes inside, line breaks allowed inside quotes, UTF-8.
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace zuv::dbtool {

// The next row, or nothing at the end of the input.
std::optional<std::vector<std::string>> read_csv_row(std::istream& in);
std::string csv_quote(const std::string& field);

}  // namespace zuv::dbtool
