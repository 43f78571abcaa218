#include "csv.h"

namespace zuv::dbtool {

std::optional<std::vector<std::string>> read_csv_row(std::istream& in) {
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, any = false, was_quoted = false;
  for (int c; (c = in.get()) != EOF;) {
    any = true;
    if (quoted) {
      if (c == '"') {
        if (in.peek() == '"') {
          field += '"';
          in.get();
        } else {
          quoted = false;
        }
      } else {
        field += static_cast<char>(c);
      }
      continue;
    }
    if (c == '"' && field.empty() && !was_quoted) {
      quoted = was_quoted = true;
    } else if (c == ',') {
      row.push_back(std::move(field));
      field.clear();
      was_quoted = false;
    } else if (c == '\n') {
      row.push_back(std::move(field));
      return row;
    } else if (c != '\r') {
      field += static_cast<char>(c);
    }
  }
  if (!any) return std::nullopt;
  row.push_back(std::move(field));
  return row;
}

std::string csv_quote(const std::string& field) {
  std::string out = "\"";
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

}  // namespace zuv::dbtool
