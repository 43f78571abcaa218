// Undoing a finished installation. While an installation runs, the first change to
// each file of the database tree and of the program directory keeps the file as it was
// (its bytes, or that it did not exist) in an undo area of that directory, on the disk
// before the change goes on; the area also lists the directories there were. At the
// end of the run the area's manifest takes a fingerprint of both trees. An undo puts
// every kept file back and removes what the installation made, but only while both
// trees still match the fingerprint: once anybody has worked, it refuses.
// docs/undo.md tells the whole story.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "upgrade/undo_files.h"

namespace zuv::upgrade {


// The release an undo area belongs to: "26.01.033 026.01.033 2026".
std::string undo_release(const std::string& wersja_p, const std::string& wersja_b, const std::string& rok);

// Starts keeping for a run of the release: the areas of another release go, this
// release's areas are made (or taken up again: a retry adds to them) and the watch
// begins. program_dir may be "" (no program directory). "" or the operator's message
// naming what failed; nothing in the trees has changed then.
[[nodiscard]] std::string start_undo_keeping(const std::string& database_dir, const std::string& program_dir,
                                             const std::string& release);
// For a run that keeps nothing: only the areas of another release go. "" or the message.
[[nodiscard]] std::string forget_other_undo(const std::string& database_dir, const std::string& program_dir,
                                            const std::string& release);
// Ends the watch and writes the fingerprint of both trees to the manifests, synced.
// "" or the operator's message. Without a watch, does nothing.
[[nodiscard]] std::string finish_undo_keeping();
// Ends the watch without a fingerprint (a run that stopped with an error); the next
// run of the release adds to the areas.
void stop_undo_keeping() noexcept;
// The area's copy of a file (native path) that the watch copied in the change being
// told right now, so holding the file's present bytes; "" when it did not. A second
// keeper of the same change may take a second name for it instead of a copy.
std::string undo_copy_just_kept(const std::string& native_path);
// Entries of files that the firm's recovery keeps too wait until the firm's work is
// about to stand: this puts them under their names, on the disk. False when it failed
// (the work must then not stand).
[[nodiscard]] bool undo_flush_pending();
// Pauses the watch while the firm's recovery puts files back as they were before its
// work: what it puts back is either kept already or the state before the installation.
class UndoPause {
 public:
  UndoPause();
  ~UndoPause();
  UndoPause(const UndoPause&) = delete;
  UndoPause& operator=(const UndoPause&) = delete;

 private:
  bool paused_ = false;
};
// Whether the watch is on in this process.
bool undo_keeping();

// Keeps a registry value as it was before its first change in this run (none: it did
// not exist). Called by the program's registry writes through the watch.
struct RegistryBefore {
  std::string root;  // as an export file names it
  std::string key;
  std::string name;
  bool existed = false;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

// What an undo area holds, read without changing anything.
struct UndoAreaInfo {
  bool present = false;         // an area of some release
  std::string release;          // its release
  bool fingerprinted = false;   // a run of it ended and took the fingerprint
  std::uint64_t kept_bytes = 0;
  std::uint64_t kept_files = 0;  // files kept with their bytes
  std::uint64_t new_files = 0;   // files the installation made
};
UndoAreaInfo read_undo_area(const std::string& dir);

// Exit codes of an undo.
enum UndoExit { kUndoDone = 0, kUndoRefused = 2, kUndoFailed = 3 };

struct UndoResult {
  int code = kUndoDone;
  std::string message;  // the operator's text ("" on success without remarks)
};

// Puts the database and program directory back as they were before the first run of
// the release. Refused (nothing changed) when there is no area of that release or when
// either tree differs from the fingerprint; an undo cut off before is finished without
// the comparison. plan: only says what would happen, in message.
UndoResult undo_installation(const std::string& database_dir, const std::string& program_dir,
                             const std::string& release, bool plan);

// Removes both undo areas. "" or the message naming what would not go.
[[nodiscard]] std::string forget_undo(const std::string& database_dir, const std::string& program_dir);

// The release whose undo was cut off and is to be finished ("" when there is none).
std::string undo_under_way(const std::string& database_dir);
// The refusal of an upgrade that meets a half-done undo ("" when there is none).
std::string undo_half_done_refusal(const std::string& database_dir, const std::string& program_dir);

}  // namespace zuv::upgrade
