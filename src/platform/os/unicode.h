// UTF-8 and UTF-16 by hand, for the places that must not depend on the OS's
// converters: the registry file and link files written on Linux, and name case rules.
#pragma once

#include <string>
#include <string_view>

namespace zuv::os {

// A malformed byte becomes U+FFFD, or with keep_raw_bytes the lone surrogate
// U+DC00 + byte, so that append_utf8 writes that very byte back.
std::u32string decode_utf8(std::string_view s, bool keep_raw_bytes = false);
void append_utf8(std::string& out, char32_t cp);
// The first character of a UTF-8 text (0 for an empty one): the letter a typed answer
// or a hot key stands for.
char32_t first_char(std::string_view utf8);
// Characters, not bytes, of a UTF-8 text: what widths on the screen count.
std::size_t char_count(std::string_view utf8);

std::u16string utf16_from_utf8(std::string_view s);
// A lone surrogate becomes U+FFFD.
std::string utf8_from_utf16(std::u16string_view w);

}  // namespace zuv::os
