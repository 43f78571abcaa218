// The one way a file is replaced, so that a power cut at any moment leaves under its
// name either the old bytes or the new ones, whole: the new bytes are written to a
// file beside the target, brought to the disk, renamed over the target in one step,
// and the rename brought to the disk with the directory. Every step is checked; a
// failure names its step and the target. Until the rename the target is untouched and
// the file beside it is removed again; only a failed directory sync comes after it
// (the new bytes are in, but not yet sure to outlive a power cut).
//
// While the change watcher keeps the target (change_guard.h), it syncs the file and
// its directory when the watch ends, so the two syncs wait for it.
#pragma once

#include <string>
#include <string_view>

#include "platform/os/status.h"

namespace zuv::os {

// The name beside a target that its new bytes take until they replace it.
inline constexpr const char* kNewSuffix = ".zuvnew";

// The steps, as a failure's text names them.
namespace replace_step {
inline constexpr const char* kWrite = "Błąd zapisu nowej wersji pliku";
inline constexpr const char* kSyncFile = "Błąd zapisu nowej wersji pliku na dysk";
inline constexpr const char* kRename = "Nie można zastąpić pliku nową wersją";
inline constexpr const char* kSyncDirectory = "Błąd zapisu katalogu na dysk po zastąpieniu pliku";
}  // namespace replace_step

// Native paths. temp is a complete file beside target (in its directory); it replaces
// target (which need not exist).
[[nodiscard]] Status replace_durably(const std::string& temp, const std::string& target);
// bytes to target + kNewSuffix, then replace_durably.
[[nodiscard]] Status write_durably(const std::string& target, std::string_view bytes);

// Windows path text: as replace_durably, with the rules of rename_file (files.h) for
// the swap (a read-only target, or one another process holds, is refused).
[[nodiscard]] Status rename_durably(std::string_view temp, std::string_view target);

// Brings the directory that holds a native path's entry to the disk.
[[nodiscard]] Status sync_directory_of(const std::string& native_path);

namespace detail {
// The rename alone, native paths: consults the fault switch (Rename); the watcher has
// been told.
[[nodiscard]] int rename_told(const std::string& from, const std::string& to);
}  // namespace detail

}  // namespace zuv::os
