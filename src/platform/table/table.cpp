#include "platform/table/table.h"

#include <exception>

#include <algorithm>
#include <bit>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <ctime>
#include <thread>

#include "platform/base/dates.h"
#include "platform/base/number.h"
#include "platform/base/text.h"
#include "platform/os/path.h"
#include "platform/table/memo_file.h"
#include "platform/error/error.h"

namespace zuv::table {
namespace {

constexpr std::size_t kWindowBytes = 64 * 1024;
constexpr std::uint32_t kMaxRecords = 0x7FFFFFF0u;  // below the lock area

std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t le32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}
void put_le16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put_le32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

using base::extension_of;
using base::with_extension;

bool is_upper_word(const std::string& s) {
  bool any = false;
  for (char c : s) {
    if (std::islower(static_cast<unsigned char>(c))) return false;
    any = any || std::isupper(static_cast<unsigned char>(c));
  }
  return any;
}

// The memo file beside a table: same name, extension in the case of the table's one,
// or the other case when only that exists.
std::string memo_path_for(const std::string& os_dbf, const char* ext_lower) {
  std::string ext = ext_lower;
  std::string upper = base::upper_ascii(ext);
  std::string first = with_extension(os_dbf, is_upper_word(extension_of(os_dbf)) ? upper : ext);
  if (os::native_file_exists(first)) return first;
  std::string second = with_extension(os_dbf, is_upper_word(extension_of(os_dbf)) ? ext : upper);
  return os::native_file_exists(second) ? second : first;
}

bool known_version(std::uint8_t v) {
  return v == 0x03 || v == 0x83 || v == 0xF5 || v == 0x30 || v == 0x31 || v == 0x32;
}
bool is_visual(std::uint8_t v) { return v == 0x30 || v == 0x31 || v == 0x32; }

// Numbers stand right-aligned behind blanks: the blanks are passed over eight at a time
// where the byte order allows it.
const std::uint8_t* skip_blanks(const std::uint8_t* p, const std::uint8_t* end) {
  if constexpr (std::endian::native == std::endian::little) {
    while (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      std::uint64_t other = word ^ 0x2020202020202020ull;
      if (other) return p + std::countr_zero(other) / 8;
      p += 8;
    }
  }
  while (p < end && *p == ' ') ++p;
  return p;
}

// Accumulates digits as an integer so values of up to 18 digits convert exactly
// (one division by an exact power of ten, correctly rounded).
[[gnu::always_inline]] inline double parse_number(const std::uint8_t* p, std::size_t n) {
  static const double kPow10[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10,
                                  1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};
  const std::uint8_t* end = p + n;
  p = skip_blanks(p, end);
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  std::uint64_t mantissa = 0;
  int scale = 0;
  double value;
  if (end - p <= 18) {
    // Short fields, the usual case: no digit count can overflow.
    for (; p < end; ++p) {
      unsigned d = static_cast<unsigned>(*p) - '0';
      if (d < 10) {
        mantissa = mantissa * 10 + d;
      } else if (*p == '.') {
        for (++p; p < end; ++p) {
          d = static_cast<unsigned>(*p) - '0';
          if (d >= 10) break;
          mantissa = mantissa * 10 + d;
          ++scale;
        }
        break;
      } else {
        break;
      }
    }
    value = static_cast<double>(mantissa);
  } else {
    int digits = 0, extra = 0;
    bool point = false;
    for (; p < end; ++p) {
      unsigned d = static_cast<unsigned>(*p) - '0';
      if (d < 10) {
        if (digits < 18) {
          mantissa = mantissa * 10 + d;
          if (mantissa) ++digits;
          if (point) ++scale;
        } else if (!point) {
          ++extra;  // integer digits past 18 still count magnitude
        }
      } else if (*p == '.' && !point) {
        point = true;
      } else {
        break;
      }
    }
    value = static_cast<double>(mantissa);
    if (extra > 0) value *= std::pow(10.0, extra);
  }
  if (scale > 0) value /= kPow10[std::min(scale, 18)];
  return negative ? -value : value;
}

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

// A number rounded half away from zero to dec places (after the same 1e-12 nudge
// as base::ROUND2), right-aligned in width characters as printf's "%*.*f" writes
// it; answers the length written (more than width: it does not fit).
int format_fixed(double value, int width, int dec, char* out) {
  static const double kPow10[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10,
                                  1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};
  double magnitude = std::abs(value);
  const double exact = (magnitude + 1e-12) * kPow10[std::min(dec, 18)];
  double scaled = magnitude == 0 ? 0 : std::floor(exact + 0.5);
  // A value printed as an exact half rounds up, as the suite's ROUND does, though its
  // binary product may lie just below the half (16384.045 * 100 = 1638404.4999...).
  if (scaled > 0 && scaled < 9e15 && std::abs(exact - std::floor(exact) - 0.5) < 1e-6)
    scaled = std::round(base::ROUND2(magnitude, dec) * kPow10[std::min(dec, 18)]);
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
  static const double kPow10[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10,
                                  1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};
  double magnitude = std::abs(value);
  const double exact = (magnitude + 1e-12) * kPow10[std::min(dec, 18)];
  double scaled = magnitude == 0 ? 0 : std::floor(exact + 0.5);
  // A value printed as an exact half rounds up, as the suite's ROUND does, though its
  // binary product may lie just below the half (16384.045 * 100 = 1638404.4999...).
  if (scaled > 0 && scaled < 9e15 && std::abs(exact - std::floor(exact) - 0.5) < 1e-6)
    scaled = std::round(base::ROUND2(magnitude, dec) * kPow10[std::min(dec, 18)]);
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

bool type_known(char t, std::uint8_t version) {
  switch (t) {
    case 'C': case 'N': case 'D': case 'L': case 'M': case 'F': return true;
    case 'G': case 'P': return version != 0x03 && version != 0x83;
    case 'I': case 'B': case 'Y': case 'T': case '0': case 'V': case 'Q': case 'W': return is_visual(version);
    default: return false;
  }
}

// The width rules a stored field must satisfy before its bytes are trusted.
bool length_valid(const FieldDescriptor& f) {
  switch (f.type) {
    case 'N': case 'F': return f.length >= 1 && f.length <= 20 && f.decimals < f.length;
    case 'D': return f.length == 8;
    case 'L': return f.length == 1;
    case 'M': case 'G': case 'P': return f.length == 10 || f.length == 4;
    case 'I': return f.length == 4;
    case 'B': case 'Y': case 'T': return f.length == 8;
    default: return f.length >= 1;
  }
}

}  // namespace

struct Table::Window {
  std::vector<std::uint8_t> data;
  std::uint32_t first = 0;  // record number of the first record held
  std::uint32_t count = 0;
  std::uint32_t capacity = 1;
  std::uint32_t dirty_lo = 0, dirty_hi = 0;  // record numbers, inclusive; lo 0 = clean
  bool contains(std::uint32_t r) const { return count && r >= first && r < first + count; }
  std::uint8_t* at(std::uint32_t r, std::uint32_t len) { return data.data() + std::size_t(r - first) * len; }
  void mark(std::uint32_t r) {
    if (!dirty_lo || r < dirty_lo) dirty_lo = r;
    if (r > dirty_hi) dirty_hi = r;
  }
};

static const Settings& default_settings() {
  static const Settings s;
  return s;
}

// ---------------------------------------------------------------- errors

bool Table::raise(int gen_code, int os_code, const std::string& description, const char* operation, bool can_retry) {
  ErrorRecord r;
  r.genCode = gen_code;
  r.osCode = os_code;
  r.subSystem = engine_.empty() ? "FOXCDX" : engine_;
  r.description = description;
  r.fileName = path_;
  r.operation = operation;
  r.canDefault = true;
  r.canRetry = can_retry;
  return raise_error(r) == HandlerAnswer::Retry;
}

bool Table::writable_or_raise(const char* operation) {
  if (!read_only_ && !from_image_) return true;
  raise(tablecode::kReadOnly, os::oscode::kAccessDenied, "Tabela otwarta tylko do odczytu", operation);
  return false;
}

// ---------------------------------------------------------------- open and create

std::unique_ptr<Table> Table::open(const OpenOptions& options) {
  for (;;) {
    std::unique_ptr<Table> t(new Table);
    t->settings_ = &default_settings();
    t->path_ = extension_of(options.path).empty() ? options.path + ".dbf" : options.path;
    t->os_path_ = os::native_path(t->path_);
    t->engine_ = options.engine.empty() ? "FOXCDX" : options.engine;
    t->shared_ = options.shared;
    t->read_only_ = options.read_only;
    os::Share share = options.shared ? os::Share::Shared : os::Share::Exclusive;
    os::Access access = options.read_only ? os::Access::Read : os::Access::ReadWrite;
    int rc = t->file_.open(t->os_path_, access, share);
    if (rc) {
      if (t->raise(gencode::kOpen, rc, "Nie można otworzyć tabeli", "DBUSEAREA", true)) continue;
      return nullptr;
    }
    std::uint64_t size = 0;
    if ((rc = t->file_.size(size))) {
      if (t->raise(gencode::kRead, rc, "Błąd odczytu tabeli", "DBUSEAREA", true)) continue;
      return nullptr;
    }
    if (!t->load_header(size)) return nullptr;
    bool any_memo = std::any_of(t->fields_.begin(), t->fields_.end(), [](auto& f) { return f.is_memo(); });
    if (any_memo) {
      MemoFile::Kind kind = t->version_ == 0x83 ? MemoFile::Kind::Dbt : MemoFile::Kind::Fpt;
      t->memo_os_path_ = memo_path_for(t->os_path_, kind == MemoFile::Kind::Dbt ? "dbt" : "fpt");
      MemoFault fault;
      t->memo_ = MemoFile::open(t->memo_os_path_, kind, access, share, fault);
      if (!t->memo_) {
        std::string what = fault.os_code == os::oscode::kFileNotFound ? "Brak pliku memo tabeli" : fault.description;
        if (t->raise(fault.gen_code, fault.os_code, what, "DBUSEAREA", fault.gen_code == gencode::kOpen)) continue;
        return nullptr;
      }
    }
    t->go_top();
    return t;
  }
}

std::unique_ptr<Table> Table::open_image(std::string dbf, std::string memo, const std::string& name) {
  std::unique_ptr<Table> t(new Table);
  t->settings_ = &default_settings();
  t->path_ = name;
  t->engine_ = "FOXCDX";
  t->read_only_ = true;
  t->from_image_ = true;
  t->image_ = std::move(dbf);
  if (!t->load_header(t->image_.size())) return nullptr;
  bool any_memo = std::any_of(t->fields_.begin(), t->fields_.end(), [](auto& f) { return f.is_memo(); });
  if (any_memo) {
    MemoFault fault;
    t->memo_ = MemoFile::from_image(std::move(memo), t->version_ == 0x83 ? MemoFile::Kind::Dbt : MemoFile::Kind::Fpt,
                                    fault);
    if (!t->memo_) {
      t->raise(fault.gen_code, fault.os_code, fault.description, "DBUSEAREA");
      return nullptr;
    }
  }
  t->go_top();
  return t;
}

bool Table::load_header(std::uint64_t size) {
  auto corrupt = [&](const std::string& what) {
    raise(gencode::kCorrupt, 0, "Uszkodzony plik tabeli: " + what, "DBUSEAREA");
    return false;
  };
  std::vector<std::uint8_t> head(32);
  auto read_bytes = [&](std::uint64_t off, std::uint8_t* out, std::size_t n) -> int {
    if (from_image_) {
      if (off + n > image_.size()) return os::oscode::kHandleEof;
      std::memcpy(out, image_.data() + off, n);
      return 0;
    }
    return file_.read_exact(off, out, n);
  };
  if (size < 32) return corrupt("plik krótszy niż nagłówek");
  if (int rc = read_bytes(0, head.data(), 32)) {
    raise(gencode::kRead, rc, "Błąd odczytu tabeli", "DBUSEAREA");
    return false;
  }
  version_ = head[0];
  if (!known_version(version_)) return corrupt("nieznana wersja pliku");
  std::uint32_t count = le32(&head[4]);
  header_length_ = le16(&head[8]);
  record_length_ = le16(&head[10]);
  table_flags_ = head[28];
  if (header_length_ < 65 || header_length_ > size) return corrupt("długość nagłówka niezgodna z rozmiarem pliku");
  if (record_length_ < 2) return corrupt("błędna długość rekordu");
  head.resize(header_length_);
  if (int rc = read_bytes(0, head.data(), header_length_)) {
    raise(gencode::kRead, rc, "Błąd odczytu tabeli", "DBUSEAREA");
    return false;
  }
  fields_.clear();
  std::uint32_t offset = 1;
  std::uint32_t pos = 32;
  bool terminated = false;
  while (pos < header_length_) {
    if (head[pos] == 0x0D) {
      terminated = true;
      break;
    }
    if (pos + 32 > header_length_) break;
    const std::uint8_t* d = &head[pos];
    FieldDescriptor f;
    std::size_t name_len = 0;
    while (name_len < 11 && d[name_len] != 0) ++name_len;
    f.name.assign(reinterpret_cast<const char*>(d), name_len);
    f.name = base::upper_ascii(base::trim(f.name));
    f.type = static_cast<char>(std::toupper(d[11]));
    f.length = d[16];
    f.decimals = d[17];
    f.flags = d[18];
    f.offset = offset;
    if (f.name.empty()) return corrupt("pole bez nazwy");
    if (!type_known(f.type, version_)) return corrupt("pole " + f.name + " nieznanego typu");
    if (!length_valid(f)) return corrupt("błędna długość pola " + f.name);
    offset += f.length;
    fields_.push_back(std::move(f));
    pos += 32;
  }
  if (!terminated) return corrupt("brak znacznika końca opisu pól");
  if (fields_.empty()) return corrupt("tabela bez pól");
  if (offset > record_length_) return corrupt("długość rekordu mniejsza niż suma długości pól");
  if (std::uint64_t(header_length_) + std::uint64_t(count) * record_length_ > size)
    return corrupt("liczba rekordów niezgodna z rozmiarem pliku");
  if (count > kMaxRecords) return corrupt("liczba rekordów poza zakresem");
  count_ = count_in_header_ = count;
  buffer_.assign(record_length_, ' ');
  original_ = buffer_;
  pending_memo_.assign(fields_.size(), {});
  memo_pending_.assign(fields_.size(), false);
  window_ = std::make_unique<Window>();
  window_->capacity = static_cast<std::uint32_t>(std::max<std::size_t>(1, kWindowBytes / record_length_));
  return true;
}

bool Table::create(const std::string& path_in, const Structure& structure, const std::string& engine) {
  std::string path = extension_of(path_in).empty() ? path_in + ".dbf" : path_in;
  Table t;  // for raising with the file's name
  t.path_ = path;
  t.engine_ = engine.empty() ? "FOXCDX" : engine;
  t.settings_ = &default_settings();
  auto fail = [&](int gen, int os_code, const std::string& what) {
    t.raise(gen, os_code, what, "DBCREATE");
    return false;
  };
  if (structure.empty()) return fail(gencode::kArgument, 0, "Pusta struktura tabeli");
  std::vector<std::uint8_t> header(32 + 32 * structure.size() + 1, 0);
  std::uint32_t record_length = 1;
  bool memo = false;
  for (std::size_t i = 0; i < structure.size(); ++i) {
    FieldInfo f = structure[i];
    f.name = base::upper_ascii(base::trim(f.name));
    f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(f.type)));
    if (f.type == 'D') f.length = 8, f.decimals = 0;
    if (f.type == 'L') f.length = 1, f.decimals = 0;
    if (f.type == 'M') f.length = 10, f.decimals = 0;
    bool ok = !f.name.empty() && f.name.size() <= 10;
    for (std::size_t j = 0; ok && j < i; ++j) ok = !base::iequals_ascii(base::trim(structure[j].name), f.name);
    switch (f.type) {
      case 'C': ok = ok && f.length >= 1 && f.length <= 254 && f.decimals == 0; break;
      case 'N': case 'F': ok = ok && f.length >= 1 && f.length <= 20 && f.decimals >= 0 && (f.decimals == 0 || f.decimals <= f.length - 2); break;
      case 'D': case 'L': break;
      case 'M': memo = true; break;
      default: ok = false;
    }
    if (!ok) return fail(gencode::kArgument, 0, "Błędny opis pola " + f.name);
    std::uint8_t* d = &header[32 + 32 * i];
    std::memcpy(d, f.name.data(), f.name.size());
    d[11] = static_cast<std::uint8_t>(f.type);
    d[16] = static_cast<std::uint8_t>(f.length);
    d[17] = static_cast<std::uint8_t>(f.decimals);
    record_length += f.length;
  }
  if (record_length > 0xFFFF) return fail(gencode::kArgument, 0, "Rekord tabeli za długi");
  header.back() = 0x0D;
  header[0] = memo ? 0xF5 : 0x03;
  std::time_t now = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &now);
