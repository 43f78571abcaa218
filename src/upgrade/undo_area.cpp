#include "upgrade/undo_area.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <optional>

#include <zlib.h>

#include "platform/base/discard.h"
#include "platform/base/text.h"
#include "platform/os/change_guard.h"
#include "platform/os/durable.h"
#include "platform/os/file_handle.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "platform/os/process.h"
#include "upgrade/recovery_files.h"
#include "upgrade/undo_files.h"
#include "upgrade/undo_registry.h"

namespace zuv::upgrade {
namespace {

using namespace undo;

struct Root {
  std::string dir;     // Windows text, '\' at the end
  std::string native;  // without the closing separator
  std::string area;    // dir + kUndoDir
  std::string other;   // the other root ("" none)
};

// The part of a native path below a native directory ('\' separated), when it lies there.
std::optional<std::string> relative_below(const std::string& path, const std::string& dir) {
  if (path.size() <= dir.size() + 1 || !os::is_separator(path[dir.size()]) ||
      !kept::same_spelling(std::string_view(path).substr(0, dir.size()), dir))
    return std::nullopt;
  std::string rel = path.substr(dir.size() + 1);
  for (char& c : rel)
    if (c == '/') c = '\\';
  return rel;
}

bool ends_with_ci(const std::string& s, std::string_view tail) {
  return s.size() >= tail.size() && base::iequals_ascii(std::string_view(s).substr(s.size() - tail.size()), tail);
}

// Files that come and go within a run and never outlive it: the firms' recovery
// directories, the workers' slots, new bytes on their way in and index journals.
bool passing(const std::string& rel) {
  if (ends_with_ci(rel, os::kNewSuffix) || ends_with_ci(rel, ".zuvundo")) return true;
  const std::string lower = base::lower_ascii(rel);
  const std::string recovery = base::lower_ascii(kRecoveryDir);
  if (lower.rfind(recovery, 0) == 0 || lower.find("\\" + recovery) != std::string::npos) return true;
  return lower.rfind("temp\\zuv_w", 0) == 0;
}

class InstallKeeper final : public os::ChangeWatcher {
 public:
  void start(std::vector<Root> roots) {
    std::lock_guard lock(mu_);
    roots_ = std::move(roots);
    seen_.clear();
    counter_ = 0;
    os::change_guard::watch_outer(this);
  }
  void stop() {
    if (active()) os::change_guard::watch_outer(nullptr);
  }
  bool active() const { return os::change_guard::detail::g_outer.load() == this; }
  const std::vector<Root>& roots() const { return roots_; }
  std::string copy_just_kept(const std::string& path) {
    std::lock_guard lock(mu_);
    return just_copied_ == path ? just_copied_to_ : std::string();
  }

  int before_change(const std::string& path, os::Change change, const os::FileHandle* open) override {
    std::lock_guard lock(mu_);
    just_copied_.clear();
    const Root* root = nullptr;
    std::string rel;
    for (const Root& r : roots_)
      if (std::optional<std::string> below = relative_below(path, r.native))
        if (!root || r.native.size() > root->native.size()) root = &r, rel = *below;
    if (!root) {
      // Shortcuts live outside both trees: they are kept in the program's area.
      if (!ends_with_ci(path, ".lnk") || roots_.empty() || !seen_.insert(base::lower_ascii(path)).second) return 0;
      const int rc = keep_outside(roots_.back(), path, change, open);
      if (rc) seen_.erase(base::lower_ascii(path));
      return rc;
    }
    if (passing(rel) || base::lower_ascii(rel).rfind(base::lower_ascii(kUndoDir), 0) == 0) return 0;
    if (!seen_.insert(base::lower_ascii(path)).second) return 0;
    const int rc = keep(*root, rel, path, change, open);
    if (rc) seen_.erase(base::lower_ascii(path));  // refused, the change does not happen; a later one asks again
    return rc;
  }

