#include "upgrade/recovery.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <random>

#include <zlib.h>

#include "lib/files.h"
#include "lib/text.h"
#include "platform/base/discard.h"
#include "platform/error/error.h"
#include "platform/os/file_handle.h"
#include "platform/os/held_writes.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "tables/catalogue.h"
#include "tables/table_access.h"
#include "upgrade/firm_records.h"
#include "upgrade/recovery_files.h"
#include "upgrade/report_text.h"
#include "upgrade/undo_area.h"

namespace zuv::upgrade {
namespace {

using namespace kept;

// Inside a firm's recovery directory: the step marker, the note that the firm's steps
// are under way, and the version record as a step met it (kept by earlier versions of
// this program, whose markers it still settles).
constexpr const char* kStepMarker = "krok.txt";
constexpr const char* kFirmMarker = "firma.txt";
constexpr const char* kVersionCopy = "wersja.stan";
// The marker's last line once everything the step changed is on the disk: from then on
// the step's work stands.
constexpr const char* kStepDone = "=";
// A copy kept for an undo, suffixed so that no firm file's copy takes a marker's name.
constexpr const char* kCopySuffix = ".kop";
// A line of the firm's note naming a step that got its version record through.
constexpr const char* kDoneStep = "krok=";
// A marker line naming a step of the marker's work that must not run again once the
// work stands, though its version record does not say so.
constexpr char kNotedStep = '!';
// A file up to this size (the version record, small tables and indexes) is kept in
// its marker line rather than as a copy beside: no new file and no directory sync.
constexpr std::uint64_t kKeptInLine = 8192;

void ensure_directory(const std::string& dir) {
  if (os::directory_exists(std::string_view(dir))) return;
  // The new directory's entry in its parent reaches the disk before anything is kept in it.
  if (!lib::MKDIR(dir).ok() || !sync_directory_of(dir.substr(0, dir.size() - 1)))
    firm_error(gencode::kCreate, 0, "Nie można utworzyć katalogu kopii na czas aktualizacji", dir, "MKDIR");
}

// The lines of a marker that reached the disk whole: a line appended when the cut came
// may be torn, and its change never began.
std::vector<std::string> whole_lines_of(const std::string& text) {
  const size_t last = text.rfind('\n');
  return lines_of(text.substr(0, last == std::string::npos ? 0 : last + 1));
}

// A marker line holding a small file whole: "*name|checksum|bytes in hex". The
// checksum tells a line torn inside (a cut while it was being synced, so its change
// never began) from one that reached the disk.
std::string kept_in_line(const std::string& name, const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  const uLong sum = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size()));
  std::string line = "*" + name + "|" + std::to_string(sum) + "|";
  for (unsigned char c : bytes) line += digits[c >> 4], line += digits[c & 15];
  return line;
}

bool read_kept_in_line(const std::string& entry, std::string& name, std::string& bytes) {
  const size_t hex = entry.rfind('|');
  if (hex == std::string::npos || hex == 0) return false;
  const size_t sum_at = entry.rfind('|', hex - 1);
  if (sum_at == std::string::npos || sum_at < 2 || (entry.size() - hex - 1) % 2) return false;
  name = entry.substr(1, sum_at - 1);
  bytes.clear();
  auto value = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
  for (size_t i = hex + 1; i < entry.size(); i += 2) {
    const int hi = value(entry[i]), lo = value(entry[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes += static_cast<char>(hi * 16 + lo);
  }
  const uLong sum = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size()));
  return entry.substr(sum_at + 1, hex - sum_at - 1) == std::to_string(sum);
}

// Adds a step to the firm's note of steps done, before the means to undo or repeat it
// go; a firm without a note (a test's bare call) has nothing to add to.
void note_step_done(const std::string& firm_dir, std::string_view step_name) {
  const std::string path = firm_dir + kRecoveryDir + kFirmMarker;
  std::string note;
  if (!read_small_file(path, note)) return;
  note += kDoneStep + std::string(step_name) + "\r\n";
  if (!write_synced(path, note))
    firm_error(gencode::kWrite, 0, "Nie można zapisać znacznika aktualizacji firmy", path, "ZAPISZ");
}