#else
  localtime_r(&now, &tm);
#endif
  header[1] = static_cast<std::uint8_t>(tm.tm_year);  // years since 1900, as the format counts
  header[2] = static_cast<std::uint8_t>(tm.tm_mon + 1);
  header[3] = static_cast<std::uint8_t>(tm.tm_mday);
  put_le16(&header[8], static_cast<std::uint32_t>(header.size()));
  put_le16(&header[10], record_length);
  header.push_back(0x1A);

  // Both files are written beside their targets and swapped in, so a failure leaves
  // whatever was there before.
  std::string os_dbf = os::native_path(path);
  std::string os_memo = with_extension(os_dbf, is_upper_word(extension_of(os_dbf)) ? "FPT" : "fpt");
  auto write_new = [&](const std::string& target, auto&& fill) -> int {
    // A file another process holds is not replaced under it.
    if (os::native_file_exists(target)) {
      os::FileHandle probe;
      if (int rc = probe.open(target, os::Access::Read, os::Share::Exclusive)) return rc;
    }
    std::string temp = target + ".zuvnew";
    os::FileHandle f;
    if (int rc = f.create(temp, os::Share::Exclusive)) return rc;
    int rc = fill(f);
    if (!rc) rc = f.flush();
    f.close();
    if (!rc) rc = os::replace_file(temp, target);
    if (rc) os::remove_file(temp);
    return rc;
  };
  if (memo) {
    int rc = write_new(os_memo, [](os::FileHandle& f) { return MemoFile::write_empty_fpt(f); });
    if (rc) return fail(gencode::kCreate, rc, "Nie można utworzyć pliku memo");
  }
  int rc = write_new(os_dbf, [&](os::FileHandle& f) { return f.write_at(0, header.data(), header.size()); });
  if (rc) return fail(gencode::kCreate, rc, "Nie można utworzyć tabeli");
  return true;
}

