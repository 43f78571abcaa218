#include "platform/os/registry_file_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/base/coding.h"
#include "platform/os/codepage.h"
#include "platform/os/durable.h"
#include "platform/os/names.h"
#include "platform/os/unicode.h"
#include "platform/error/error.h"

namespace zuv::os::reg::file {
namespace {

// ---- text helpers ---------------------------------------------------------------

std::string utf8_from_utf16le(const std::uint8_t* p, size_t bytes) {
  std::u16string w;
  for (size_t i = 0; i + 1 < bytes; i += 2) w.push_back(static_cast<char16_t>(p[i] | (p[i + 1] << 8)));
  return utf8_from_utf16(w);
}

void append_utf16le(std::vector<std::uint8_t>& out, std::string_view utf8) {
  for (char16_t u : utf16_from_utf8(utf8)) {
    out.push_back(static_cast<std::uint8_t>(u & 0xFF));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  }
}

}  // namespace

// ---- the tree --------------------------------------------------------------------

Key* Key::child(std::string_view n) {
  for (auto& k : children)
    if (same_name(k->name, n)) return k.get();
  return nullptr;
}

Key* Key::add_child(std::string_view n) {
  if (Key* k = child(n)) return k;
  auto k = std::make_unique<Key>();
  k->name = std::string(n);
  std::u32string f = folded_name(n);
  auto at = std::find_if(children.begin(), children.end(),
                         [&](const std::unique_ptr<Key>& c) { return folded_name(c->name) > f; });
  return children.insert(at, std::move(k))->get();
}

Value* Key::value(std::string_view n) {
  for (auto& v : values)
    if (same_name(v.name, n)) return &v;
  return nullptr;
}

std::vector<std::string> split_path(std::string_view path) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : path) {
    if (c == '\\') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

Key* find(Key* from, const std::vector<std::string>& path) {
  for (const auto& p : path) {
    if (!from) return nullptr;
    from = from->child(p);
  }
  return from;
}

bool is_string_type(std::uint32_t type) {
  return type == kString || type == kExpandString || type == kMultiString;
}

namespace {

// ---- parsing ---------------------------------------------------------------------

struct ParseError {
  int line;
  std::string why;
};

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "xx,xx,..." with blanks allowed around the commas and one trailing comma.
bool parse_hex_bytes(std::string_view s, std::vector<std::uint8_t>& out) {
  size_t i = 0;
  auto skip = [&] {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  };
  skip();
  while (i < s.size()) {
    int hi = hex_digit(s[i]);
    if (hi < 0) return false;
    int lo = i + 1 < s.size() ? hex_digit(s[i + 1]) : -1;
    if (lo < 0) {  // a single digit is one byte, as Windows reads it
      out.push_back(static_cast<std::uint8_t>(hi));
      i += 1;
    } else {
      out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
      i += 2;
    }
    skip();
    if (i == s.size()) return true;
    if (s[i] != ',') return false;
    ++i;
    skip();
  }
  return true;
}

// A quoted text starting at s[i] == '"'; on success i is past the closing quote.
bool parse_quoted(std::string_view s, size_t& i, std::string& out) {
  if (i >= s.size() || s[i] != '"') return false;
  ++i;
  while (i < s.size()) {
    char c = s[i++];
    if (c == '"') return true;
    if (c == '\\' && i < s.size()) {
      // Only \\ and \" are escapes; a lone backslash typed by hand stays what it is.
      if (s[i] != '\\' && s[i] != '"') out += '\\';
      out += s[i++];
      continue;
    }
    out += c;
  }
  return false;
}

// Text data of the file as stored internally: UTF-8 with a terminating zero.
std::vector<std::uint8_t> string_data(std::string_view utf8) {
  std::vector<std::uint8_t> d(utf8.begin(), utf8.end());
  d.push_back(0);
  return d;
}

std::vector<std::uint8_t> string_data_from_file_bytes(const std::vector<std::uint8_t>& bytes, bool ansi) {
  std::string text = ansi ? convert(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                                    CodePage::Cp1250, CodePage::Utf8)
                          : utf8_from_utf16le(bytes.data(), bytes.size());
  std::vector<std::uint8_t> d(text.begin(), text.end());
  return d;  // the file's bytes carry their own terminator, when they have one
}

std::optional<ParseError> parse(const std::string& raw, Store& store) {
  std::string text;
  bool ansi = false;
  if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF && static_cast<unsigned char>(raw[1]) == 0xFE) {
    text = utf8_from_utf16le(reinterpret_cast<const std::uint8_t*>(raw.data()) + 2, raw.size() - 2);
  } else if (raw.compare(0, 3, "\xEF\xBB\xBF") == 0) {  // saved as UTF-8 by a text editor
    text = raw.substr(3);
  } else if (raw.compare(0, 36, "Windows Registry Editor Version 5.00") == 0) {
    text = raw;
  } else {
    text = convert(raw, CodePage::Cp1250, CodePage::Utf8);
    ansi = true;
  }
  // Logical lines: CR LF or LF ends a line; a final '\' continues it on the next one.
  std::vector<std::pair<int, std::string>> lines;
  {
    int number = 0;
    std::string pending;
    int pending_line = 0;
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      ++number;
      if (!pending.empty()) {
        size_t b = line.find_first_not_of(" \t");
        line = pending + (b == std::string::npos ? std::string() : line.substr(b));
      } else {
        pending_line = number;
      }
      // Only hex data continue; a key name or a quoted text never ends in a bare '\'.
      if (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos) {
        line.pop_back();
        pending = line;
      } else {
        lines.emplace_back(pending_line, line);
        pending.clear();
      }
      if (end == text.size()) break;
      start = end + 1;
    }
    if (!pending.empty()) lines.emplace_back(pending_line, pending);
  }
  size_t first = 0;
  while (first < lines.size() && lines[first].second.find_first_not_of(" \t") == std::string::npos) ++first;
  if (first == lines.size()) return std::nullopt;  // an empty file is an empty registry
  const std::string& head = lines[first].second;
  if (ansi ? head != "REGEDIT4" : head != "Windows Registry Editor Version 5.00")
    return ParseError{lines[first].first, "nieznany nagłówek pliku"};

  Key* current = nullptr;
  bool skipping_deleted = false;
  for (size_t n = first + 1; n < lines.size(); ++n) {
    int ln = lines[n].first;
    std::string_view l = lines[n].second;
    size_t b = l.find_first_not_of(" \t");
    if (b == std::string_view::npos) continue;
    l.remove_prefix(b);
    if (l[0] == ';') continue;
    if (l[0] == '[') {
      size_t close = l.rfind(']');
      if (close == std::string_view::npos) return ParseError{ln, "brak ']' w nazwie klucza"};
      std::string_view name = l.substr(1, close - 1);
      bool remove = !name.empty() && name[0] == '-';
      if (remove) name.remove_prefix(1);
      std::vector<std::string> parts = split_path(name);
      if (parts.empty()) return ParseError{ln, "pusta nazwa klucza"};
      Key* root = nullptr;
      for (auto& [h, rn] : kRoots)
        if (parts[0] == rn) root = &store.roots[h];
      if (!root) return ParseError{ln, "nieznany klucz główny " + parts[0]};
      parts.erase(parts.begin());
      if (remove) {
        current = nullptr;
        skipping_deleted = true;
        if (parts.empty()) return ParseError{ln, "nie można usunąć klucza głównego"};
        std::string last = parts.back();
        parts.pop_back();
        if (Key* parent = find(root, parts)) {
          auto& ch = parent->children;
          ch.erase(std::remove_if(ch.begin(), ch.end(),
                                  [&](const std::unique_ptr<Key>& k) { return same_name(k->name, last); }),
                   ch.end());
        }
        continue;
      }
      skipping_deleted = false;
      current = root;
      for (const auto& p : parts) current = current->add_child(p);
      continue;
    }
    // A value line.
    std::string name;
    size_t i = 0;
    if (l[0] == '@') {
      i = 1;
    } else if (!parse_quoted(l, i, name)) {
      return ParseError{ln, "niepoprawna nazwa wartości"};
    }
    while (i < l.size() && l[i] == ' ') ++i;
    if (i >= l.size() || l[i] != '=') return ParseError{ln, "brak '=' po nazwie wartości"};
    ++i;
    while (i < l.size() && l[i] == ' ') ++i;
    std::string_view data = l.substr(i);
    if (!current) {
      if (skipping_deleted) continue;
      return ParseError{ln, "wartość poza kluczem"};
    }
    if (data == "-") {
      auto& vs = current->values;
      vs.erase(std::remove_if(vs.begin(), vs.end(), [&](const Value& v) { return same_name(v.name, name); }),
               vs.end());
      continue;
    }
    Value v;
    v.name = name;
    if (!data.empty() && data[0] == '"') {
      std::string s;
      size_t j = 0;
      if (!parse_quoted(data, j, s)) return ParseError{ln, "niezamknięty cudzysłów"};
      if (data.substr(j).find_first_not_of(" \t") != std::string_view::npos)
        return ParseError{ln, "nadmiarowe znaki po tekście"};
      v.type = kString;
      v.data = string_data(s);
    } else if (data.substr(0, 6) == "dword:") {
      std::string_view h = data.substr(6);
      if (h.empty() || h.size() > 8) return ParseError{ln, "niepoprawna liczba dword"};
      std::uint32_t x = 0;
      for (char c : h) {
        int d = hex_digit(c);
        if (d < 0) return ParseError{ln, "niepoprawna liczba dword"};
        x = x * 16 + static_cast<std::uint32_t>(d);
      }
      v.type = kDword;
      for (int k = 0; k < 4; ++k) v.data.push_back(static_cast<std::uint8_t>(x >> (8 * k)));
    } else if (data.substr(0, 3) == "hex") {
      std::string_view rest = data.substr(3);
      v.type = kBinary;
      if (!rest.empty() && rest[0] == '(') {
        size_t close = rest.find(')');
        if (close == std::string_view::npos || close == 1) return ParseError{ln, "niepoprawny typ hex(...)"};
        std::uint32_t t = 0;
        for (char c : rest.substr(1, close - 1)) {
          int d = hex_digit(c);
          if (d < 0) return ParseError{ln, "niepoprawny typ hex(...)"};
          t = t * 16 + static_cast<std::uint32_t>(d);
        }
        v.type = t;
        rest = rest.substr(close + 1);
      }
      if (rest.empty() || rest[0] != ':') return ParseError{ln, "brak ':' po hex"};
      std::vector<std::uint8_t> bytes;
      if (!parse_hex_bytes(rest.substr(1), bytes)) return ParseError{ln, "niepoprawne bajty szesnastkowe"};
      v.data = is_string_type(v.type) ? string_data_from_file_bytes(bytes, ansi) : bytes;
    } else {
      return ParseError{ln, "nieznana postać danych"};
    }
    if (Value* old = current->value(name)) {
      *old = std::move(v);
    } else {
      current->values.push_back(std::move(v));
    }
  }
  return std::nullopt;
}

