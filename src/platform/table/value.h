// The values a table field holds, as the engine hands them to its callers.
#pragma once

#include <string>
#include <string_view>

namespace zuv::table {

enum class ValueType : unsigned char { Empty, Text, Number, Date, Logical, Memo };

struct Value {
  ValueType type = ValueType::Empty;
  // Text and Memo: code page 852 bytes. Date: "YYYYMMDD", or eight blanks when empty.
  std::string text;
  double number = 0;
  // Number: width and decimals of the field it was read from (0 when made by a caller).
  int length = 0;
  int decimals = 0;
  bool logical = false;

  static Value of_text(std::string_view s) { return {ValueType::Text, std::string(s), 0, 0, 0, false}; }
  static Value of_number(double n, int length = 0, int decimals = 0) {
    return {ValueType::Number, {}, n, length, decimals, false};
  }
  // yyyymmdd: eight digits, or blank/empty for the empty date.
  static Value of_date(std::string_view yyyymmdd) {
    return {ValueType::Date, yyyymmdd.empty() ? std::string(8, ' ') : std::string(yyyymmdd), 0, 0, 0, false};
  }
  static Value of_logical(bool b) { return {ValueType::Logical, {}, 0, 0, 0, b}; }
  static Value of_memo(std::string_view s) { return {ValueType::Memo, std::string(s), 0, 0, 0, false}; }

  bool is_empty_date() const { return type == ValueType::Date && text.find_first_not_of(' ') == std::string::npos; }
  bool is_text_like() const { return type == ValueType::Text || type == ValueType::Memo; }
};

}  // namespace zuv::table
