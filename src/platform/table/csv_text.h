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
// unclosed (when given) tells that the input ended inside quotes.
std::optional<std::vector<std::string>> read_csv_row(std::istream& in, bool* unclosed = nullptr);
std::string csv_quote(const std::string& field);

// "_recno","_deleted" and the field names.
std::string csv_header(const Table& table);
// The current record as one CSV line (with its line end).
std::string csv_record(const Table& table);

// A cell's UTF-8 text as a value for the field: numbers with a point or a comma
// (no exponent, nan or inf) that fit the field, dates YYYY-MM-DD that exist, logicals
// T/F/Y/N or empty, texts in code page 852 no longer than the field (cut to it when
// truncate). false with why (Polish) when the cell is not such a value.
bool value_from_cell(const FieldDescriptor& field, const std::string& cell, Value& out, std::string& why,
                     bool truncate = false);

// A number as the operator types it: optional sign, digits, one point or comma and
// digits; nothing else (no exponent, nan or inf). false when the text is not one.
bool parse_plain_number(std::string_view text, double& out);
// "YYYY-MM-DD" or "YYYYMMDD" of a day that exists into "YYYYMMDD"; false otherwise.
bool parse_iso_date(std::string_view text, std::string& ymd);
// Whether text is well-formed UTF-8 (no overlong forms, surrogates or codes past U+10FFFF).
bool valid_utf8(std::string_view text);

}  // namespace zuv::table