// ---- writing ---------------------------------------------------------------------

std::string quote_text(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + '"';
}

// A text that the quoted form holds exactly: zero-terminated, no zero, CR or LF inside.
bool quotable(const std::vector<std::uint8_t>& d) {
  if (d.empty() || d.back() != 0) return false;
  for (size_t i = 0; i + 1 < d.size(); ++i)
    if (d[i] == 0 || d[i] == '\r' || d[i] == '\n') return false;
  return true;
}

void put_hex(std::string& out, std::string prefix, const std::vector<std::uint8_t>& bytes) {
  static const char* digits = "0123456789abcdef";
  out += prefix;
  size_t col = prefix.size();
  for (size_t i = 0; i < bytes.size(); ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
    col += 2;
    if (i + 1 < bytes.size()) {
      out += ',';
      ++col;
      if (col > 76) {
        out += "\\\r\n  ";
        col = 2;
      }
    }
  }
  out += "\r\n";
}

void write_key(std::string& out, const Key& k, const std::string& path, bool is_root) {
  if (!is_root || !k.values.empty()) {
    out += "[" + path + "]\r\n";
    for (const Value& v : k.values) {
      std::string name = v.name.empty() ? "@" : quote_text(v.name);
      if (v.type == kString && quotable(v.data)) {
        out += name + "=" +
               quote_text(std::string_view(reinterpret_cast<const char*>(v.data.data()), v.data.size() - 1)) + "\r\n";
      } else if (v.type == kDword && v.data.size() == 4) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(base::le32(v.data.data())));
        out += name + "=dword:" + buf + "\r\n";
      } else {
        std::vector<std::uint8_t> bytes = v.data;
        if (is_string_type(v.type)) {
          bytes.clear();
          append_utf16le(bytes, std::string_view(reinterpret_cast<const char*>(v.data.data()), v.data.size()));
        }
        char t[16];
        std::snprintf(t, sizeof t, "%x", static_cast<unsigned>(v.type));
        put_hex(out, name + (v.type == kBinary ? std::string("=hex:") : "=hex(" + std::string(t) + "):"), bytes);
      }
    }
    out += "\r\n";
  }
  for (const auto& c : k.children) write_key(out, *c, path + "\\" + c->name, false);
}