Table::~Table() {
  try {
    close();
  } catch (const Break&) {
    // A destructor cannot hand the error on; it has been shown to the handler.
  }
}

void Table::close() {
  if (!file_.is_open() && !from_image_) return;
  if (!from_image_ && window_) {
    store_current();
    flush_window();
    if (header_dirty_) write_header();
    for (auto& o : orders_) o->flush();
    unlock(0);
    if (memo_) memo_->flush();
  }
  orders_.clear();
  focus_ = 0;
  memo_.reset();
  file_.close();
  from_image_ = false;
  image_.clear();
}

// ---------------------------------------------------------------- structure

int Table::field_index(std::string_view name) const {
  std::string_view n = name;
  while (!n.empty() && n.back() == ' ') n.remove_suffix(1);
  while (!n.empty() && n.front() == ' ') n.remove_prefix(1);
  for (std::size_t i = 0; i < fields_.size(); ++i)
    if (base::iequals_ascii(fields_[i].name, n)) return static_cast<int>(i);
  return -1;
}

Structure Table::structure() const {
  Structure s;
  for (const auto& f : fields_) {
    if (f.is_system()) continue;
    s.push_back({f.name, f.type, f.length, f.decimals});
  }
  return s;
}

bool Table::set_table_flags(std::uint8_t flags) {
  if (!writable_or_raise("DBSETFLAGS")) return false;
  if (int rc = file_.write_at(28, &flags, 1)) {
    raise(gencode::kWrite, rc, "Błąd zapisu nagłówka tabeli", "DBSETFLAGS");
    return false;
  }
  table_flags_ = flags;
  return true;
}

