// File and directory helpers with retries: they copy trees from the release into the
// program and data directories, replace files that another program may hold for a
// moment, empty working directories and write small files. Paths are Windows text
// ending in '\' for directories. No helper shows anything or lets an error escape
// (ANALIZA_KAT, which tells the operator what is wrong, lives in ui/analiza_kat.h).
// Each answers the one result type: success, or the failure (the first one, for the
// walks over many files) with its OS code, its text and the file it concerns; "true"
// below means success.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/os/status.h"

namespace zuv::lib {

// Copies source to destination (a file, or a directory ending in '\' to copy under
// the source's name), replacing an existing destination even when it is read-only.
// Up to 10 attempts 50 ms apart. The copy goes to a file beside the destination that
// is then renamed over it, so a failure leaves the old destination as it was.
[[nodiscard]] os::Status FCOPY(std::string_view source, std::string_view destination);

// Deletes file, clearing its read-only, system and hidden attributes when a plain
// delete does not take; true when the file no longer exists (at once when it never did).
[[nodiscard]] os::Status DEL_FILE(std::string_view file);

// Copies the plain files of source matching mask into destination under lower-case
// names. Skipped: names that appear, upper-cased and between commas, in skip (",NS.CFG,"),
// and names that contain any of fragments (upper-cased). Subdirectories are not entered.
// An empty source does nothing; an empty destination copies nothing. True when every
// file was copied.
[[nodiscard]] os::Status COPY_KAT(std::string_view source, std::string_view destination,
                                  std::string_view mask = "*.*", std::string_view skip = "\\",
                                  const std::vector<std::string>& fragments = {});

// Copies the tree under source matching mask into destination, creating destination
// level by level first; names keep their case. True when every level and file was made.
[[nodiscard]] os::Status COPY_ALES_KAT(std::string_view source, std::string_view destination,
                                       std::string_view mask = "*.*");

// Creates one directory level (a trailing '\' is allowed); the parent must exist.
[[nodiscard]] os::Status MKDIR(std::string_view directory);

// Creates a directory path level by level (blanks around it ignored); a failure for an
// empty path, otherwise the answer of the last level (183 when it existed: callers
// test the directory afterwards).
[[nodiscard]] os::Status MAKEDIR(std::string_view path);

// Deletes the plain files of directory matching mask, skipping names that occur in skip
// (a plain substring test: skip "ABC.DBF" also keeps "BC.DBF") or contain any of
// fragments. Up to 4 attempts per file. Subdirectories and the directory stay. True
// when every file meant to go is gone.
[[nodiscard]] os::Status DEL_KAT(std::string_view directory, std::string_view mask = "*.*",
                                 std::string_view skip = "\\", const std::vector<std::string>& fragments = {});

// Creates or truncates file and writes text; true when the file was created and the
// whole text written.
[[nodiscard]] os::Status WRITEFILE(std::string_view file, std::string_view text);

// The name as skip lists see it: code page 852, upper case (Polish letters included).
std::string oem_upper(std::string_view utf8_name);

}  // namespace zuv::lib