// Every copy left in the recovery directory, the firm's marker excepted.
void remove_copies(const std::string& dir) {
  new_step_held();
  for (const os::DirEntry& e : os::list_directory(dir + "*.*", "HS"))
    if (!base::iequals_ascii(e.name, kFirmMarker))
      base::let_go(lib::DEL_FILE(dir + e.name), "a copy left behind is removed with the next firm's copies");
}

// Puts back the files a step marker lists.
void restore_files(const std::string& firm_dir, const std::string& dir, const std::vector<StepMarker::File>& files) {
  for (const StepMarker::File& f : files) {
    const std::string target = firm_dir + f.name;
    bool ok = f.kind == '+'   ? copy_synced(dir + f.name + kCopySuffix, target)
              : f.kind == '*' ? replace_file_with(target, f.bytes)
                              : remove_synced(target);
    if (!ok)
      firm_error(gencode::kWrite, 0, "Nie można odtworzyć pliku firmy sprzed przerwanej aktualizacji", target,
                 "ODTWORZ");
  }
}

std::string_view without_separator(std::string_view path) {
  while (!path.empty() && os::is_separator(path.back())) path.remove_suffix(1);
  return path;
}

// Whether a native path lies directly in the native directory dir.
bool directly_in(const std::string& path, const std::string& dir) {
  return same_spelling(without_separator(os::directory_part(path)), without_separator(dir));
}

// Whether a native path lies in a subdirectory of dir, at any depth.
bool below(const std::string& path, const std::string& dir) {
  const std::string_view parent = without_separator(os::directory_part(path)), d = without_separator(dir);
  return parent.size() > d.size() && os::is_separator(parent[d.size()]) && same_spelling(parent.substr(0, d.size()), d);
}

// The whole file when it is no larger than limit.
int read_if_small(const std::string& file, const os::FileHandle* open, std::uint64_t limit, std::string& out,
                  bool& small) {
  os::FileHandle own;
  const os::FileHandle* in = nullptr;
  if (int rc = reading_handle(file, open, own, in)) return rc;
  std::uint64_t size = 0;
  if (int rc = in->size(size)) return rc;
  small = size <= limit;
  if (!small) return 0;
  out.assign(size, '\0');
  return size ? in->read_exact(0, out.data(), out.size()) : 0;
}

// Appends a line to the file at the native path and syncs it.
int append_synced(const std::string& native_path, const std::string& line) {
  os::FileHandle file;
  std::uint64_t end = 0;
  int rc = file.open(native_path, os::Access::ReadWrite, os::Share::Exclusive);
  if (!rc) rc = file.size(end);
  if (!rc) rc = file.write_at(end, line.data(), line.size());
  if (!rc) rc = file.flush();
  return rc;
}

// Watches the firm's directory while one step runs: the first change to each of its
// files keeps the file as it was (or notes that it did not exist) and adds it to the
// step's marker, both on the disk, before the change may go on. Only what the step
// really changes is copied, once.
class StepKeeper final : public os::ChangeWatcher {
 public:
  void start(const std::string& firm_dir) {
    firm_native_ = native(firm_dir);
    keep_native_ = native(firm_dir + kRecoveryDir);
    marker_native_ = native(firm_dir + kRecoveryDir + kStepMarker);
    seen_.clear();
    changed_.clear();
    beside_.clear();
    marker_on_disk_ = false;
    os::held_writes::drop_all();
    tables::forget_built_indexes();
    os::change_guard::watch(this);
  }
  void stop() {
    if (os::change_guard::current() == this) os::change_guard::watch(nullptr);
  }
  // Native paths of the firm's files the step changed so far.
  const std::vector<std::string>& changed() const { return changed_; }
  // And of files in its subdirectories.
  const std::set<std::string>& beside() const { return beside_; }
  // Whether the marker reached the disk: it must before the step's first change.
  bool marker_on_disk() const { return marker_on_disk_; }

