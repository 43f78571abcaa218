#include <errno.h>
#include <iconv.h>

#include <stdexcept>

#include "platform/os/codepage.h"

namespace zuv::os {
namespace {
const char* iconv_name(CodePage cp) {
  switch (cp) {
    case CodePage::Cp852: return "CP852";
    case CodePage::Cp1250: return "CP1250";
    case CodePage::Utf8: break;
  }
  return "UTF-8";
}

// One character of the source: its length in bytes, so that an unconvertible one can
// be skipped whole.
size_t char_length(CodePage cp, const char* p, size_t left) {
  if (cp != CodePage::Utf8) return 1;
  unsigned char c = static_cast<unsigned char>(*p);
  size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  return n > left ? left : n;
}
}  // namespace

std::string convert(std::string_view text, CodePage from, CodePage to) {
  if (from == to || text.empty()) return std::string(text);
  iconv_t cd = iconv_open(iconv_name(to), iconv_name(from));
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open failed");
  std::string out;
  out.resize(text.size() * 4 + 8);
  char* in = const_cast<char*>(text.data());
  size_t in_left = text.size();
  char* dst = out.data();
  size_t out_left = out.size();
  while (in_left > 0) {
    if (iconv(cd, &in, &in_left, &dst, &out_left) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      size_t used = out.size() - out_left;
      out.resize(out.size() * 2);
      dst = out.data() + used;
      out_left = out.size() - used;
      continue;
    }
    // Unconvertible or malformed: one '?' for the whole source character.
    size_t skip = char_length(from, in, in_left);
    in += skip;
    in_left -= skip;
    if (out_left == 0) {
      size_t used = out.size();
      out.resize(out.size() * 2);
      dst = out.data() + used;
      out_left = out.size() - used;
    }
    *dst++ = '?';
    --out_left;
  }
  iconv_close(cd);
  out.resize(out.size() - out_left);
  return out;
}

}  // namespace zuv::os
