#include "platform/os/names.h"
#include "platform/os/unicode.h"

#include <vector>

namespace zuv::os {
namespace {

// A malformed byte is carried through untouched, so that a name never changes its
// bytes by being upper-cased.
std::u32string decode(std::string_view s) { return decode_utf8(s, true); }

void encode(char32_t cp, std::string& out) {
  if (cp >= 0xDC80 && cp <= 0xDCFF) {
    out += static_cast<char>(cp - 0xDC00);
  } else {
    append_utf8(out, cp);
  }
}

// In Latin Extended-A the pairs start on an even code point in 0100-0137 and
// 014A-0177, and on an odd one in 0139-0148 and 0179-017E.
bool pair_starts_odd(char32_t c) { return (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E); }
bool in_pairs(char32_t c) { return (c >= 0x100 && c <= 0x137) || pair_starts_odd(c) || (c >= 0x14A && c <= 0x177); }

char32_t to_upper(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  if (c == 0xFF) return 0x178;
  if (in_pairs(c)) {
    bool lower = pair_starts_odd(c) ? (c % 2 == 0) : (c % 2 == 1);
    return lower ? c - 1 : c;
  }
  return c;
}

char32_t to_lower(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c == 0x178) return 0xFF;
  if (in_pairs(c)) {
    bool upper = pair_starts_odd(c) ? (c % 2 == 1) : (c % 2 == 0);
    return upper ? c + 1 : c;
  }
  return c;
}

// Classic '*' / '?' matching with backtracking to the last star.
bool glob(const std::u32string& mask, const std::u32string& name) {
  size_t m = 0, n = 0, star = std::u32string::npos, resume = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == U'?' || mask[m] == name[n])) {
      ++m;
      ++n;
    } else if (m < mask.size() && mask[m] == U'*') {
      star = m++;
      resume = n;
    } else if (star != std::u32string::npos) {
      m = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == U'*') ++m;
  return m == mask.size();
}

}  // namespace

std::string upper_name(std::string_view utf8) {
  std::string out;
  for (char32_t c : decode(utf8)) encode(to_upper(c), out);
  return out;
}

std::string lower_name(std::string_view utf8) {
  std::string out;
  for (char32_t c : decode(utf8)) encode(to_lower(c), out);
  return out;
}

std::u32string folded_name(std::string_view s) {
  std::u32string u = decode(s);
  for (char32_t& c : u) c = to_upper(c);
  return u;
}

bool same_name(std::string_view a, std::string_view b) { return folded_name(a) == folded_name(b); }

bool mask_matches(std::string_view mask, std::string_view name) {
  std::u32string m = folded_name(mask), n = folded_name(name);
  if (glob(m, n)) return true;
  if (m.size() >= 2 && m.compare(m.size() - 2, 2, U".*") == 0)
    return n.find(U'.') == std::u32string::npos && glob(m.substr(0, m.size() - 2), n);
  if (!m.empty() && m.back() == U'.')
    return n.find(U'.') == std::u32string::npos && glob(m.substr(0, m.size() - 1), n);
  return false;
}

}  // namespace zuv::os