  int before_change(const std::string& path, os::Change change, const os::FileHandle* open) override {
    if (!directly_in(path, firm_native_)) {
      // The firm's subdirectories (its backups, its e-invoice work files) are not kept,
      // but what the steps did there reaches the disk with the rest.
      if (below(path, firm_native_) && !directly_in(path, keep_native_) && !below(path, keep_native_))
        beside_.insert(path);
      return 0;
    }
    const std::string name(os::file_name_part(path));
    if (name.empty() || !seen_.insert(base::lower_ascii(name)).second) return 0;
    CostTimer timer;
    // Refused, the change does not happen; a later one asks again.
    auto refuse = [&](int rc) {
      seen_.erase(base::lower_ascii(name));
      return rc;
    };
    const bool present = os::native_file_exists(path);
    std::string line = "-" + name;
    bool directory_synced = false;
    if (present) {
      std::string bytes;
      bool small = false;
      if (int rc = read_if_small(path, open, kKeptInLine, bytes, small)) return refuse(rc);
      if (small) {
        line = kept_in_line(name, bytes);
        count_kept(bytes.size());
      } else {
        const std::string copy = keep_native_ + name + kCopySuffix;
        // A file about to lose its name keeps its bytes: a second name for them is copy
        // enough, where the file system gives one.
        // So is the undo area's copy of it, made in this very change.
        // (A file renamed away counts as losing its name here, as it always has.)
        const bool losing_name = change != os::Change::Write;
        const std::string undo_copy = losing_name ? std::string() : undo_copy_just_kept(path);
        if ((!losing_name || os::link_file(path, copy) != 0) &&
            (undo_copy.empty() || os::link_file(undo_copy, copy) != 0)) {
          std::uint64_t kept = 0;
          if (int rc = copy_before_change(path, open, copy, kept)) return refuse(rc);
          count_kept(kept);
        }
        if (int rc = os::sync_directory(keep_native_)) return refuse(rc);
        directory_synced = true;
        line = "+" + name;
      }
    }
    // The marker line goes last: a line on the disk vouches for its copy. The marker's
    // own entry in the directory goes with the first line.
    if (int rc = append_synced(marker_native_, line + "\r\n")) return refuse(rc);
    if (!marker_on_disk_ && !directory_synced)
      if (int rc = os::sync_directory(keep_native_)) return refuse(rc);
    marker_on_disk_ = true;
    changed_.push_back(path);
    return 0;
  }

  // Every file the step changed is kept and synced when it ends, before the step counts
  // as done.
  bool keeps(const std::string& path) override {
    return directly_in(path, firm_native_) && seen_.count(base::lower_ascii(os::file_name_part(path))) != 0;
  }
  bool will_keep(const std::string& path) override { return directly_in(path, firm_native_); }
  // A file not yet kept may keep its writes in memory until the work ends: a cut then
  // finds it as it was, and a file rebuilt meanwhile is never written at all.
  bool may_hold(const std::string& path) override {
    return directly_in(path, firm_native_) && seen_.count(base::lower_ascii(os::file_name_part(path))) == 0;
  }

 private:
  std::string firm_native_, keep_native_, marker_native_;
  std::set<std::string> seen_;
  std::vector<std::string> changed_;
  std::set<std::string> beside_;
  bool marker_on_disk_ = false;
};

StepKeeper keeper;

}  // namespace

namespace {

// A marker line giving the firm's version before the marker's work.
constexpr char kVersionLine = '@';

// A name the keeper wrote: a file directly in the firm's directory.
bool plain_file_name(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string::npos;
}

}  // namespace

StepMarker read_step_marker(const std::string& text) {
  StepMarker m;
  const std::vector<std::string> lines = whole_lines_of(text);
  if (lines.empty()) return m;
  m.step = lines.front();
  for (const std::string& line : lines) {
    if (line == kStepDone) m.done = true;
    else if (line[0] == kVersionLine) m.version_before = line.substr(1);
  }
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    StepMarker::File f{line[0], line.substr(1), ""};
    if (f.kind == kNotedStep) m.noted.push_back(f.name);
    if (f.kind != '+' && f.kind != '*' && f.kind != '-') continue;  // a note on the steps, no file
    if (f.kind == '*' && !read_kept_in_line(line, f.name, f.bytes)) continue;  // torn: its change never began
    if (!plain_file_name(f.name)) m.damaged = true;
    else m.files.push_back(std::move(f));
  }
  return m;
}