std::string serialize(const Store& store) {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  for (auto& [h, name] : kRoots) write_key(text, store.roots.at(h), name, true);
  std::vector<std::uint8_t> bytes = {0xFF, 0xFE};
  append_utf16le(bytes, text);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

// ---- the file --------------------------------------------------------------------

std::string file_path() {
  if (const char* f = std::getenv("ZUV_REGISTRY_FILE"); f && *f) return f;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return std::string(x) + "/zuv/registry.reg";
  if (const char* h = std::getenv("HOME"); h && *h) return std::string(h) + "/.config/zuv/registry.reg";
  return "zuv-registry.reg";
}

FileLock::FileLock(const std::string& file) {
  if (depth_++ > 0) return;
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ec);
  fd_ = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ >= 0) ::flock(fd_, LOCK_EX);
}

FileLock::~FileLock() {
  --depth_;
  if (fd_ >= 0) ::close(fd_);
}

// Reads and parses the file. A file that cannot be parsed goes to the error handler,
// which may have it read again (after the administrator repaired it); it is never
// overwritten.
long load(const std::string& file, Store& store) {
  for (;;) {
    store = Store();
    ErrorRecord r;
    r.subSystem = "REGISTRY";
    r.fileName = file;
    r.operation = "odczyt rejestru";
    r.canRetry = true;
    r.canDefault = true;
    long code = kSuccess;
    FILE* f = std::fopen(file.c_str(), "rb");
    if (!f && errno == ENOENT) return kSuccess;  // no file yet: an empty registry
    std::string raw;
    int os_error = f ? 0 : errno;
    if (f) {
      char buf[65536];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) raw.append(buf, n);
      if (std::ferror(f)) os_error = errno ? errno : EIO;
      struct stat st{};
      if (::fstat(fileno(f), &st) == 0)
        store.mtime = (static_cast<std::uint64_t>(st.st_mtime) + 11644473600ull) * 10000000ull;
      std::fclose(f);
    }
    if (os_error) {
      code = os_error == EACCES ? kAccessDenied : kCantRead;
      r.genCode = gencode::kRead;
      r.osCode = static_cast<int>(code);
      r.description = "Nie można odczytać pliku rejestru: " + std::string(std::strerror(os_error));
    } else {
      std::optional<ParseError> err = parse(raw, store);
      if (!err) return kSuccess;
      code = kBadDb;
      r.genCode = gencode::kCorrupt;
      r.osCode = static_cast<int>(kBadDb);
      r.description = "Plik rejestru jest uszkodzony (wiersz " + std::to_string(err->line) + ": " + err->why +
                      "); nie został zmieniony";
    }
    // Either way the registry is unknown, so nothing may be written over it.
    if (raise_error(r) != HandlerAnswer::Retry) {
      store = Store();
      return code;
    }
  }
}

long save(const std::string& file, const Store& store) {
  Status st = write_durably(file, serialize(store));
  if (st) return kSuccess;
  return st.code == oscode::kAccessDenied ? kAccessDenied : kCantWrite;
}

}  // namespace zuv::os::reg::file
