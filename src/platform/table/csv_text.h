// Records as UTF-8 CSV text, the exchange form of the administrators' tool: fields in
// double quotes (doubled inside), dates YYYY-MM-DD (empty for the empty date), logicals
// T or F, numbers with a point and the field's decimals, texts without trailing blanks,
// memo texts whole.
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "platform/table/table.h"

namespace zuv::table {

// The next row of a CSV input, or nothing at its end; line breaks inside quotes stay.
std::optional<std::vector<std::string>> read_csv_row(std::istream& in);
std::string csv_quote(const std::string& field);

// "_recno","_deleted" and the field names.
std::string csv_header(const Table& table);
// The current record as one CSV line (with its line end).
std::string csv_record(const Table& table);

// A cell's text as a value for the field; false when it is not one (bad number or date).
bool value_from_cell(const FieldDescriptor& field, const std::string& cell, Value& out);

}  // namespace zuv::table