namespace {

// What a firm's recovery directory says, read without changing anything; marker gets
// the step marker when its work does not stand.
FirmRecovery read_recovery(const std::string& firm_dir, StepMarker* undo) {
  FirmRecovery found;
  const std::string dir = firm_dir + kRecoveryDir;
  if (!os::directory_exists(std::string_view(dir))) return found;
  const std::string marker = dir + kStepMarker;
  if (os::file_exists(std::string_view(marker))) {
    std::string text, before, now;
    if (!read_small_file(marker, text))
      firm_error(gencode::kOpen, 0, "Nie można odczytać znacznika przerwanego kroku aktualizacji", marker, "ODTWORZ");
    StepMarker m = read_step_marker(text);
    // The step's work stands once its last line says all it changed is on the disk (a
    // marker of an earlier version of this program: once the version record differs
    // from the one it met). Otherwise it is undone and will run again.
    const bool committed =
        m.done ||
        (read_small_file(dir + kVersionCopy, before) && read_small_file(firm_dir + "wersja.dbf", now) && before != now);
    if (!committed && !m.step.empty()) {
      found.restored_step = m.step;
      found.restored_version = m.version_before;
      if (undo) *undo = std::move(m);
    } else if (committed && !m.step.empty()) {
      found.completed_steps.insert(m.step);
      found.completed_steps.insert(m.noted.begin(), m.noted.end());
    }
  }
  std::string note;
  if (read_small_file(dir + kFirmMarker, note)) {
    found.finish_pending = true;
    found.reindex_pending = note.find("reindeks=T") != std::string::npos;
    for (const std::string& line : lines_of(note))
      if (line.rfind(kDoneStep, 0) == 0) found.completed_steps.insert(line.substr(std::string_view(kDoneStep).size()));
  }
  return found;
}

}  // namespace

FirmRecovery peek_firm_recovery(const std::string& firm_dir) { return read_recovery(firm_dir, nullptr); }

FirmRecovery recover_firm(const std::string& firm_dir) {
  CostTimer timer;
  keeper.stop();  // a step of this process that failed is undone from here as well
  // The recovery starts from the disk: writes of the undone work still held in memory
  // never reached it (a cut ends the process that held them).
  os::held_writes::drop_all();
  const std::string dir = firm_dir + kRecoveryDir;
  if (!os::directory_exists(std::string_view(dir))) return {};
  StepMarker undo;
  FirmRecovery found = read_recovery(firm_dir, &undo);
  const std::string marker = dir + kStepMarker;
  // What it would put back might lie anywhere: the marker stays for someone to look at.
  if (undo.damaged)
    firm_error(gencode::kOpen, 0, "Uszkodzony znacznik przerwanego kroku aktualizacji", marker, "ODTWORZ");
  if (!found.restored_step.empty()) {
    UndoPause pause;
    restore_files(firm_dir, dir, undo.files);
  }
  // remove_synced passes over a marker that is not there.
  if (!remove_synced(marker))
    firm_error(gencode::kWrite, 0, "Nie można usunąć znacznika przerwanego kroku aktualizacji", marker, "ODTWORZ");
  remove_copies(dir);
  return found;
}

void mark_firm_started(const std::string& firm_dir, bool reindex) {
  CostTimer timer;
  const std::string dir = firm_dir + kRecoveryDir;
  ensure_directory(dir);
  // The steps a cut-off run brought through stay noted until the firm is finished.
  std::string note = reindex ? "reindeks=T\r\n" : "reindeks=N\r\n", old;
  if (read_small_file(dir + kFirmMarker, old))
    for (const std::string& line : lines_of(old))
      if (line.rfind(kDoneStep, 0) == 0) note += line + "\r\n";
  if (!write_synced(dir + kFirmMarker, note))
    firm_error(gencode::kWrite, 0, "Nie można zapisać znacznika aktualizacji firmy", dir + kFirmMarker, "ZAPISZ");
}

void mark_firm_finished(const std::string& firm_dir) {
  CostTimer timer;
  const std::string dir = firm_dir + kRecoveryDir;
  if (!os::directory_exists(std::string_view(dir))) return;
  base::let_go(remove_synced(dir + kFirmMarker),
               "a note left behind has the next run do the firm's closing work again, which changes nothing");
  remove_copies(dir);
  // An empty directory says nothing; one that cannot go now goes with the next run.
  if (os::remove_directory(dir.substr(0, dir.size() - 1)).ok())
    base::let_go(os::sync_directory(native(firm_dir)), "an empty recovery directory that comes back says nothing");
}

