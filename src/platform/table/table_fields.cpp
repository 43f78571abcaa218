// Table's field codec: field bytes to values and back. Scans spend their time here, so
// the usual types take short paths (blanks skipped eight at a time, digits gathered as
// an integer, text storage reused); bench/table_scan.cpp measures them.
#include "platform/table/table.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/base/number.h"
#include "platform/error/error.h"
#include "platform/table/memo_file.h"
#include "platform/table/table_internal.h"

namespace zuv::table {
using namespace detail;

namespace {

// A field's bytes into a value's text. Scans reuse one value over and over, so the
// text's storage is kept and the general assign (overlap checks, reallocation) avoided.
inline void set_bytes(std::string& s, const std::uint8_t* p, std::size_t n) {
  const char* c = reinterpret_cast<const char*>(p);
  std::size_t have = s.size();
  if (n <= have) {
    s.resize(n);
    std::memcpy(s.data(), c, n);
  } else if (n <= s.capacity()) {
    if (have) std::memcpy(s.data(), c, have);
    s.append(c + have, n - have);
  } else {
    s.assign(c, n);
  }
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// |value| rounded half away from zero to dec places, as an integer count of units of
// the last place (after the same 1e-12 nudge as base::ROUND2).
double scaled_magnitude(double value, int dec) {
  static const double kPow10[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10,
                                  1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};
  const double magnitude = std::abs(value);
  const double exact = (magnitude + 1e-12) * kPow10[std::min(dec, 18)];
  double scaled = magnitude == 0 ? 0 : std::floor(exact + 0.5);
  // A value printed as an exact half rounds up, as the suite's ROUND does, though its
  // binary product may lie just below the half (16384.045 * 100 = 1638404.4999...).
  if (scaled > 0 && scaled < 9e15 && std::abs(exact - std::floor(exact) - 0.5) < 1e-6)
    scaled = std::round(base::ROUND2(magnitude, dec) * kPow10[std::min(dec, 18)]);
  return scaled;
}

// A number rounded half away from zero to dec places (after the same 1e-12 nudge
// as base::ROUND2), right-aligned in width characters as printf's "%*.*f" writes
// it; answers the length written (more than width: it does not fit).
int format_fixed(double value, int width, int dec, char* out) {
  const double magnitude = std::abs(value);
  const double scaled = scaled_magnitude(value, dec);
  if (!(scaled < 9e15)) {
    // Beyond exact integers: the library's formatting, which is exact for doubles.
    if (!(magnitude < 1e21)) return 99;
    double rounded = base::ROUND2(value, dec);
    return std::snprintf(out, 64, "%*.*f", width, dec, rounded);
  }
  auto k = static_cast<std::uint64_t>(scaled);
  char digits[32];
  char* end = digits + sizeof digits;
  char* p = end;
  while (k >= 100) {
    p -= 2;
    std::memcpy(p, kDigitPairs + 2 * (k % 100), 2);
    k /= 100;
  }
  if (k >= 10) {
    p -= 2;
    std::memcpy(p, kDigitPairs + 2 * k, 2);
  } else {
    *--p = static_cast<char>('0' + k);
  }
  while (end - p < dec + 1) *--p = '0';  // "0.05", not ".05"
  int count = static_cast<int>(end - p);
  bool negative = value < 0 && scaled != 0;  // no "-0.00"
  int n = count + (dec > 0 ? 1 : 0) + (negative ? 1 : 0);
  int pad = width > n ? width - n : 0;
  char* o = out;
  for (int i = 0; i < pad; ++i) *o++ = ' ';
  if (negative) *o++ = '-';
  std::memcpy(o, p, static_cast<std::size_t>(count - dec));
  o += count - dec;
  if (dec > 0) {
    *o++ = '.';
    std::memcpy(o, end - dec, static_cast<std::size_t>(dec));
    o += dec;
  }
  *o = 0;
  return pad + n;
}

// A number written into a field of width bytes as format_fixed writes it, straight
// from the rounded integer, right to left; false (the field untouched) when it does
// not fit.
bool encode_fixed(double value, int width, int dec, std::uint8_t* field) {
  const double scaled = scaled_magnitude(value, dec);
  if (!(scaled < 9e15) || width > 32) {
    char text[72];
    int n = format_fixed(value, width, dec, text);
    if (n < 0 || n > width) return false;
    std::memcpy(field, text, static_cast<std::size_t>(width));
    return true;
  }
  char text[40];
  std::memset(text, ' ', sizeof text);
  char* end = text + sizeof text;
  char* p = end;
  auto k = static_cast<std::uint64_t>(scaled);
  if (dec > 0) {
    int left = dec;
    for (; left >= 2; left -= 2) {
      p -= 2;
      std::memcpy(p, kDigitPairs + 2 * (k % 100), 2);
      k /= 100;
    }
    if (left) {
      *--p = static_cast<char>('0' + k % 10);
      k /= 10;
    }
    *--p = '.';
  }
  while (k >= 100) {
    p -= 2;
    std::memcpy(p, kDigitPairs + 2 * (k % 100), 2);
    k /= 100;
  }
  if (k >= 10) {
    p -= 2;
    std::memcpy(p, kDigitPairs + 2 * k, 2);
  } else {
    *--p = static_cast<char>('0' + k);
  }
  if (value < 0 && scaled != 0) *--p = '-';  // no "-0.00"
  if (end - p > width) return false;
  std::memcpy(field, end - width, static_cast<std::size_t>(width));
  return true;
}

bool all_digits(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned>(c) - '0' >= 10) return false;
  return true;
}

bool all_blank(const std::string& s) {
  for (char c : s)
    if (c != ' ') return false;
  return true;
}

// Days since the start of the Julian period to "YYYYMMDD" (0: empty date).
std::string date_from_julian(std::int64_t jd) {
  if (jd <= 0) return std::string(8, ' ');
  std::int64_t a = jd + 32044;
  std::int64_t b = (4 * a + 3) / 146097;
  std::int64_t c = a - 146097 * b / 4;
  std::int64_t d = (4 * c + 3) / 1461;
  std::int64_t e = c - 1461 * d / 4;
  std::int64_t m = (5 * e + 2) / 153;
  int day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
  int month = static_cast<int>(m + 3 - 12 * (m / 10));
  long long year = 100 * b + d - 4800 + m / 10;
  if (year < 1 || year > 9999) return std::string(8, ' ');
  char out[32];
  std::snprintf(out, sizeof out, "%04lld%02d%02d", year, month, day);
  return out;
}

std::int64_t julian_from_date(const std::string& ymd) {
  if (ymd.size() != 8 || ymd.find_first_not_of("0123456789") != std::string::npos) return 0;
  int y = std::stoi(ymd.substr(0, 4)), m = std::stoi(ymd.substr(4, 2)), d = std::stoi(ymd.substr(6, 2));
  int a = (14 - m) / 12;
  std::int64_t yy = y + 4800 - a, mm = m + 12 * a - 3;
  return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}


}  // namespace

// ---------------------------------------------------------------- fields

Value Table::get(int field) const {
  Value v;
  read(field, v);
  return v;
}

Value Table::get(std::string_view name) const {
  int i = field_index(name);
  return i < 0 ? Value{} : get(i);
}

bool Table::memo_of(int field, const std::uint8_t* record, std::string& out) const {
  const FieldDescriptor& f = fields_[field];
  const std::uint8_t* p = record + f.offset;
  std::uint32_t block = 0;
  if (f.length == 4) {
    block = le32(p);
  } else {
    // A damaged pointer (negative, beyond 32 bits) points past every memo file.
    const double n = parse_number(p, f.length);
    block = n >= 0 && n < 4294967295.0 ? static_cast<std::uint32_t>(n) : 0xFFFFFFFFu;
  }
  if (!memo_) {
    out.clear();
    return block == 0;
  }
  MemoFault fault;
  if (memo_->read(block, out, fault)) return true;
  const_cast<Table*>(this)->raise_memo(fault, fault.description, "FIELDGET");
  out.clear();
  return false;
}

namespace {

// One decoder per common type, each reached by a plain jump from read(), so that the
// dispatch itself saves no registers and each decoder only what it needs.
[[gnu::noinline]] void read_text(Value& out, const std::uint8_t* p, std::size_t n) {
  out.type = ValueType::Text;
  out.number = 0;
  out.length = out.decimals = 0;
  out.logical = false;
  set_bytes(out.text, p, n);
}

[[gnu::noinline]] void read_number(Value& out, const std::uint8_t* p, const FieldDescriptor& f) {
  out.type = ValueType::Number;
  out.text.clear();
  out.logical = false;
  out.length = f.length;
  out.decimals = f.decimals;
  out.number = parse_number(p, f.length);
}

[[gnu::noinline]] void read_date(Value& out, const std::uint8_t* p) {
  static const std::uint8_t kBlank[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  bool digits = true;
  for (int i = 0; i < 8; ++i) digits = digits && static_cast<unsigned>(p[i]) - '0' < 10;
  out.type = ValueType::Date;
  out.number = 0;
  out.length = out.decimals = 0;
  out.logical = false;
  set_bytes(out.text, digits ? p : kBlank, 8);
}

}  // namespace

void Table::read(int field, Value& out) const {
  if (field < 0 || field >= field_count()) {
    out.type = ValueType::Empty;
    out.number = 0;
    out.length = out.decimals = 0;
    out.logical = false;
    out.text.clear();
    return;
  }
  const FieldDescriptor& f = fields_[field];
  const std::uint8_t* p = buffer_.data() + f.offset;
  switch (f.type) {
    case 'C':
    case 'V':
    case 'Q':
      return read_text(out, p, f.length);
    case 'N':
    case 'F':
      return read_number(out, p, f);
    case 'D':
      return read_date(out, p);
    case 'L':
      out.type = ValueType::Logical;
      out.number = 0;
      out.length = out.decimals = 0;
      out.logical = *p == 'T' || *p == 't' || *p == 'Y' || *p == 'y';
      out.text.clear();
      return;
    default:
      out.number = 0;
      out.length = out.decimals = 0;
      out.logical = false;
      return read_other(field, out);
  }
}

// The field types a scan meets seldom, apart from the usual path.
[[gnu::noinline]] void Table::read_other(int field, Value& out) const {
  const FieldDescriptor& f = fields_[field];
  if (f.is_memo()) {
    if (memo_pending_[field]) {
      out.type = ValueType::Memo;
      out.text = pending_memo_[field];
      return;
    }
    if (f.length == 10 && std::memcmp(buffer_.data() + f.offset, "          ", 10) == 0) {
      out.type = ValueType::Memo;
      out.text.clear();
      return;
    }
  }
  out = value_in(field, buffer_.data());
}

Value Table::value_in(int field, const std::uint8_t* record) const {
  Value v;
  if (field < 0 || field >= field_count()) return v;
  const FieldDescriptor& f = fields_[field];
  const std::uint8_t* p = record + f.offset;
  switch (f.type) {
    case 'M':
    case 'G':
    case 'P':
    case 'W':
      v.type = ValueType::Memo;
      memo_of(field, record, v.text);
      return v;
    case 'I': {
      std::int32_t n = static_cast<std::int32_t>(le32(p));
      return Value::of_number(n, 11, 0);
    }
    case 'B': {
      double d;
      std::memcpy(&d, p, 8);
      return Value::of_number(d, 20, f.decimals);
    }
    case 'Y': {
      std::int64_t n = static_cast<std::int64_t>(le32(p)) | (static_cast<std::int64_t>(le32(p + 4)) << 32);
      return Value::of_number(static_cast<double>(n) / 10000.0, 20, 4);
    }
    case 'T':
      return Value::of_date(date_from_julian(static_cast<std::int32_t>(le32(p))));
    case '0':
      return v;
    default: {
      // The common types share read()'s decoding on a copy of the record image.
      Table& self = const_cast<Table&>(*this);
      std::vector<std::uint8_t> saved;
      saved.swap(self.buffer_);
      self.buffer_.assign(record, record + record_length_);
      bool pending = memo_pending_[field];
      self.memo_pending_[field] = false;
      read(field, v);
      self.memo_pending_[field] = pending;
      self.buffer_.swap(saved);
      return v;
    }
  }
}

// The failures of a field put, kept out of the way of the usual path. The message
// ends with the field's name, its number when there is no such field, or nothing.
[[gnu::noinline, gnu::cold]] bool Table::refuse_put(int gen_code, const char* what, int field, FieldNaming naming) {
  std::string text = what;
  if (naming == FieldNaming::Number) text += std::to_string(field + 1);
  else if (naming == FieldNaming::Name) text += fields_[field].name;
  raise(gen_code, 0, text, "FIELDPUT");
  return false;
}

bool Table::encode(int field, const Value& value, std::uint8_t* record) {
  const FieldDescriptor& f = fields_[field];
  std::uint8_t* p = record + f.offset;
  auto mismatch = [&]() { return refuse_put(tablecode::kDataType, "Niezgodny typ danych pola ", field); };
  if (value.type == ValueType::Empty) {
    if (f.blank_is_zero())
      std::memset(p, 0, f.length);
    else
      std::memset(p, ' ', f.length);
    return true;
  }
  switch (f.type) {
    case 'C':
    case 'V':
    case 'Q': {
      if (!value.is_text_like()) return mismatch();
      std::size_t n = std::min<std::size_t>(value.text.size(), f.length);
      std::memcpy(p, value.text.data(), n);
      std::memset(p + n, ' ', f.length - n);
      return true;
    }
    case 'N':
    case 'F': {
      if (value.type != ValueType::Number) return mismatch();
      if (!std::isfinite(value.number)) {
        return refuse_put(gencode::kDataWidth, "Liczba nie mieści się w polu ", field);
      }
      if (!encode_fixed(value.number, f.length, f.decimals, p)) {
        return refuse_put(gencode::kDataWidth, "Liczba nie mieści się w polu ", field);
      }
      return true;
    }
    case 'D':
    case 'T': {
      if (value.type != ValueType::Date) return mismatch();
      bool empty = all_blank(value.text);
      if (!empty && (value.text.size() != 8 || !all_digits(value.text))) {
        return refuse_put(gencode::kArgument, "Błędna data dla pola ", field);
      }
      if (f.type == 'D') {
        std::memcpy(p, empty ? "        " : value.text.data(), 8);
      } else {
        std::memset(p, 0, 8);
        if (!empty) put_le32(p, static_cast<std::uint32_t>(julian_from_date(value.text)));
      }
      return true;
    }
    case 'L':
      if (value.type != ValueType::Logical) return mismatch();
      *p = value.logical ? 'T' : 'F';
      return true;
    case 'I': {
      if (value.type != ValueType::Number) return mismatch();
      double r = std::round(value.number);
      if (!(r >= -2147483648.0 && r <= 2147483647.0)) {
        return refuse_put(gencode::kDataWidth, "Liczba nie mieści się w polu ", field);
      }
      put_le32(p, static_cast<std::uint32_t>(static_cast<std::int32_t>(r)));
      return true;
    }
    case 'B': {
      if (value.type != ValueType::Number) return mismatch();
      std::memcpy(p, &value.number, 8);
      return true;
    }
    case 'Y': {
      if (value.type != ValueType::Number) return mismatch();
      double scaled = std::round(value.number * 10000.0);
      if (!(std::abs(scaled) < 9.2e18)) {
        return refuse_put(gencode::kDataWidth, "Liczba nie mieści się w polu ", field);
      }
      auto n = static_cast<std::int64_t>(scaled);
      put_le32(p, static_cast<std::uint32_t>(n));
      put_le32(p + 4, static_cast<std::uint32_t>(static_cast<std::uint64_t>(n) >> 32));
      return true;
    }
    default:
      return mismatch();
  }
}

bool Table::put(int field, const Value& value) {
  if (field < 0 || field >= field_count())
    return refuse_put(gencode::kArgument, "Brak pola o numerze ", field, FieldNaming::Number);
  if ((read_only_ || from_image_) && !writable_or_raise("FIELDPUT")) return false;
  if (eof_) return refuse_put(gencode::kArgument, "Zapis poza końcem tabeli", field, FieldNaming::None);
  if (fields_[field].is_memo()) return put_memo(field, value);
  if (!dirty_) before_change();
  if (!encode(field, value, buffer_.data())) return false;
  dirty_ = true;
  return true;
}

bool Table::put_bytes(int field, const std::uint8_t* bytes, int fields) {
  if (field < 0 || fields < 1 || field > field_count() - fields)
    return refuse_put(gencode::kArgument, "Brak pola o numerze ", field, FieldNaming::Number);
  if ((read_only_ || from_image_) && !writable_or_raise("FIELDPUT")) return false;
  if (eof_) return refuse_put(gencode::kArgument, "Zapis poza końcem tabeli", field, FieldNaming::None);
  std::size_t length = 0;
  for (int i = field; i < field + fields; ++i) {
    if (fields_[i].is_memo()) return refuse_put(tablecode::kDataType, "Niezgodny typ danych pola ", i);
    if (fields_[i].offset != fields_[field].offset + length)
      return refuse_put(gencode::kArgument, "Pola nie leżą obok siebie: ", i, FieldNaming::Number);
    length += fields_[i].length;
  }
  if (!dirty_) before_change();
  std::memcpy(buffer_.data() + fields_[field].offset, bytes, length);
  dirty_ = true;
  return true;
}

// Memo text waits beside the record until the record is stored.
[[gnu::noinline]] bool Table::put_memo(int field, const Value& value) {
  if (value.type != ValueType::Empty && !value.is_text_like())
    return refuse_put(tablecode::kDataType, "Niezgodny typ danych pola ", field);
  before_change();
  pending_memo_[field] = value.type == ValueType::Empty ? std::string() : value.text;
  memo_pending_[field] = true;
  any_memo_pending_ = true;
  dirty_ = true;
  return true;
}

bool Table::put(std::string_view name, const Value& value) {
  int i = field_index(name);
  if (i < 0) {
    raise(gencode::kArgument, 0, "Brak pola " + std::string(name), "FIELDPUT");
    return false;
  }
  return put(i, value);
}



int Table::format_number(double value, int width, int dec, char* out) { return format_fixed(value, width, dec, out); }


}  // namespace zuv::table