// ---------------------------------------------------------------- header and window

bool Table::write_header() {
  if (from_image_ || read_only_) return true;
  std::uint8_t h[8];
  std::time_t now = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &now);
#else
  localtime_r(&now, &tm);
#endif
  h[0] = version_;
  h[1] = static_cast<std::uint8_t>(tm.tm_year);
  h[2] = static_cast<std::uint8_t>(tm.tm_mon + 1);
  h[3] = static_cast<std::uint8_t>(tm.tm_mday);
  std::uint32_t count = count_;
  if (shared_) {
    // Another workstation may have appended since: never lower the count.
    std::uint8_t disk[4];
    if (file_.read_exact(4, disk, 4) == 0) count = std::max(count, le32(disk));
  }
  put_le32(h + 4, count);
  for (;;) {
    int rc = file_.write_at(0, h, sizeof h);
    if (!rc && count != count_in_header_) {
      std::uint8_t eof = 0x1A;
      rc = file_.write_at(std::uint64_t(header_length_) + std::uint64_t(count) * record_length_, &eof, 1);
    }
    if (!rc) break;
    if (!raise(gencode::kWrite, rc, "Błąd zapisu nagłówka tabeli", "DBCOMMIT", true)) return false;
  }
  count_in_header_ = count;
  header_dirty_ = false;
  return true;
}

