// The means the recovery notes are kept by: small files written beside and renamed in,
// with their directory, on the disk; and the account of what keeping them costs a run.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zuv::os {
class FileHandle;
}

namespace zuv::upgrade {

// The recovery directory of a firm (not "bak\\", which the dispatcher empties itself).
inline constexpr const char* kRecoveryDir = "odzysk\\";

// What the mechanism took from this process so far: the time spent keeping copies,
// forcing files to the disk and settling the recovery directories, the bytes copied,
// and the most one step held at a time (the extra disk a run needs).
struct RecoveryCost {
  double seconds = 0;
  std::uint64_t bytes_kept = 0;
  std::uint64_t most_held = 0;
};
RecoveryCost recovery_cost();

namespace kept {

// Bytes kept for the step now under way; a new step starts from none.
void count_kept(std::uint64_t bytes);
void new_step_held();

// Times one entry into the mechanism; entries made from inside another count once.
class CostTimer {
 public:
  CostTimer();
  ~CostTimer();
  CostTimer(const CostTimer&) = delete;
  CostTimer& operator=(const CostTimer&) = delete;

 private:
  std::chrono::steady_clock::time_point t0_;
};

std::string native(const std::string& path);
// The directory holding path (Windows text) brought to the disk.
[[nodiscard]] bool sync_directory_of(const std::string& path);
// The whole of a file up to 1 MB; false when it cannot be read.
bool read_small_file(const std::string& path, std::string& out);
// A new file beside path, on the disk before it is renamed in, and the rename on the disk.
[[nodiscard]] bool write_synced(const std::string& path, std::string_view bytes);
// The copy goes beside its destination, reaches the disk and only then takes its
// place: the destination is never missing nor half written.
[[nodiscard]] bool copy_synced(const std::string& from, const std::string& to);
// The file gone, and its going on the disk; true when there was none.
[[nodiscard]] bool remove_synced(const std::string& path);

// The handle to read a file about to change through: the one the change comes by when
// there is one (another open may be refused while it is held), else own, opened here.
int reading_handle(const std::string& native_file, const os::FileHandle* open, os::FileHandle& own,
                   const os::FileHandle*& in);
// The file (native path) as it is now, written to copy (native) and synced.
int copy_before_change(const std::string& native_file, const os::FileHandle* open, const std::string& copy,
                       std::uint64_t& bytes);

// Whether two spellings of a native path agree (separators and the case of ASCII
// letters aside, as the two may come from different spellings).
bool same_spelling(std::string_view a, std::string_view b);

// A line of the notes without its CR LF and blanks.
std::string bare(std::string_view line);
// The lines of a note that hold more than blanks.
std::vector<std::string> lines_of(const std::string& text);

}  // namespace kept
}  // namespace zuv::upgrade
