#include "platform/base/text.h"

namespace zuv::base {
namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Where the extension's dot stands, or npos: a dot before the last separator belongs
// to a directory name.
std::size_t extension_dot(std::string_view path) {
  std::size_t slash = path.find_last_of("\\/");
  std::size_t dot = path.find_last_of('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
    return std::string_view::npos;
  }
  return dot;
}

}  // namespace

std::string trim(std::string_view s) {
  std::size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  std::size_t e = s.find_last_not_of(' ');
  return std::string(s.substr(b, e - b + 1));
}

std::string rtrim(std::string_view s) {
  std::size_t e = s.find_last_not_of(' ');
  return e == std::string_view::npos ? std::string() : std::string(s.substr(0, e + 1));
}

std::string upper_ascii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = upper(c);
  return out;
}

std::string lower_ascii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lower(c);
  return out;
}

bool iequals_ascii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

std::string extension_of(std::string_view path) {
  std::size_t dot = extension_dot(path);
  return dot == std::string_view::npos ? std::string() : std::string(path.substr(dot + 1));
}

std::string without_extension(std::string_view path) {
  return std::string(path.substr(0, extension_dot(path)));
}

std::string with_extension(std::string_view path, std::string_view ext) {
  return without_extension(path) + "." + std::string(ext);
}

std::string cut_to_chars(std::string_view utf8, size_t chars) {
  size_t count = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;  // inside a character
    if (count++ == chars) return std::string(utf8.substr(0, i));
  }
  return std::string(utf8);
}

}  // namespace zuv::base