bool Table::flush_window() {
  Window& w = *window_;
  if (!w.dirty_lo) return true;
  std::uint64_t offset = header_length_ + std::uint64_t(w.dirty_lo - 1) * record_length_;
  std::size_t bytes = std::size_t(w.dirty_hi - w.dirty_lo + 1) * record_length_;
  for (;;) {
    int rc = file_.write_at(offset, w.at(w.dirty_lo, record_length_), bytes);
    if (!rc) break;
    // The records stay in the window, still marked changed: a later commit or the
    // close tries again, and nothing is lost silently.
    if (!raise(gencode::kWrite, rc, "Błąd zapisu tabeli", "DBCOMMIT", true)) return false;
  }
  bool grew = w.dirty_hi > count_in_header_;
  w.dirty_lo = w.dirty_hi = 0;
  header_dirty_ = true;
  // Records past the header's count are invisible to every reader: count them now.
  return grew ? write_header() : true;
}

void Table::drop_window() {
  Window& w = *window_;
  w.count = 0;
  w.first = 0;
  w.dirty_lo = w.dirty_hi = 0;
}

bool Table::refresh_count() {
  if (!shared_ || from_image_) return true;
  std::uint8_t disk[4];
  if (file_.read_exact(4, disk, 4) == 0) {
    std::uint32_t n = le32(disk);
    std::uint64_t size = 0;
    // Only records the file really holds count; a header written ahead of its
    // records (by a writer that died) must not send readers past the end.
    if (file_.size(size) == 0 && size >= header_length_) {
      std::uint64_t fits = (size - header_length_) / record_length_;
      n = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, fits));
    }
    if (n > count_) count_ = n;
  }
  return true;
}

bool Table::read_record(std::uint32_t recno, std::uint8_t* out) {
  if (from_image_) {
    std::memcpy(out, image_.data() + header_length_ + std::size_t(recno - 1) * record_length_, record_length_);
    return true;
  }
  Window& w = *window_;
  if (w.contains(recno)) {
    std::memcpy(out, w.at(recno, record_length_), record_length_);
    return true;
  }
  if (!flush_window()) return false;
  std::uint32_t n = std::min<std::uint32_t>(w.capacity, count_ - recno + 1);
  w.data.resize(std::size_t(w.capacity) * record_length_);
  for (;;) {
    std::size_t got = 0;
    int rc = file_.read_at(header_length_ + std::uint64_t(recno - 1) * record_length_, w.data.data(),
                           std::size_t(n) * record_length_, got);
    if (!rc && got < record_length_) rc = os::oscode::kHandleEof;
    if (!rc) {
      w.first = recno;
      w.count = static_cast<std::uint32_t>(got / record_length_);
      std::memcpy(out, w.data.data(), record_length_);
      return true;
    }
    drop_window();
    if (!raise(rc == os::oscode::kHandleEof ? gencode::kCorrupt : gencode::kRead, rc,
               rc == os::oscode::kHandleEof ? "Uszkodzony plik tabeli: rekord poza końcem pliku" : "Błąd odczytu tabeli",
               "DBSKIP", true))
      return false;
  }
}

bool Table::write_pending_memos() {
  if (!any_memo_pending_) return true;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (!memo_pending_[i]) continue;
    const FieldDescriptor& f = fields_[i];
    std::uint32_t old_block = 0;
    if (!appended_) {
      const std::uint8_t* p = original_.data() + f.offset;
      if (f.length == 4) old_block = le32(p);
      else old_block = static_cast<std::uint32_t>(parse_number(p, f.length));
    }
    std::uint32_t block = 0;
    for (;;) {
      MemoFault fault;
      if (memo_ && memo_->write(old_block, pending_memo_[i], block, shared_, fault)) break;
      if (!memo_) fault = {gencode::kWrite, 0, "Brak pliku memo tabeli"};
      if (!raise(fault.gen_code, fault.os_code, fault.description, "DBCOMMIT", true)) return false;
    }
    std::uint8_t* p = buffer_.data() + f.offset;
    if (f.length == 4) {
      put_le32(p, block);
    } else if (block == 0) {
      std::memset(p, ' ', f.length);
    } else {
      char digits[16];
      std::snprintf(digits, sizeof digits, "%10u", block);
      std::memcpy(p, digits, 10);
    }
    memo_pending_[i] = false;
    pending_memo_[i].clear();
  }
  any_memo_pending_ = false;
  return true;
}

bool Table::store_current() {
  if (!dirty_) return true;
  if (from_image_ || read_only_) {
    dirty_ = false;
    return true;
  }
  if (!write_pending_memos()) {
    rollback();
    return false;
  }
  if (shared_) {
    for (;;) {
      int rc = file_.write_at(header_length_ + std::uint64_t(recno_ - 1) * record_length_, buffer_.data(),
                              record_length_);
      if (!rc) break;
      if (!raise(gencode::kWrite, rc, "Błąd zapisu tabeli", "DBCOMMIT", true)) {
        rollback();
        return false;
      }
    }
    if (window_->contains(recno_)) std::memcpy(window_->at(recno_, record_length_), buffer_.data(), record_length_);
    header_dirty_ = true;
  } else {
    Window& w = *window_;
    if (!w.contains(recno_)) {
      bool extends = w.count && recno_ == w.first + w.count && w.count < w.capacity;
      if (extends) {
        ++w.count;
      } else {
        if (!flush_window()) {
          rollback();
          return false;
        }
        w.data.resize(std::size_t(w.capacity) * record_length_);
        w.first = recno_;
        w.count = 1;
      }
    }
    std::memcpy(w.at(recno_, record_length_), buffer_.data(), record_length_);
    w.mark(recno_);
    // A window that reached its capacity goes to the file at once, so appended
    // records never wait long in memory.
    if (w.dirty_hi - w.dirty_lo + 1 >= w.capacity && !flush_window()) return false;
  }
  bool appended = appended_;
  dirty_ = appended_ = false;
  for (auto& o : orders_) {
    if (appended) o->on_append(*this, recno_, buffer_.data());
    else o->on_replace(*this, recno_, original_.data(), buffer_.data());
  }
  return true;
}

