// Small text helpers every layer needs: blanks and ASCII letter case of byte strings
// (field names, aliases, key words), and the extension of a file name. Code page 852
// and UTF-8 letters beyond ASCII are left alone; names of files on disk go through
// platform/os/names.h instead.
#pragma once

#include <string>
#include <string_view>

namespace zuv::base {

// Blanks (spaces only) off both ends / off the end.
std::string trim(std::string_view s);
std::string rtrim(std::string_view s);
std::string upper_ascii(std::string_view s);
std::string lower_ascii(std::string_view s);
// Equal but for the case of ASCII letters.
bool iequals_ascii(std::string_view a, std::string_view b);
// The first `chars` characters of a UTF-8 text (code points, never split).
std::string cut_to_chars(std::string_view utf8, size_t chars);

// The extension of the last component of a path, without its dot, as written ("" when
// the last component has no dot). Both '\' and '/' separate components.
std::string extension_of(std::string_view path);
// The path without that extension and its dot.
std::string without_extension(std::string_view path);
// The path with its extension replaced by ext, or ext added when it has none.
std::string with_extension(std::string_view path, std::string_view ext);

}  // namespace zuv::base
