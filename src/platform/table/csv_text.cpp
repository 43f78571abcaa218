#include "platform/table/csv_text.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "platform/base/text.h"
#include "platform/os/codepage.h"

namespace zuv::table {

std::optional<std::vector<std::string>> read_csv_row(std::istream& in, bool* unclosed) {
  if (unclosed) *unclosed = false;
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
  if (unclosed) *unclosed = quoted;
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

bool valid_utf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    unsigned c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    int n = 0;
    char32_t cp = 0, min = 0;
    if ((c & 0xE0) == 0xC0) n = 1, cp = c & 0x1F, min = 0x80;
    else if ((c & 0xF0) == 0xE0) n = 2, cp = c & 0x0F, min = 0x800;
    else if ((c & 0xF8) == 0xF0) n = 3, cp = c & 0x07, min = 0x10000;
    else return false;
    if (end - p <= n) return false;
    for (int k = 1; k <= n; ++k) {
      if ((p[k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    p += n + 1;
  }
  return true;
}

bool parse_plain_number(std::string_view t, double& out) {
  std::size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  std::string digits;
  int before = 0, after = 0;
  bool point = false;
  for (; i < t.size(); ++i) {
    char c = t[i];
    if (c >= '0' && c <= '9') {
      digits += c;
      (point ? after : before) += 1;
    } else if ((c == '.' || c == ',') && !point) {
      point = true;
      digits += '.';
    } else {
      return false;
    }
  }
  if (before + after == 0 || before > 20 || after > 20) return false;
  out = std::strtod(digits.c_str(), nullptr);
  if (negative) out = -out;
  return true;
}

bool parse_iso_date(std::string_view t, std::string& ymd) {
  std::string d;
  if (t.size() == 10 && t[4] == '-' && t[7] == '-') d = std::string(t.substr(0, 4)) + std::string(t.substr(5, 2)) + std::string(t.substr(8, 2));
  else if (t.size() == 8) d = std::string(t);
  else return false;
  for (char c : d)
    if (c < '0' || c > '9') return false;
  int y = std::stoi(d.substr(0, 4)), m = std::stoi(d.substr(4, 2)), day = std::stoi(d.substr(6, 2));
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || m < 1 || m > 12 || day < 1) return false;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (day > kDays[m - 1] + (m == 2 && leap ? 1 : 0)) return false;
  ymd = d;
  return true;
}

namespace {
// The cell's text in code page 852; false (why filled) when a character has no place
// in it.
bool text_852(const std::string& cell, std::string& out, std::string& why) {
  if (!valid_utf8(cell)) {
    why = "tekst nie jest poprawnym UTF-8";
    return false;
  }
  out = os::cp852_from_utf8(cell);
  if (os::utf8_from_852(out) != cell) {
    why = "znak spoza strony kodowej 852 tabeli";
    return false;
  }
  return true;
}
}  // namespace

bool value_from_cell(const FieldDescriptor& f, const std::string& cell, Value& out, std::string& why, bool truncate) {
  switch (f.type) {
    case 'C': {
      std::string text;
      if (!text_852(cell, text, why)) return false;
      std::size_t used = text.find_last_not_of(' ') == std::string::npos ? 0 : text.find_last_not_of(' ') + 1;
      if (used > f.length) {
        if (!truncate) {
          why = "tekst dłuższy niż pole (" + std::to_string(used) + " znaków, pole ma " + std::to_string(f.length) + ")";
          return false;
        }
        text.resize(f.length);
      }
      out = Value::of_text(text);
      return true;
    }
    case 'M': {
      std::string text;
      if (!text_852(cell, text, why)) return false;
      out = Value::of_memo(text);
      return true;
    }
    case 'N':
    case 'F': {
      std::string t = base::trim(cell);
      if (t.empty()) {
        out = Value{};
        return true;
      }
      double d = 0;
      if (!parse_plain_number(t, d)) {
        why = "to nie jest liczba: \"" + t + "\"";
        return false;
      }
      char text[72];
      if (Table::format_number(d, f.length, f.decimals, text) > f.length) {
        why = "liczba " + t + " nie mieści się w polu (" + std::to_string(f.length) + "," + std::to_string(f.decimals) + ")";
        return false;
      }
      out = Value::of_number(d);
      return true;
    }
    case 'D': {
      std::string t = base::trim(cell);
      if (t.empty()) {
        out = Value::of_date("");
        return true;
      }
      std::string ymd;
      if (t.size() != 10 || !parse_iso_date(t, ymd)) {
        why = "błędna data \"" + t + "\" (wymagana RRRR-MM-DD, dzień, który istnieje)";
        return false;
      }
      out = Value::of_date(ymd);
      return true;
    }
    case 'L': {
      std::string t = base::upper_ascii(base::trim(cell));
      if (t.size() > 1 || (t.size() == 1 && std::string_view("TFYN").find(t[0]) == std::string_view::npos)) {
        why = "wartość logiczna musi być T, F, Y, N lub pusta";
        return false;
      }
      out = Value::of_logical(t == "T" || t == "Y");
      return true;
    }
    default:
      why = "pole typu " + std::string(1, f.type) + " nie przyjmuje wartości z pliku CSV";
      return false;
  }
}

}  // namespace zuv::table