// ---------------------------------------------------------------- navigation

std::uint32_t Table::record_count() {
  refresh_count();
  return count_;
}

bool Table::position(std::uint32_t recno) {
  store_current();
  if (recno >= 1 && recno <= count_ && read_record(recno, buffer_.data())) {
    recno_ = recno;
    eof_ = false;
  } else {
    recno_ = count_ + 1;
    std::fill(buffer_.begin(), buffer_.end(), ' ');
    eof_ = true;
  }
  if (any_memo_pending_) {
    std::fill(memo_pending_.begin(), memo_pending_.end(), false);
    any_memo_pending_ = false;
  }
  return !eof_;
}

bool Table::is_hidden() const {
  return !eof_ && ((settings_->deleted_hidden && deleted()) || (filter_ && !filter_(*this)));
}

// Tells the move listener once a navigation call is over (not while an error unwinds).
struct Table::MoveNotice {
  Table& table;
  ~MoveNotice() noexcept(false) {
    if (table.move_listener_ && std::uncaught_exceptions() == 0) table.move_listener_();
  }
};

std::uint32_t Table::next_in_order(std::uint32_t recno, bool forward) {
  if (Order* o = controlling_order()) {
    if (eof_) return forward ? 0 : o->last(*this);
    return forward ? o->next(*this, recno) : o->prev(*this, recno);
  }
  if (forward) {
    if (recno >= count_) refresh_count();
    return recno < count_ ? recno + 1 : 0;
  }
  if (eof_) return count_;
  return recno > 1 ? recno - 1 : 0;
}

void Table::skip_hidden_forward() {
  while (is_hidden()) {
    std::uint32_t r = next_in_order(recno_, true);
    position(r ? r : count_ + 1);
  }
}

void Table::skip_hidden_backward() {
  while (is_hidden()) {
    std::uint32_t r = next_in_order(recno_, false);
    if (!r) {
      position(count_ + 1);
      return;
    }
    position(r);
  }
}

bool Table::go_to(std::uint32_t recno) {
  MoveNotice notice{*this};
  store_current();
  if (shared_) {
    flush_window();
    drop_window();
    refresh_count();
  }
  bool ok = position(recno);
  bof_ = false;
  return ok;
}

void Table::go_top() {
  MoveNotice notice{*this};
  store_current();
  if (shared_) {
    drop_window();
    refresh_count();
  }
  std::uint32_t r = 0;
  if (Order* o = controlling_order()) r = o->first(*this);
  else r = count_ ? 1 : 0;
  position(r ? r : count_ + 1);
  skip_hidden_forward();
  bof_ = eof_;
}

void Table::go_bottom() {
  MoveNotice notice{*this};
  store_current();
  if (shared_) {
    drop_window();
    refresh_count();
  }
  std::uint32_t r = 0;
  if (Order* o = controlling_order()) r = o->last(*this);
  else r = count_;
  position(r ? r : count_ + 1);
  skip_hidden_backward();
  bof_ = eof_;
}

void Table::skip(long count) {
  MoveNotice notice{*this};
  if (count == 0) {
    store_current();
    if (shared_) drop_window();
    if (!eof_) position(recno_);
    return;
  }
  bof_ = false;
  if (count > 0) {
    for (long i = 0; i < count && !eof_; ++i) {
      std::uint32_t r = next_in_order(recno_, true);
      position(r ? r : count_ + 1);
      skip_hidden_forward();
    }
    return;
  }
  for (long i = 0; i < -count; ++i) {
    std::uint32_t from = recno_;
    bool was_eof = eof_;
    std::uint32_t r = next_in_order(recno_, false);
    if (r) {
      position(r);
      skip_hidden_backward();
      if (!eof_) continue;
    }
    // Ran off the top: stay on the first visible record with bof set.
    if (was_eof && !r) {
      position(count_ + 1);
    } else {
      position(from);
      if (is_hidden() || eof_) {
        go_top();
      }
    }
    bof_ = true;
    return;
  }
}

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
  std::uint32_t block = f.length == 4 ? le32(p) : static_cast<std::uint32_t>(parse_number(p, f.length));
  if (!memo_) {
    out.clear();
    return block == 0;
  }
  MemoFault fault;
  if (memo_->read(block, out, fault)) return true;
  const_cast<Table*>(this)->raise(fault.gen_code, fault.os_code, fault.description, "FIELDGET");
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
      return Value::of_date(base::date_from_julian(static_cast<std::int32_t>(le32(p))));
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
    if (f.type == 'I' || f.type == 'B' || f.type == 'Y' || f.type == 'T' || (f.is_memo() && f.length == 4))
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
        if (!empty) put_le32(p, static_cast<std::uint32_t>(base::julian_day(value.text)));
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

bool Table::remove() {
  if (!writable_or_raise("DBDELETE") || eof_) return false;
  if (buffer_[0] != '*') {
    before_change();
    buffer_[0] = '*';
    dirty_ = true;
  }
  return true;
}

