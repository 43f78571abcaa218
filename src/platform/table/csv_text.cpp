#include "platform/table/csv_text.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "platform/base/text.h"
#include "platform/os/codepage.h"

namespace zuv::table {

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

std::string csv_header(const Table& table) {
  std::string out = "\"_recno\",\"_deleted\"";
  for (const auto& f : table.fields()) {
    if (f.is_system()) continue;
    out += ',';
    out += csv_quote(f.name);
  }
  out += '\n';
  return out;
}

namespace {
std::string cell_from_value(const Value& v) {
  switch (v.type) {
    case ValueType::Text:
      return os::utf8_from_852(base::rtrim(v.text));
    case ValueType::Memo:
      return os::utf8_from_852(v.text);
    case ValueType::Number: {
      char text[64];
      std::snprintf(text, sizeof text, "%.*f", v.decimals, v.number);
      return text;
    }
    case ValueType::Date:
      return v.is_empty_date() ? "" : v.text.substr(0, 4) + "-" + v.text.substr(4, 2) + "-" + v.text.substr(6, 2);
    case ValueType::Logical:
      return v.logical ? "T" : "F";
    default:
      return "";
  }
}
}  // namespace

std::string csv_record(const Table& table) {
  std::string out = csv_quote(std::to_string(table.recno()));
  out += ',';
  out += csv_quote(table.deleted() ? "T" : "F");
  Value v;
  for (int i = 0; i < table.field_count(); ++i) {
    if (table.fields()[i].is_system()) continue;
    table.read(i, v);
    out += ',';
    out += csv_quote(cell_from_value(v));
  }
  out += '\n';
  return out;
}

bool value_from_cell(const FieldDescriptor& f, const std::string& cell, Value& out) {
  switch (f.type) {
    case 'C':
      out = Value::of_text(os::cp852_from_utf8(cell));
      return true;
    case 'M':
      out = Value::of_memo(os::cp852_from_utf8(cell));
      return true;
    case 'N':
    case 'F': {
      std::string t = base::trim(cell);
      if (t.empty()) {
        out = Value{};
        return true;
      }
      char* end = nullptr;
      double d = std::strtod(t.c_str(), &end);
      if (*end) return false;
      out = Value::of_number(d);
      return true;
    }
    case 'D': {
      std::string t = base::trim(cell);
      if (t.empty()) {
        out = Value::of_date("");
        return true;
      }
      if (t.size() != 10 || t[4] != '-' || t[7] != '-') return false;
      std::string ymd = t.substr(0, 4) + t.substr(5, 2) + t.substr(8, 2);
      for (char c : ymd)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
      out = Value::of_date(ymd);
      return true;
    }
    case 'L': {
      std::string t = base::upper_ascii(base::trim(cell));
      out = Value::of_logical(t == "T" || t == "Y" || t == "TRUE");
      return true;
    }
    default:
      return false;
  }
}

}  // namespace zuv::table