 private:
  // Keeps the file as it is before its first change of the release's runs, on the disk.
  int keep(const Root& root, const std::string& rel, const std::string& path, os::Change change,
           const os::FileHandle* open) {
    kept::CostTimer timer;
    const std::string kept_bytes = root.area + kKept + rel, absent = root.area + kAbsent + rel;
    const std::string kept_native = os::native_path(kept_bytes), absent_native = os::native_path(absent);
    // A retry of the release: the first run kept it.
    if (os::native_file_exists(kept_native) || os::native_file_exists(absent_native)) return 0;
    // A file the firm's recovery puts back itself after a cut before its steps' work
    // stands: its entry may wait for that moment (flush_pending) and go in with the
    // others, one directory sync for them all. A cut before then leaves the entry out,
    // and the next run keeps the file again once the recovery has put it back.
    os::ChangeWatcher* step = os::change_guard::current();
    const bool wait = step && step != this && step->will_keep(path);
    if (!os::native_file_exists(path)) {
      if (wait) {
        pending_.push_back({&root, kAbsent + rel, ""});
        return 0;
      }
      std::set<std::string> dirs{std::string(os::directory_part(absent_native))};
      if (!make_directories(root.area, kAbsent + dir_of(rel), &dirs)) return os::oscode::kPathNotFound;
      os::FileHandle mark;
      if (int rc = mark.create(absent_native, os::Share::Exclusive)) return rc;
      mark.close();
      return sync_directories(dirs);
    }
    // A file about to lose its name keeps its bytes: a second name for them is enough.
    // Not so one renamed away: under its new name it may be written in place later.
    // Its copy, else, reaches the disk at once: the firm's recovery may take a second
    // name for it as its own copy.
    const std::string temp = os::native_path(root.area + kTemp + std::to_string(os::current_process_id()) + "-" +
                                             std::to_string(++counter_));
    if (change != os::Change::Unlink || os::link_file(path, temp) != 0) {
      std::uint64_t bytes = 0;
      if (int rc = kept::copy_before_change(path, open, temp, bytes)) {
        base::let_go(os::remove_file(temp), "a leftover copy is removed by the next run's start");
        return rc;
      }
      just_copied_ = path;
      just_copied_to_ = temp;
    }
    // The kept bytes are read again only by an undo, if ever.
    os::leave_cache(temp);
    if (wait) {
      pending_.push_back({&root, kKept + rel, temp});
      return 0;
    }
    // The name comes last: a kept file under its name is whole.
    std::set<std::string> dirs{std::string(os::directory_part(kept_native))};
    if (!make_directories(root.area, kKept + dir_of(rel), &dirs)) return os::oscode::kPathNotFound;
    if (int rc = os::detail::rename_told(temp, kept_native)) return rc;
    return sync_directories(dirs);
  }

  static int sync_directories(const std::set<std::string>& dirs) {
    for (const std::string& dir : dirs)
      if (int rc = os::sync_directory(dir)) return rc;
    return 0;
  }

 public:
  // Puts the entries that waited under their names, each directory synced once.
  bool flush_pending() {
    // Taken out under the lock, worked through without it: the files made here are
    // told to this watcher like any.
    std::vector<Pending> pending;
    {
      std::lock_guard lock(mu_);
      pending.swap(pending_);
    }
    std::set<std::string> dirs;
    bool ok = true;
    for (const Pending& p : pending) {
      const std::string target = os::native_path(p.root->area + p.rel);
      ok = ok && make_directories(p.root->area, dir_of(p.rel), &dirs);
      if (!ok) break;
      if (p.temp.empty()) {
        os::FileHandle mark;
        ok = mark.create(target, os::Share::Exclusive) == 0;
      } else {
        ok = os::detail::rename_told(p.temp, target) == 0;
      }
      if (!ok) break;
      dirs.insert(std::string(os::directory_part(target)));
    }
    return sync_directories(dirs) == 0 && ok;
  }

 private:
  static std::string dir_of(const std::string& rel) {
    const size_t slash = rel.rfind('\\');
    return slash == std::string::npos ? "" : rel.substr(0, slash + 1);
  }