bool Table::recall() {
  if (!writable_or_raise("DBRECALL") || eof_) return false;
  if (buffer_[0] != ' ') {
    before_change();
    buffer_[0] = ' ';
    dirty_ = true;
  }
  return true;
}

bool Table::append() {
  net_error_ = true;
  if (!writable_or_raise("DBAPPEND")) return false;
  if (!store_current()) return false;
  std::uint32_t recno = 0;
  if (shared_) {
    std::vector<std::uint8_t> blank(record_length_, ' ');
    blank.push_back(0x1A);
    unlock(0);
    flush_window();
    drop_window();
    int rc = os::oscode::kLockViolation;
    for (int attempt = 0; attempt < 100 && rc == os::oscode::kLockViolation; ++attempt) {
      rc = file_.lock(kLockBase, 1);
      if (rc == os::oscode::kLockViolation) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (rc) return false;  // net_error() tells the caller
    std::uint8_t disk[4];
    std::uint32_t on_disk = file_.read_exact(4, disk, 4) == 0 ? le32(disk) : count_;
    recno = std::max(on_disk, count_) + 1;
    bool ok = false;
    for (;;) {
      rc = file_.write_at(header_length_ + std::uint64_t(recno - 1) * record_length_, blank.data(), blank.size());
      if (!rc) {
        count_ = recno;
        count_in_header_ = recno - 1;  // the header write below must count it
        ok = write_header();
        break;
      }
      if (!raise(gencode::kWrite, rc, "Błąd zapisu tabeli", "DBAPPEND", true)) break;
    }
    file_.unlock(kLockBase, 1);
    if (!ok) return false;
    if (file_.lock(kLockBase - recno, 1) == 0) locks_.push_back(recno);
  } else {
    if (count_ >= kMaxRecords) {
      raise(gencode::kWrite, os::oscode::kDiskFull, "Tabela osiągnęła największą liczbę rekordów", "DBAPPEND");
      return false;
    }
    recno = ++count_;
  }
  // No stored image is kept for a new record: rollback blanks it, and it is stored
  // as an append.
  buffer_.assign(record_length_, ' ');
  recno_ = recno;
  eof_ = bof_ = false;
  appended_ = dirty_ = true;
  net_error_ = false;
  return true;
}

// ---------------------------------------------------------------- locks

bool Table::rlock(std::uint32_t recno) {
  if (recno == 0) recno = recno_;
  if (!shared_ || from_image_) return true;
  refresh_count();
  if (recno == 0 || recno > count_) return false;
  if (is_locked(recno)) return true;
  if (file_.lock(kLockBase - recno, 1) != 0) return false;
  locks_.push_back(recno);
  if (recno == recno_ && !dirty_) {
    // What another workstation stored before we got the lock is what we now edit.
    drop_window();
    position(recno_);
  }
  return true;
}

void Table::unlock(std::uint32_t recno) {
  store_current();
  if (from_image_ || !file_.is_open()) return;
  for (auto it = locks_.begin(); it != locks_.end();) {
    if (recno == 0 || *it == recno) {
      file_.unlock(kLockBase - *it, 1);
      it = locks_.erase(it);
    } else {
      ++it;
    }
  }
}

bool Table::is_locked(std::uint32_t recno) const {
  if (!shared_) return true;
  return std::find(locks_.begin(), locks_.end(), recno) != locks_.end();
}

bool Table::commit() {
  if (from_image_ || read_only_) return true;
  bool ok = store_current();
  ok = flush_window() && ok;
  if (header_dirty_) ok = write_header() && ok;
  for (auto& o : orders_) ok = o->flush() && ok;
  if (shared_) drop_window();
  return ok;
}

void Table::rollback() {
  if (appended_) {
    // The new record exists already; it stays, blank.
    std::fill(buffer_.begin(), buffer_.end(), ' ');
  } else if (dirty_) {
    // The stored image is kept from the first change on only: a record never
    // changed is already as stored.
    buffer_ = original_;
    dirty_ = false;
  }
  for (std::size_t i = 0; i < memo_pending_.size(); ++i) {
    memo_pending_[i] = false;
    pending_memo_[i].clear();
  }
  any_memo_pending_ = false;
}

[[gnu::noinline]] void Table::before_change() {
  // The stored image is kept only from the first change on: rollback, the orders and
  // the memo's old blocks need it, a plain read does not.
  if (!dirty_) original_ = buffer_;
}

// ---------------------------------------------------------------- whole-table operations

bool Table::locate(const std::function<bool(Table&)>& condition, bool from_top) {
  if (from_top) go_top();
  while (!eof_) {
    if (condition(*this)) return true;
    skip(1);
  }
  return false;
}

void Table::eval(const std::function<bool(Table&)>& action, const std::function<bool(Table&)>& condition) {
  go_top();
  while (!eof_) {
    if (!condition || condition(*this)) {
      if (!action(*this)) return;
    }
    skip(1);
  }
}

bool Table::pack() {
  if (!writable_or_raise("DBPACK")) return false;
  if (shared_) {
    raise(tablecode::kNotExclusive, 0, "Tabela musi być otwarta na wyłączność", "DBPACK");
    return false;
  }
  if (!store_current() || !flush_window()) return false;
  // The packed table is written beside the old one and swapped in whole.
  std::string temp = os_path_ + ".zuvpack";
  auto fail = [&](int rc, const char* what) {
    raise(gencode::kWrite, rc, what, "DBPACK");
    os::remove_file(temp);
    return false;
  };
  os::FileHandle out;
  if (int rc = out.create(temp, os::Share::Exclusive)) return fail(rc, "Nie można utworzyć pliku roboczego");
  std::vector<std::uint8_t> header(header_length_);
  if (int rc = file_.read_exact(0, header.data(), header_length_)) return fail(rc, "Błąd odczytu tabeli");
  std::uint32_t kept = 0;
  std::vector<std::uint8_t> chunk;
  std::vector<std::uint8_t> packed;
  const std::uint32_t per = window_->capacity;
  for (std::uint32_t r = 1; r <= count_; r += per) {
    std::uint32_t n = std::min(per, count_ - r + 1);
    chunk.resize(std::size_t(n) * record_length_);
    if (int rc = file_.read_exact(header_length_ + std::uint64_t(r - 1) * record_length_, chunk.data(), chunk.size()))
      return fail(rc, "Błąd odczytu tabeli");
    packed.clear();
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint8_t* rec = chunk.data() + std::size_t(i) * record_length_;
      if (rec[0] == '*') continue;
      packed.insert(packed.end(), rec, rec + record_length_);
    }
    if (!packed.empty()) {
      if (int rc = out.write_at(header_length_ + std::uint64_t(kept) * record_length_, packed.data(), packed.size()))
        return fail(rc, "Błąd zapisu tabeli");
      kept += static_cast<std::uint32_t>(packed.size() / record_length_);
    }
  }
  put_le32(&header[4], kept);
  std::uint8_t eof = 0x1A;
  if (int rc = out.write_at(0, header.data(), header.size())) return fail(rc, "Błąd zapisu tabeli");
  if (int rc = out.write_at(header_length_ + std::uint64_t(kept) * record_length_, &eof, 1))
    return fail(rc, "Błąd zapisu tabeli");
  if (int rc = out.flush()) return fail(rc, "Błąd zapisu tabeli");
  out.close();
  drop_window();
  file_.close();
  int rc = os::replace_file(temp, os_path_);
  int reopen = file_.open(os_path_, os::Access::ReadWrite, os::Share::Exclusive);
  if (rc) {
    os::remove_file(temp);
    raise(gencode::kWrite, rc, "Nie można zastąpić tabeli spakowaną", "DBPACK");
  }
  if (reopen) {
    raise(gencode::kOpen, reopen, "Nie można ponownie otworzyć tabeli", "DBPACK");
    return false;
  }
  if (rc) return false;
  count_ = count_in_header_ = kept;
  header_dirty_ = true;
  write_header();
  for (auto& o : orders_) o->rebuild(*this);
  go_top();
  return true;
}

