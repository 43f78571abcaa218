// Shell links written by hand in the published binary form: a 76-byte header, a link
// information block that holds the target (a local path, or a share and the path
// below it), then counted UTF-16 strings. docs/registry.md lists the fields we write.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/base/coding.h"
#include "platform/os/codepage.h"
#include "platform/os/durable.h"
#include "platform/os/path.h"
#include "platform/os/shelllink.h"
#include "platform/os/unicode.h"

namespace zuv::os {
namespace {

constexpr std::uint32_t kHasLinkTargetIdList = 0x01;
constexpr std::uint32_t kHasLinkInfo = 0x02;
constexpr std::uint32_t kHasName = 0x04;
constexpr std::uint32_t kHasRelativePath = 0x08;
constexpr std::uint32_t kHasWorkingDir = 0x10;
constexpr std::uint32_t kHasArguments = 0x20;
constexpr std::uint32_t kHasIconLocation = 0x40;
constexpr std::uint32_t kIsUnicode = 0x80;

constexpr std::uint8_t kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                         0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

using Bytes = std::vector<std::uint8_t>;

constexpr auto put16 = [](Bytes& b, std::uint32_t x) { base::append_le16(b, x); };
constexpr auto put32 = [](Bytes& b, std::uint32_t x) { base::append_le32(b, x); };
void set32(Bytes& b, size_t at, std::uint32_t x) { base::put_le32(b.data() + at, x); }

// UTF-16LE code units of a UTF-8 text (through the wide form of the code-page layer
// would tie this file to Windows; the conversion is short enough to keep here).
std::u16string utf16(std::string_view s) { return utf16_from_utf8(s); }
std::string utf8(const std::u16string& w) { return utf8_from_utf16(w); }

void put_ansi_z(Bytes& b, std::string_view s) {
  std::string a = cp1250_from_utf8(s);
  b.insert(b.end(), a.begin(), a.end());
  b.push_back(0);
}
void put_unicode_z(Bytes& b, std::string_view s) {
  for (char16_t c : utf16(s)) put16(b, c);
  put16(b, 0);
}
void put_counted(Bytes& b, std::string_view s) {
  std::u16string w = utf16(s);
  put16(b, static_cast<std::uint32_t>(w.size()));
  for (char16_t c : w) put16(b, c);
}

// The link information block: a local path with its volume, or a share with the path
// below it. Both carry ANSI (1250) and Unicode forms.
Bytes link_info(const std::string& target) {
  constexpr std::uint32_t kHeader = 0x24;  // with the two Unicode offsets
  Bytes b(kHeader, 0);
  set32(b, 4, kHeader);
  bool network = target.size() > 2 && target[0] == '\\' && target[1] == '\\';
  if (!network) {
    set32(b, 8, 0x1);  // VolumeIDAndLocalBasePath
    set32(b, 12, static_cast<std::uint32_t>(b.size()));
    Bytes vol;
    put32(vol, 0);  // size, set below
    put32(vol, 3);  // a fixed drive
    put32(vol, 0);  // serial number unknown
    put32(vol, 0x10);
    vol.push_back(0);  // no volume label
    set32(vol, 0, static_cast<std::uint32_t>(vol.size()));
    b.insert(b.end(), vol.begin(), vol.end());
    set32(b, 16, static_cast<std::uint32_t>(b.size()));
    put_ansi_z(b, target);
    set32(b, 24, static_cast<std::uint32_t>(b.size()));
    put_ansi_z(b, "");
    set32(b, 28, static_cast<std::uint32_t>(b.size()));
    put_unicode_z(b, target);
    set32(b, 32, static_cast<std::uint32_t>(b.size()));
    put_unicode_z(b, "");
  } else {
    // "\\srv\share" is the network name, the rest the common path suffix.
    size_t share_end = target.find('\\', 2);
    share_end = share_end == std::string::npos ? std::string::npos : target.find('\\', share_end + 1);
    std::string net = target.substr(0, share_end);
    std::string suffix = share_end == std::string::npos ? "" : target.substr(share_end + 1);
    set32(b, 8, 0x2);  // CommonNetworkRelativeLinkAndPathSuffix
    set32(b, 20, static_cast<std::uint32_t>(b.size()));
    Bytes cnrl(0x1C, 0);
    set32(cnrl, 8, 0x1C);  // NetNameOffset past the Unicode offsets
    set32(cnrl, 4, 0x2);       // the network type below is valid
    set32(cnrl, 16, 0x20000);  // a LanMan network, as Windows writes it
    put_ansi_z(cnrl, net);
    set32(cnrl, 20, static_cast<std::uint32_t>(cnrl.size()));
    put_unicode_z(cnrl, net);
    set32(cnrl, 0, static_cast<std::uint32_t>(cnrl.size()));
    b.insert(b.end(), cnrl.begin(), cnrl.end());
    set32(b, 24, static_cast<std::uint32_t>(b.size()));
    put_ansi_z(b, suffix);
    set32(b, 32, static_cast<std::uint32_t>(b.size()));
    put_unicode_z(b, suffix);
  }
  set32(b, 0, static_cast<std::uint32_t>(b.size()));
  return b;
}

Bytes encode(const ShellLink& link) {
  std::uint32_t flags = kHasLinkInfo | kIsUnicode;
  if (!link.description.empty()) flags |= kHasName;
  if (!link.working_dir.empty()) flags |= kHasWorkingDir;
  if (!link.arguments.empty()) flags |= kHasArguments;
  Bytes b;
  put32(b, 0x4C);
  b.insert(b.end(), kLinkClsid, kLinkClsid + 16);
  put32(b, flags);
  put32(b, 0x20);  // the target is an ordinary file
  b.insert(b.end(), 24, 0);  // creation, access and write times unknown
  put32(b, 0);  // file size
  put32(b, 0);  // icon index
  put32(b, 1);  // show normally
  put16(b, 0);  // no hot key
  b.insert(b.end(), 10, 0);  // reserved
  Bytes info = link_info(link.target);
  b.insert(b.end(), info.begin(), info.end());
  if (flags & kHasName) put_counted(b, link.description);
  if (flags & kHasWorkingDir) put_counted(b, link.working_dir);
  if (flags & kHasArguments) put_counted(b, link.arguments);
  put32(b, 0);  // no extra data blocks
  return b;
}

// ---- reading ---------------------------------------------------------------------

struct Reader {
  const Bytes& b;
  bool ok = true;
  std::uint32_t u16(size_t at) {
    if (at + 2 > b.size()) return ok = false, 0;
    return base::le16(b.data() + at);
  }
  std::uint32_t u32(size_t at) {
    if (at + 4 > b.size()) return ok = false, 0;
    return base::le32(b.data() + at);
  }
  std::string ansi_z(size_t at, size_t end) {
    std::string s;
    for (; at < end && at < b.size() && b[at]; ++at) s += static_cast<char>(b[at]);
    return utf8_from_1250(s);
  }
  std::string unicode_z(size_t at, size_t end) {
    std::u16string w;
    for (; at + 1 < end && at + 1 < b.size(); at += 2) {
      char16_t c = static_cast<char16_t>(b[at] | (b[at + 1] << 8));
      if (!c) break;
      w.push_back(c);
    }
    return utf8(w);
  }
};

std::optional<std::string> target_of(Reader& r, size_t at) {
  std::uint32_t size = r.u32(at), header = r.u32(at + 4), flags = r.u32(at + 8);
  size_t end = at + size;
  if (!r.ok || end > r.b.size() || header < 0x1C) return std::nullopt;
  bool unicode = header >= 0x24;
  std::string suffix = unicode && r.u32(at + 32) ? r.unicode_z(at + r.u32(at + 32), end)
                                                 : r.ansi_z(at + r.u32(at + 24), end);
  if (flags & 0x1) {
    std::string base = unicode && r.u32(at + 28) ? r.unicode_z(at + r.u32(at + 28), end)
                                                 : r.ansi_z(at + r.u32(at + 16), end);
    return base + suffix;
  }
  if (flags & 0x2) {
    size_t cn = at + r.u32(at + 20);
    std::uint32_t name_off = r.u32(cn + 8);
    std::string net = name_off > 0x14 && r.u32(cn + 20) ? r.unicode_z(cn + r.u32(cn + 20), end)
                                                        : r.ansi_z(cn + name_off, end);
    return suffix.empty() ? net : net + "\\" + suffix;
  }
  return std::string();
}

}  // namespace

bool create_shell_link(const std::string& link_file, const ShellLink& link) {
  Bytes bytes = encode(link);
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return write_durably(native_path(link_file), text).ok();
}

std::optional<ShellLink> read_shell_link(const std::string& link_file) {
  std::ifstream in(native_path(link_file), std::ios::binary);
  if (!in) return std::nullopt;
  Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Reader r{b};
  if (b.size() < 0x4C || r.u32(0) != 0x4C || !std::equal(kLinkClsid, kLinkClsid + 16, b.begin() + 4))
    return std::nullopt;
  std::uint32_t flags = r.u32(20);
  size_t at = 0x4C;
  if (flags & kHasLinkTargetIdList) at += 2 + r.u16(at);
  ShellLink link;
  if (flags & kHasLinkInfo) {
    std::optional<std::string> t = target_of(r, at);
    if (!t) return std::nullopt;
    link.target = *t;
    at += r.u32(at);
  }
  auto counted = [&](std::string& into) {
    std::uint32_t n = r.u16(at);
    at += 2;
    size_t bytes = (flags & kIsUnicode) ? 2u * n : n;
    if (at + bytes > b.size()) return r.ok = false, void();
    into = (flags & kIsUnicode) ? r.unicode_z(at, at + bytes) : r.ansi_z(at, at + bytes);
    at += bytes;
  };
  std::string relative, icon;
  if (flags & kHasName) counted(link.description);
  if (flags & kHasRelativePath) counted(relative);
  if (flags & kHasWorkingDir) counted(link.working_dir);
  if (flags & kHasArguments) counted(link.arguments);
  if (flags & kHasIconLocation) counted(icon);
  if (!r.ok) return std::nullopt;
  return link;
}

}  // namespace zuv::os