  struct Pending {
    const Root* root;
    std::string rel;   // below the area: "stan\\..." or "brak\\..."
    std::string temp;  // native: the bytes waiting in "tmp\\"; "" for "did not exist"
  };
  std::vector<Pending> pending_;

  // A file outside the trees, under a name made from its path: "<id>.txt" holds the path
  // and is on the disk first, then "<id>.lnk" (its bytes) or "<id>.brak" (did not exist).
  int keep_outside(const Root& root, const std::string& path, os::Change change, const os::FileHandle* open) {
    const std::string lower = base::lower_ascii(path);
    char id[16];
    std::snprintf(id, sizeof id, "%08lx", crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(lower.data()),
                                                 static_cast<uInt>(lower.size())));
    const std::string dir = root.area + kOutside;
    if (os::file_exists(std::string_view(dir + id + ".txt"))) return 0;
    if (!make_directories(root.area, kOutside)) return os::oscode::kPathNotFound;
    if (!os::native_file_exists(path)) {
      if (!kept::write_synced(dir + id + ".brak", "")) return os::oscode::kIoError;
    } else {
      const std::string kept_native = os::native_path(dir + id + ".lnk");
      std::uint64_t bytes = 0;
      if (change != os::Change::Unlink || os::link_file(path, kept_native) != 0)
        if (int rc = kept::copy_before_change(path, open, kept_native, bytes)) return rc;
      if (int rc = os::sync_directory_of(kept_native).code) return rc;
    }
    // The path goes last: only a whole entry names a file to put back.
    return kept::write_synced(dir + id + ".txt", path) ? 0 : os::oscode::kIoError;
  }

  std::mutex mu_;
  std::string just_copied_, just_copied_to_;
  std::vector<Root> roots_;
  std::set<std::string> seen_;
  unsigned counter_ = 0;
};

InstallKeeper keeper;

std::vector<Root> roots_of(const std::string& database_dir, const std::string& program_dir) {
  std::vector<Root> roots;
  auto add = [&](const std::string& dir, const std::string& other) {
    std::string native = os::native_path(dir);
    while (native.size() > 1 && os::is_separator(native.back())) native.pop_back();
    roots.push_back({dir, native, dir + kUndoDir, other});
  };
  add(database_dir, program_dir);
  if (!program_dir.empty() && !base::iequals_ascii(program_dir, database_dir)) add(program_dir, database_dir);
  return roots;
}

// Makes the area of a root ready for this release's run, before the watch starts.
std::string prepare_area(const Root& root, const std::string& release) {
  const UndoAreaInfo info = read_undo_area(root.area);
  if (info.present && info.release != release) {
    if (std::string why = forget_undo(root.dir, ""); !why.empty()) return why;
  }
  if (!read_undo_area(root.area).present) {
    // An area without its release file was cut while it was being made: nothing was
    // kept in it yet.
    if (os::directory_exists(std::string_view(root.area)) && !os::remove_tree(root.area).ok())
      return "Nie można usunąć niedokończonego katalogu cofania " + root.area;
    TreeWalk dirs = walk_tree(root.dir, skipped_in(root.dir, root.other), false);
    if (!dirs.ok) return "Nie można odczytać katalogu " + dirs.failed;
    if (!make_directories(root.dir, kUndoDir) || !os::make_directory(root.area + kTemp).ok() ||
        !kept::write_synced(root.area + kDirsFile, directory_list(dirs.entries)) ||
        !kept::write_synced(root.area + kReleaseFile, release + "\r\n"))
      return "Nie można utworzyć katalogu cofania instalacji " + root.area;
    return "";
  }
  // A retry: the fingerprint of the last run's end no longer holds once it changes
  // anything, and copies a cut left on their way in are of no use.
  if (!kept::remove_synced(root.area + kFingerprint))
    return "Nie można usunąć pliku " + root.area + kFingerprint;
  for (const os::DirEntry& e : os::list_directory(root.area + kTemp + "*.*", "HS"))
    base::let_go(os::delete_file(root.area + kTemp + e.name), "a leftover is only wasted space");
  if (!os::directory_exists(std::string_view(root.area + kTemp)) && !os::make_directory(root.area + kTemp).ok())
    return "Nie można utworzyć katalogu " + root.area + kTemp;
  return "";
}

}  // namespace