bool Table::zap() {
  if (!writable_or_raise("DBZAP")) return false;
  if (shared_) {
    raise(tablecode::kNotExclusive, 0, "Tabela musi być otwarta na wyłączność", "DBZAP");
    return false;
  }
  dirty_ = false;
  appended_ = false;
  drop_window();
  count_ = 0;
  std::uint8_t eof = 0x1A;
  int rc = 0;
  if (!write_header()) return false;
  if ((rc = file_.write_at(header_length_, &eof, 1)) || (rc = file_.truncate(header_length_ + 1))) {
    raise(gencode::kWrite, rc, "Błąd zapisu tabeli", "DBZAP");
    return false;
  }
  if (memo_) {
    MemoFault fault;
    if (!memo_->reset(fault)) raise(fault.gen_code, fault.os_code, fault.description, "DBZAP");
  }
  for (auto& o : orders_) o->rebuild(*this);
  go_top();
  return true;
}

// ---------------------------------------------------------------- orders

void Table::add_order(std::unique_ptr<Order> order) { orders_.push_back(std::move(order)); }

Order* Table::order(int n) const {
  if (n < 1 || n > order_count()) return nullptr;
  return orders_[n - 1].get();
}

bool Table::set_order_focus(int n) {
  if (n < 0 || n > order_count()) return false;
  store_current();
  focus_ = n;
  return true;
}

bool Table::set_order_focus(std::string_view name) {
  for (int i = 0; i < order_count(); ++i)
    if (base::iequals_ascii(orders_[i]->name(), name)) return set_order_focus(i + 1);
  return false;
}

void Table::clear_orders() {
  store_current();
  for (auto& o : orders_) o->flush();
  orders_.clear();
  focus_ = 0;
}

bool Table::rebuild_orders() {
  if (!store_current()) return false;
  bool ok = true;
  for (auto& o : orders_) ok = o->rebuild(*this) && ok;
  go_top();
  return ok;
}

bool Table::seek(const Value& key) { return seek(key, settings_->soft_seek, false); }

bool Table::seek(const Value& key, bool soft, bool last) {
  found_ = false;
  MoveNotice notice{*this};
  Order* o = controlling_order();
  if (!o) {
    raise(gencode::kArgument, 0, "Brak aktywnego indeksu", "DBSEEK");
    return false;
  }
  store_current();
  if (shared_) {
    drop_window();
    refresh_count();
  }
  bool found = false;
  std::uint32_t r = o->seek(*this, key, soft, last, found);
  position(r ? r : count_ + 1);
  bof_ = false;
  if (is_hidden()) {
    skip_hidden_forward();
    found = found && !eof_ && o->matches(*this, key);
  }
  found_ = found && !eof_;
  return found_;
}

}  // namespace zuv::table

namespace zuv::table {
int Table::format_number(double value, int width, int dec, char* out) { return format_fixed(value, width, dec, out); }
}  // namespace zuv::table