void guard_step(const std::string& firm_dir, std::string_view step_name, std::string_view version_before) {
  CostTimer timer;
  const std::string dir = firm_dir + kRecoveryDir;
  ensure_directory(dir);
  // The marker names the step; the files the step changes are added to it one by one,
  // each after its copy. It need not be on the disk until the first of them: a cut
  // before that finds the firm as the step met it, with or without the marker.
  os::FileHandle marker;
  std::string step_line = std::string(step_name) + "\r\n";
  // The version the firm goes back to with an undo: the plan tells it without undoing.
  if (!version_before.empty()) step_line += kVersionLine + std::string(version_before) + "\r\n";
  if (marker.create(native(dir + kStepMarker), os::Share::Exclusive) != 0 ||
      marker.write_at(0, step_line.data(), step_line.size()) != 0)
    firm_error(gencode::kWrite, 0, "Nie można zapisać znacznika kroku aktualizacji", dir + kStepMarker, "ZAPISZ");
  keeper.start(firm_dir);
}

namespace {

// What a watch left to put on the disk once it stopped.
struct KeptWork {
  std::string firm_dir;
  std::vector<std::string> changed;  // native paths
  std::set<std::string> beside;      // in the firm's subdirectories
  bool marker_on_disk = false;
};

// The writes held in memory go to the disk while the watcher still keeps what they
// replace: each file once, written beside and swapped in.
void write_out_held(const std::string& firm_dir) {
  if (int rc = os::held_writes::write_out_all())
    firm_error(gencode::kWrite, rc, "Nie można zapisać na dysku zmienionych tabel firmy", firm_dir, "ZAPISZ");
}

KeptWork stop_watching(const std::string& firm_dir) {
  write_out_held(firm_dir);
  keeper.stop();
  return {firm_dir, keeper.changed(), keeper.beside(), keeper.marker_on_disk()};
}

// Files the steps wrote in the firm's subdirectories, and every directory between
// them and the firm's (names made or removed there), brought to the disk.
bool sync_subdirectories(const std::string& firm_dir, const std::set<std::string>& paths) {
  bool synced = true;
  std::set<std::string> dirs;
  const std::string firm_native = native(firm_dir);
  const std::string_view firm = without_separator(firm_native);
  for (const std::string& path : paths) {
    if (os::native_file_exists(path)) synced = os::sync_file(path) == 0 && synced;
    for (std::string_view d = without_separator(os::directory_part(path)); d.size() > firm.size();
         d = without_separator(os::directory_part(d)))
      dirs.insert(std::string(d));
  }
  // A directory the steps removed has nothing left to sync; its parent has its removal.
  for (const std::string& dir : dirs) {
    const int rc = os::sync_directory(dir);
    synced = (rc == 0 || rc == os::oscode::kFileNotFound || rc == os::oscode::kPathNotFound) && synced;
  }
  return synced;
}

// The work under the marker stands: what it changed reaches the disk before the marker
// says so, and that before the means to undo it go. Nothing on the way was synced: the
// kernel may have written the version record before the tables, so only the marker's
// last line decides. to_note: steps of the work whose version record does not say they
// are done.
void commit_kept(const KeptWork& work, const std::vector<std::string>& to_note) {
  CostTimer timer;
  const std::string& firm_dir = work.firm_dir;
  const std::string dir = firm_dir + kRecoveryDir;
  const std::string marker = dir + kStepMarker;
  auto note_steps = [&] {
    for (const std::string& step : to_note) note_step_done(firm_dir, step);
  };
  if (work.changed.empty() && work.beside.empty() && !work.marker_on_disk) {
    // Nothing changed: there is nothing to put on the disk nor to undo.
    note_steps();
    if (!os::delete_file(marker).ok())
      firm_error(gencode::kWrite, 0, "Nie można usunąć znacznika kroku aktualizacji", marker, "ZAPISZ");
    return;
  }
  // A cut after the last line must still know these steps as done; the lines go first,
  // on their own, so that the last line is never on the disk without them.
  std::string noted;
  for (const std::string& step : to_note) noted += kNotedStep + step + "\r\n";
  bool synced = noted.empty() || append_synced(native(marker), noted) == 0;
  for (const std::string& path : work.changed)
    if (os::native_file_exists(path)) synced = os::sync_file(path) == 0 && synced;
  synced = sync_subdirectories(firm_dir, work.beside) && synced;
  synced = os::sync_directory(native(firm_dir)) == 0 && synced;
  // What the undo keeps of these files goes in before the work stands.
  synced = undo_flush_pending() && synced;
  if (!synced || append_synced(native(marker), std::string(kStepDone) + "\r\n") != 0)
    firm_error(gencode::kWrite, 0, "Nie można zapisać na dysku zmian kroku aktualizacji", firm_dir, "ZAPISZ");
  note_steps();
  // The marker's removal needs no sync: a marker that comes back after a power cut
  // says the work stands, and only loses its copies.
  if (!os::delete_file(marker).ok())
    firm_error(gencode::kWrite, 0, "Nie można usunąć znacznika kroku aktualizacji", marker, "ZAPISZ");
  remove_copies(dir);
}

// Whether a step's version record leaves it to be noted as done.
bool needs_note(table::WorkAreas& areas, const std::string& firm_dir, const steps::FirmStep& step) {
  CostTimer timer;
  const std::optional<std::string> recorded = read_recorded_version(areas, firm_dir);
  return !recorded || *recorded < step.version;
}

// Undoes whatever the marker holds after a failure in this process, its tables closed
// first (closing may still write to them: that is kept like any change). False when
// even that failed: the marker stays for the next run.
bool undo_after_failure(table::WorkAreas& areas, const std::string& firm_dir) {
  bool undone = true;
  try {
    GuardedBlock quiet;
    tables::CLOSEALL(areas);
  } catch (const Break&) {
    undone = false;
  }
  // What waited in memory never reached the files: forgetting it undoes it.
  os::held_writes::drop_all();
  tables::forget_built_indexes();
  if (undone) try {
      GuardedBlock quiet;
      recover_firm(firm_dir);
    } catch (const Break&) {
      undone = false;
    }
  keeper.stop();
  return undone;
}

}  // namespace

