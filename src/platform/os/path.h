// Paths are kept as Windows text ("C:\Dane\", "\\srv\share\", ".\str\") everywhere in
// the logic; native_path() is the one place that maps such a text to the OS.
#pragma once

#include <string>
#include <string_view>

namespace zuv::os {

// Windows: the path unchanged. Linux: separators become '/', a drive letter maps
// through the drive map, and every existing component is matched case-insensitively.
std::string native_path(std::string_view windows_path);

}  // namespace zuv::os
