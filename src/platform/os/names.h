// File and key names compared the Windows way: case-insensitive over ASCII and the Latin
// letters of the Central European code pages, and masks with '*' and '?'.
#pragma once

#include <string>
#include <string_view>

namespace zuv::os {

// Upper / lower case of a UTF-8 name (ASCII, Latin-1 and Latin Extended-A letters,
// which hold every letter of code pages 852 and 1250). Other characters pass unchanged.
std::string upper_name(std::string_view utf8);
std::string lower_name(std::string_view utf8);

// Whether two UTF-8 names denote the same file on Windows.
bool same_name(std::string_view a, std::string_view b);
// The name as same_name compares it: upper-cased characters. Sorting by it gives the
// case-insensitive order Windows keeps (registry keys, for one).
std::u32string folded_name(std::string_view utf8);

// Windows mask rules: case-insensitive; '*' any run of characters, '?' one character;
// a mask ending in ".*" also matches the name without any extension (so "*.*" matches
// every name, "rob*.*" matches "robot"); a mask ending in a single '.' matches names
// without a dot.
bool mask_matches(std::string_view mask, std::string_view name);

}  // namespace zuv::os
