// Paths are kept as Windows text ("C:\Dane\", "\\srv\share\", ".\str\") everywhere in
// the logic; native_path() is the one place that maps such a text to the OS. Every
// function of the OS layer takes Windows text and maps it here. docs/paths.md tells
// how drives and network paths land on Linux.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zuv::os {

// Windows: the path unchanged. Linux: separators ('\' and '/') become '/', a drive
// letter maps through the drive map, "\\server\share\" through the network root, and
// every component that does not exist with its exact case is looked up
// case-insensitively; components that do not exist at all keep the caller's case.
std::string native_path(std::string_view windows_path);
// A native path as a key of the files a process keeps track of: on Windows the case
// and the separator a caller used do not matter.
std::string native_key(const std::string& native);
// The same, as std::filesystem takes it (wide text on Windows).
std::filesystem::path fs_path(std::string_view windows_path);

#ifndef _WIN32
// The Linux directory a drive letter stands for: ZUV_DRIVES ("C=/srv/c;D=/data/d")
// when it names the letter, else $ZUV_DRIVE_ROOT/<letter in lower case>, where the
// root defaults to $HOME/zuv.
std::string drive_directory(char letter);
// Where "\\server\share\" lands: $ZUV_UNC_ROOT/server/share, the root defaulting to
// the drive root + "/unc".
std::string network_root();
#endif

// The part after the last separator ("C:\a\b.dbf" -> "b.dbf"; "C:\a\" -> "").
std::string_view file_name_part(std::string_view windows_path);
// Everything up to and including the last separator ("C:\a\b.dbf" -> "C:\a\").
std::string_view directory_part(std::string_view windows_path);
bool is_separator(char c);
// A directory as the logic keeps it: ending in '\' ("" stays "").
std::string with_backslash(std::string directory);

}  // namespace zuv::os