void release_step(const std::string& firm_dir, std::string_view step_name, bool note_done) {
  commit_kept(stop_watching(firm_dir),
              note_done ? std::vector<std::string>{std::string(step_name)} : std::vector<std::string>{});
}

void run_step_recoverably(table::WorkAreas& areas, const std::string& firm_dir, const steps::FirmStep& step,
                          const std::function<void()>& run) {
  guard_step(firm_dir, step.name, read_recorded_version(areas, firm_dir).value_or(""));
  try {
    run();
    write_out_held(firm_dir);
  } catch (...) {
    undo_after_failure(areas, firm_dir);
    throw;
  }
  // A step whose version record says it is done needs no note of its own: only one
  // that records a version below its own (033) would otherwise meet the firm again.
  release_step(firm_dir, step.name, needs_note(areas, firm_dir, step));
}

std::function<void()> run_firm_steps_recoverably(table::WorkAreas& areas, const std::string& firm_dir,
                                                const std::vector<const steps::FirmStep*>& steps,
                                                const std::function<void(const steps::FirmStep&)>& run) {
  if (steps.empty()) return [] {};
  guard_step(firm_dir, steps.front()->name, read_recorded_version(areas, firm_dir).value_or(""));
  std::vector<std::string> to_note;
  size_t done = 0;
  try {
    for (; done < steps.size(); ++done) {
      run(*steps[done]);
      if (needs_note(areas, firm_dir, *steps[done])) to_note.emplace_back(steps[done]->name);
    }
    write_out_held(firm_dir);
  } catch (...) {
    const std::exception_ptr failure = std::current_exception();
    // The firm goes back to where its steps began, then the steps that succeeded run
    // again one by one, each kept on its own: the firm is left after its last completed
    // step, as if each step had been undone alone.
    if (undo_after_failure(areas, firm_dir))
      for (size_t i = 0; i < done; ++i) run_step_recoverably(areas, firm_dir, *steps[i], [&] { run(*steps[i]); });
    std::rethrow_exception(failure);
  }
  return [work = stop_watching(firm_dir), to_note] { commit_kept(work, to_note); };
}


}  // namespace zuv::upgrade
