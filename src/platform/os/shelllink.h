// Windows shell links (.lnk files). Paths are Windows texts (UTF-8); the link file's
// own path goes through native_path().
//
// Windows: made and read through the shell's link object. Linux: written and read by
// us in the published binary form (header, link information with the target path,
// then the description, working directory and arguments as counted UTF-16 strings),
// so that a link made on Linux works when copied to a Windows desktop.
#pragma once

#include <optional>
#include <string>

namespace zuv::os {

struct ShellLink {
  std::string target;       // e.g. "C:\ZUV2026\zuv.exe" or "\\srv\zuv\zuv.exe"
  std::string working_dir;  // "" for none
  std::string arguments;    // "" for none
  std::string description;  // "" for none
};

// Writes the link to a new file beside link_file and renames it over, so an existing
// link is only ever replaced by a complete one. Answers false on any failure.
bool create_shell_link(const std::string& link_file, const ShellLink& link);

// The link's fields, or nullopt when the file cannot be read as a link.
std::optional<ShellLink> read_shell_link(const std::string& link_file);

}  // namespace zuv::os
