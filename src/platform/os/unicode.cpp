#include "platform/os/unicode.h"

namespace zuv::os {

std::u32string decode_utf8(std::string_view s, bool keep_raw_bytes) {
  std::u32string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 9;
    char32_t cp = n == 0 ? c : n == 1 ? (c & 0x1F) : n == 2 ? (c & 0x0F) : (c & 0x07);
    bool ok = n < 9 && i + n < s.size();
    for (size_t k = 1; ok && k <= n; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      ok = (d & 0xC0) == 0x80;
      cp = (cp << 6) | (d & 0x3F);
    }
    if (!ok) {
      out.push_back(keep_raw_bytes ? 0xDC00 + c : 0xFFFD);
      ++i;
      continue;
    }
    out.push_back(cp);
    i += n + 1;
  }
  return out;
}

char32_t first_char(std::string_view utf8) {
  if (utf8.empty()) return 0;
  return decode_utf8(utf8.substr(0, 4), true).front();
}

std::size_t char_count(std::string_view utf8) { return decode_utf8(utf8, true).size(); }

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::u16string utf16_from_utf8(std::string_view s) {
  std::u16string out;
  for (char32_t cp : decode_utf8(s)) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string utf8_from_utf16(std::u16string_view w) {
  std::string out;
  for (size_t i = 0; i < w.size(); ++i) {
    char32_t u = w[i];
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] < 0xE000) {
      append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (w[i + 1] - 0xDC00));
      ++i;
    } else {
      append_utf8(out, (u >= 0xD800 && u < 0xE000) ? 0xFFFD : u);
    }
  }
  return out;
}

}  // namespace zuv::os
