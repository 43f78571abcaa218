#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/os/dir_listing_posix.h"
#include "platform/os/names.h"
#include "platform/os/path.h"

namespace zuv::os {
namespace {

std::string env_or(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

std::string drive_root() {
  const char* home = std::getenv("HOME");
  return env_or("ZUV_DRIVE_ROOT", std::string(home && *home ? home : "/tmp") + "/zuv");
}

std::string without_trailing_slash(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

bool exists(const std::string& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0;
}

// The entry of dir whose name equals want case-insensitively; when several do (Linux
// allows "FIRMA" and "firma" side by side) the lowest in byte order, so that the
// answer never depends on the order of the directory.
bool find_entry(const std::string& dir, const std::string& want, std::string& found) {
  return dir_listing::find(dir, want, found);
}

std::string join(const std::string& base, const std::string& name) {
  if (base.empty()) return name;
  if (base.back() == '/') return base + name;
  return base + "/" + name;
}

}  // namespace

std::string drive_directory(char letter) {
  char up = letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 32) : letter;
  std::string map = env_or("ZUV_DRIVES", "");
  size_t start = 0;
  while (start <= map.size()) {
    size_t end = map.find(';', start);
    if (end == std::string::npos) end = map.size();
    std::string item = map.substr(start, end - start);
    if (item.size() >= 3 && item[1] == '=') {
      char l = item[0] >= 'a' && item[0] <= 'z' ? static_cast<char>(item[0] - 32) : item[0];
      if (l == up) return without_trailing_slash(item.substr(2));
    }
    start = end + 1;
  }
  char low = static_cast<char>(up >= 'A' && up <= 'Z' ? up + 32 : up);
  return without_trailing_slash(drive_root()) + "/" + std::string(1, low);
}

std::string network_root() { return without_trailing_slash(env_or("ZUV_UNC_ROOT", drive_root() + "/unc")); }

std::string native_key(const std::string& native) { return native; }

std::string native_path(std::string_view windows_path) {
  std::string_view p = windows_path;
  std::string base;  // resolved literally, never case-folded
  if (p.size() >= 2 && is_separator(p[0]) && is_separator(p[1])) {
    base = network_root();
    p.remove_prefix(2);
  } else if (p.size() >= 2 && p[1] == ':' &&
             ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'))) {
    // "C:name" has no current directory per drive here: it starts at the drive's root.
    base = drive_directory(p[0]);
    p.remove_prefix(2);
  } else if (!p.empty() && is_separator(p[0])) {
    base = "/";
  }

  std::vector<std::string> parts;
  size_t start = 0;
  while (start < p.size()) {
    size_t end = p.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = p.size();
    if (end > start) parts.emplace_back(p.substr(start, end - start));
    start = end + 1;
  }
  bool trailing = !p.empty() && is_separator(p.back());

  // Most names the program passes exist as written: one look at the whole path then
  // answers what the walk below would, without a look at every directory on the way.
  bool plain = true;
  std::string literal = base;
  for (const std::string& part : parts) {
    plain = plain && part != "." && part != "..";
    literal = join(literal, part);
  }
  if (plain && !parts.empty()) {
    std::string found;
    if (!exists(literal)) {
      // A name not there as written (a file about to be made, or in other case) in a
      // directory that is: only the last name is looked for.
      std::string parent = base;
      for (size_t i = 0; i + 1 < parts.size(); ++i) parent = join(parent, parts[i]);
      if (parts.size() == 1 ? !parent.empty() && !exists(parent) : !exists(parent)) literal.clear();
      else if (find_entry(parent, parts.back(), found)) literal = join(parent, found);
    }
    if (!literal.empty()) {
      if (trailing && literal.back() != '/') literal += '/';
      return literal;
    }
  }

  std::string out = base;
  bool resolving = true;
  for (const std::string& part : parts) {
    std::string next = join(out, part);
    if (resolving && part != "." && part != ".." && !exists(next)) {
      std::string found;
      if (find_entry(out, part, found)) {
        next = join(out, found);
      } else {
        resolving = false;  // nothing below a missing directory can exist
      }
    }
    out = std::move(next);
  }
  if (trailing && (out.empty() || out.back() != '/')) out += '/';
  if (out.empty() && !windows_path.empty()) out = ".";
  return out;
}

}  // namespace zuv::os