std::string undo_release(const std::string& wersja_p, const std::string& wersja_b, const std::string& rok) {
  return wersja_p + " " + wersja_b + " " + rok;
}

std::string start_undo_keeping(const std::string& database_dir, const std::string& program_dir,
                               const std::string& release) {
  keeper.stop();
  if (std::string why = undo_half_done_refusal(database_dir, program_dir); !why.empty()) return why;
  std::vector<Root> roots = roots_of(database_dir, program_dir);
  for (const Root& root : roots)
    if (std::string why = prepare_area(root, release); !why.empty()) return why;
  const std::string registry_area = roots.back().area;
  keeper.start(std::move(roots));
  if (std::string why = start_registry_keeping(registry_area); !why.empty()) {
    keeper.stop();
    return why;
  }
  return "";
}

std::string forget_other_undo(const std::string& database_dir, const std::string& program_dir,
                              const std::string& release) {
  for (const Root& root : roots_of(database_dir, program_dir)) {
    const UndoAreaInfo info = read_undo_area(root.area);
    if (info.present && info.release != release)
      if (std::string why = forget_undo(root.dir, ""); !why.empty()) return why;
  }
  return "";
}

UndoPause::UndoPause() : paused_(keeper.active()) {
  if (paused_) os::change_guard::watch_outer(nullptr);
}

UndoPause::~UndoPause() {
  if (paused_) os::change_guard::watch_outer(&keeper);
}

bool undo_flush_pending() { return keeper.flush_pending(); }

std::string undo_copy_just_kept(const std::string& native_path) {
  return keeper.active() ? keeper.copy_just_kept(native_path) : std::string();
}

bool undo_keeping() { return keeper.active(); }

void stop_undo_keeping() noexcept {
  keeper.stop();
  stop_registry_keeping();
}

std::string finish_undo_keeping() {
  if (!keeper.active()) return "";
  const bool flushed = keeper.flush_pending();
  stop_undo_keeping();
  if (!flushed) return "Nie można zapisać stanu sprzed instalacji w katalogach " + std::string(kUndoDir);
  for (const Root& root : keeper.roots()) {
    TreeWalk tree = walk_tree(root.dir, skipped_in(root.dir, root.other), true);
    if (!tree.ok) return "Nie można odczytać pliku " + tree.failed + " do zapisu stanu po instalacji";
    if (!kept::write_synced(root.area + kFingerprint, fingerprint_text(tree.entries)))
      return "Nie można zapisać pliku " + root.area + kFingerprint;
  }
  return "";
}

UndoAreaInfo read_undo_area(const std::string& dir) {
  UndoAreaInfo info;
  std::string release;
  if (!kept::read_small_file(dir + kReleaseFile, release)) return info;
  info.present = true;
  info.release = kept::bare(release);
  info.fingerprinted = os::file_exists(std::string_view(dir + kFingerprint));
  for (const TreeEntry& e : walk_tree(dir + kKept, {}, false).entries)
    if (!e.directory) ++info.kept_files, info.kept_bytes += e.size;
  for (const TreeEntry& e : walk_tree(dir + kAbsent, {}, false).entries)
    if (!e.directory) ++info.new_files;
  return info;
}

std::string undo_under_way(const std::string& database_dir) {
  std::string release;
  return kept::read_small_file(database_dir + kUndoing, release) ? kept::bare(release) : std::string();
}

std::string undo_half_done_refusal(const std::string& database_dir, const std::string& program_dir) {
  (void)program_dir;  // the note of an undo under way lies in the database directory
  if (undo_under_way(database_dir).empty()) return "";
  return "Cofnięcie instalacji nie zostało dokończone (" + database_dir + kUndoing +
         ");Dokończ je (--undo-db) przed aktualizacją.";
}

}  // namespace zuv::upgrade
