// Files and directories, with Windows semantics on both targets. Every path is Windows
// text (see path.h). Every operation that creates, writes, renames, deletes or copies
// asks the fault switch first, and failures come back as Windows error codes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/os/status.h"

namespace zuv::os {

// File attributes as bits. On Linux: ReadOnly is the absence of the owner's write
// permission, and is honoured even for root; Hidden is a leading dot or the emulated
// flag; Hidden and System are kept in the extended attribute "user.zuv.attrib" where
// the file system has them (docs/paths.md).
enum Attr : unsigned {
  kReadOnly = 1,
  kHidden = 2,
  kSystem = 4,
  kDirectory = 16,
  kArchive = 32,
};

// The attribute letters in a fixed order: "D", "R", "H", "S", "A".
std::string attribute_letters(unsigned attrs);

// A change such as "-R-S-H" or "+R" or "+H-R" (letters R, H, S, A; case-insensitive).
struct AttrChange {
  unsigned set = 0;
  unsigned clear = 0;
};
AttrChange parse_attribute_change(std::string_view text);

struct DirEntry {
  std::string name;
  std::uint64_t size = 0;
  std::string date;        // "YYYYMMDD", local time of the last write
  std::string time;        // "HH:MM:SS"
  std::string attributes;  // attribute_letters()
};

// The entries matching pattern ("C:\dir\*.dbf"; a pattern with no directory part lists
// the current directory). Windows mask rules (names.h). filter as the runtime gives it:
// "" plain files only; a "D" adds directories, "H" hidden and "S" system entries; an
// entry is listed only when each of its D, H and S is in the filter. With "D", "." and
// ".." are listed (on Linux too, in every directory). Order: the OS's on Windows; on
// Linux "." and "..", then by upper-cased name. A missing directory lists nothing.
std::vector<DirEntry> list_directory(std::string_view pattern, std::string_view filter = "");

// Windows path text, as everywhere in this file (file_handle.h has native_file_exists).
bool file_exists(std::string_view path);       // exists and is not a directory
bool directory_exists(std::string_view path);  // exists and is a directory
Result<std::uint64_t> file_size(std::string_view path);

// The drives a directory dialog offers: each root ("C:\") with the OS's drive type
// (2 removable, 3 fixed, 4 remote, 5 CD-ROM). Linux has one tree: its root, written
// "\" as a rooted Windows path, stands in for the drives, as a fixed one.
std::vector<std::pair<std::string, int>> drives();
// The root of the current directory's drive ("C:\" when it has none).
std::string current_drive_root();

// Bytes the caller may still write on the volume holding the directory.
Result<std::uint64_t> free_disk_space(std::string_view directory);

Result<unsigned> get_attributes(std::string_view path);
Status change_attributes(std::string_view path, AttrChange change);
inline Status change_attributes(std::string_view path, std::string_view text) {
  return change_attributes(path, parse_attribute_change(text));
}

// Whole-file copy over an existing destination, keeping the source's attributes and
// time of last write. Fails with 5 on a read-only destination and with 32 when another
// process holds the source or the destination exclusively. A copy that fails midway
// removes what it wrote.
Status copy_file(std::string_view from, std::string_view to);
// Fails with 5 on a read-only file or a directory, 32 while another process holds it.
Status delete_file(std::string_view path);
// Renames, replacing an existing destination in one step (the destination is never
// missing in between). Fails with 5 when the destination is read-only or held open by
// another process, 32 when the source is.
Status rename_file(std::string_view from, std::string_view to);
// One level; the parent must exist. An existing path fails with 183.
Status make_directory(std::string_view path);
// An empty directory only (145 when not empty).
Status remove_directory(std::string_view path);
// A directory with everything below it, deepest first, read-only, hidden and system
// entries included. A link is removed itself, never followed. What will not go keeps
// the directories above it; the first failure is answered, naming its file.
Status remove_tree(std::string_view path);

// Creates or truncates path and writes data; value = the number of bytes written,
// which is short of data.size() when the disk fills.
Result<std::size_t> write_file(std::string_view path, std::string_view data);

}  // namespace zuv::os
