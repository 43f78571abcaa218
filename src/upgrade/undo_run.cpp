// The undo itself: the comparison with the fingerprint, then the kept files put back.
#include <algorithm>
#include <cstdio>

#include "platform/base/discard.h"
#include "platform/base/text.h"
#include "platform/os/durable.h"
#include "platform/os/file_handle.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "platform/os/programs.h"
#include "upgrade/recovery_files.h"
#include "upgrade/undo_area.h"
#include "upgrade/undo_files.h"
#include "upgrade/undo_registry.h"

namespace zuv::upgrade {
namespace {

using namespace undo;

struct Tree {
  std::string dir, other, area;
  UndoAreaInfo info;
};

std::string megabytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

// "" when the tree is as the run left it; else the operator's words on its first difference.
std::string first_difference(const Tree& t) {
  std::vector<TreeEntry> then;
  if (!os::file_exists(std::string_view(t.area + kFingerprint)))
    return "Ostatnia instalacja wydania nie dobiegła końca (" + t.dir + ");Uruchom ją ponownie albo przywróć kopię.";
  os::Result<std::string> text = os::read_whole_file(os::native_path(t.area + kFingerprint), std::size_t(1) << 30);
  if (!text || !read_fingerprint(text.value, then)) return "Uszkodzony zapis stanu po instalacji: " + t.area + kFingerprint;
  TreeWalk now = walk_tree(t.dir, skipped_in(t.dir, t.other), true);
  if (!now.ok) return "Nie można odczytać pliku " + now.failed + ";Cofnięcie instalacji niemożliwe.";
  const std::string tail = ";Od instalacji ktoś pracował na danych: cofnięcie niemożliwe.";
  auto said = [&](const char* file_word, const char* dir_word, const TreeEntry& e) {
    return std::string(e.directory ? dir_word : file_word) + " " + t.dir + e.rel + tail;
  };
  size_t i = 0;
  for (; i < then.size() && i < now.entries.size(); ++i) {
    const TreeEntry &a = then[i], &b = now.entries[i];
    if (a == b) continue;
    if (a.rel == b.rel) return said("Zmieniony plik", "Zmieniony katalog", a);
    // Both lists are in the same order: the one that comes first is the odd one.
    const bool still_there = std::any_of(now.entries.begin() + i, now.entries.end(),
                                         [&](const TreeEntry& e) { return e.rel == a.rel; });
    return still_there ? said("Nowy plik", "Nowy katalog", b) : said("Brak pliku", "Brak katalogu", a);
  }
  if (i < then.size()) return said("Brak pliku", "Brak katalogu", then[i]);
  if (i < now.entries.size()) return said("Nowy plik", "Nowy katalog", now.entries[i]);
  return "";
}

// Puts back one tree from its area. Each kept file is renamed into place, so a rerun
// after a cut finds only what is still to do.
// The kept bytes renamed over their path and the rename on the disk. Unlike a replace,
// a failed rename leaves the kept file where it is, for the next run to put back.
bool rename_back(const std::string& kept_bytes, const std::string& target) {
  const std::string to = os::native_path(target);
  return os::detail::rename_told(os::native_path(kept_bytes), to) == 0 && os::sync_directory_of(to).ok();
}

// One kept file back in place, when it is still to go back.
std::string restore_file(const Tree& t, const std::string& rel) {
  const std::string kept_bytes = t.area + kKept + rel;
  if (!os::file_exists(std::string_view(kept_bytes))) return "";
  const size_t slash = rel.rfind('\\');
  if (slash != std::string::npos && !make_directories(t.dir, rel.substr(0, slash + 1)))
    return "Nie można odtworzyć katalogu pliku " + t.dir + rel;
  if (!rename_back(kept_bytes, t.dir + rel))
    return "Nie można przywrócić pliku " + t.dir + rel;
  return "";
}

std::string restore_tree(const Tree& t, const std::string& later) {
  // The list goes first when the area is removed: an undo without it has put back all.
  if (!os::file_exists(std::string_view(t.area + kDirsFile))) return "";
  os::Result<std::string> dirs = os::read_whole_file(os::native_path(t.area + kDirsFile), std::size_t(1) << 30);
  if (!dirs) return "Nie można odczytać pliku " + t.area + kDirsFile;
  std::set<std::string> before;
  for (const std::string& d : kept::lines_of(dirs.value)) {
    before.insert(base::lower_ascii(d));
    if (!make_directories(t.dir, d)) return "Nie można odtworzyć katalogu " + t.dir + d;
  }
  for (const TreeEntry& e : walk_tree(t.area + kKept, {}, false).entries)
    if (!e.directory && !base::iequals_ascii(e.rel, later))
      if (std::string why = restore_file(t, e.rel); !why.empty()) return why;
  for (const TreeEntry& e : walk_tree(t.area + kAbsent, {}, false).entries)
    if (!e.directory && !kept::remove_synced(t.dir + e.rel)) return "Nie można usunąć pliku " + t.dir + e.rel;
  // Directories the installation made go, deepest first; they are empty by now.
  std::vector<TreeEntry> now = walk_tree(t.dir, skipped_in(t.dir, t.other), false).entries;
  for (auto it = now.rbegin(); it != now.rend(); ++it)
    if (it->directory && !before.count(base::lower_ascii(it->rel))) {
      const std::string dir = t.dir + it->rel.substr(0, it->rel.size() - 1);
      if (!os::remove_directory(dir).ok() || !kept::sync_directory_of(dir))
        return "Nie można usunąć katalogu " + dir + " utworzonego przez instalację";
    }
  return "";
}

// The files kept from outside the trees (shortcuts), each back under its own path.
std::string restore_outside(const std::string& area) {
  const std::string dir = area + kOutside;
  for (const os::DirEntry& e : os::list_directory(dir + "*.txt", "HS")) {
    std::string path;
    if (!kept::read_small_file(dir + e.name, path) || path.empty()) continue;
    const std::string id = dir + e.name.substr(0, e.name.size() - 4);
    bool ok = true;
    if (os::file_exists(std::string_view(id + ".lnk")))
      ok = rename_back(id + ".lnk", path);
    else if (os::file_exists(std::string_view(id + ".brak")) && os::native_file_exists(path))
      ok = os::remove_file(path) == 0 && os::sync_directory_of(path).ok();
    if (!ok) return "Nie można przywrócić pliku " + path;
  }
  return "";
}

// The area goes once everything is back: the list of directories first (a rerun then
// knows that nothing is left to put back), its note of an undo under way last.
// Forgotten instead, the release file goes first: an area without it holds nothing to undo.
std::string remove_area(const std::string& area, bool undone) {
  if (!os::directory_exists(std::string_view(area))) return "";
  const char* first = undone ? kDirsFile : kReleaseFile;
  if (!kept::remove_synced(area + first)) return "Nie można usunąć pliku " + area + first;
  for (const char* sub : {kKept, kAbsent, kTemp, kOutside}) {
    const std::string dir = area + sub;
    if (os::directory_exists(std::string_view(dir)) && !os::remove_tree(dir.substr(0, dir.size() - 1)).ok())
      return "Nie można usunąć katalogu " + dir;
  }
  for (const char* file : {kFingerprint, kDirsFile, kRegistryFile, kReleaseFile})
    if (!kept::remove_synced(area + file)) return "Nie można usunąć pliku " + area + file;
  if (!os::remove_tree(area.substr(0, area.size() - 1)).ok() || !kept::sync_directory_of(area.substr(0, area.size() - 1)))
    return "Nie można usunąć katalogu " + area;
  return "";
}

std::vector<Tree> trees_of(const std::string& database_dir, const std::string& program_dir) {
  std::vector<Tree> trees{{database_dir, program_dir, database_dir + kUndoDir, {}}};
  if (!program_dir.empty() && !base::iequals_ascii(program_dir, database_dir))
    trees.push_back({program_dir, database_dir, program_dir + kUndoDir, {}});
  for (Tree& t : trees) t.info = read_undo_area(t.area);
  return trees;
}

// The database's semaphore, held as the suite's programs and the upgrade hold it.
class SemaphoreHold {
 public:
  explicit SemaphoreHold(const std::string& database_dir) : path_(database_dir + relative()) {}
  static std::string relative() { return "str\\nazwy.dbf"; }
  bool take() {
    if (!os::file_exists(std::string_view(path_))) return true;
    return file_.open(os::native_path(path_), os::Access::Read, os::Share::Exclusive) == 0;
  }
  void let_go() { file_.close(); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  os::FileHandle file_;
};

}  // namespace

UndoResult undo_installation(const std::string& database_dir, const std::string& program_dir,
                             const std::string& release, bool plan) {
  std::vector<Tree> trees = trees_of(database_dir, program_dir);
  const Tree& db = trees.front();
  const std::string under_way = undo_under_way(database_dir);
  const bool half_done = !under_way.empty();
  const std::string again = ";Uruchom cofnięcie ponownie, aby je dokończyć.";
  if (half_done) {
    if (under_way != release)
      return {kUndoRefused, "Trwa cofnięcie instalacji wydania " + under_way + ", nie " + release + "."};
  } else {
    if (!db.info.present)
      return {kUndoRefused, "W katalogu bazy " + database_dir + " nie ma zapisu instalacji do cofnięcia."};
    for (const Tree& t : trees) {
      if (t.info.present && t.info.release != release)
        return {kUndoRefused,
                "Zapis do cofnięcia w " + t.area + " dotyczy wydania " + t.info.release + ", nie " + release + "."};
      if (os::directory_exists(std::string_view(t.area)) &&
          (!t.info.present || !os::file_exists(std::string_view(t.area + kDirsFile))))
        return {kUndoRefused, "Niepełny zapis do cofnięcia w " + t.area + "."};
    }
    // An undo killed while its note was on its way in left that, and nothing else.
    const std::string note_beside = database_dir + kUndoing + os::kNewSuffix;
    if (os::file_exists(std::string_view(note_beside)) && !kept::remove_synced(note_beside))
      return {kUndoFailed, "Nie można usunąć pliku " + note_beside};
    // The comparison reads the semaphore too, so it comes before the hold.
    for (const Tree& t : trees)
      if (t.info.present)
        if (std::string why = first_difference(t); !why.empty()) return {kUndoRefused, why};
  }
  if (plan) {
    std::string text = half_done ? "Dokończenie przerwanego cofnięcia instalacji " + release + ".\n"
                                 : "Cofnięcie instalacji " + release + ":\n";
    for (const Tree& t : trees)
      if (t.info.present)
        text += "  " + t.dir + ": przywrócenie " + std::to_string(t.info.kept_files) + " plików (" +
                megabytes(t.info.kept_bytes) + "), usunięcie " + std::to_string(t.info.new_files) +
                " plików utworzonych przez instalację\n";
    return {kUndoDone, text};
  }
  SemaphoreHold hold(database_dir);
  if (!hold.take())
    return {kUndoRefused, "Z bazą danych " + database_dir + " pracują inne programy (" + hold.path() +
                              ");Zamknij je i spróbuj ponownie."};
  // From this note on, until it goes as the very last step, a rerun finishes the undo
  // without comparing: the trees are then part way back.
  if (!half_done && !kept::write_synced(database_dir + kUndoing, release + "\r\n"))
    return {kUndoFailed, "Nie można zapisać pliku " + database_dir + kUndoing};
  for (const Tree& t : trees) {
    if (!os::directory_exists(std::string_view(t.area))) continue;
    std::string why = restore_tree(t, t.dir == database_dir ? hold.relative() : "");
    if (why.empty()) why = restore_outside(t.area);
    if (why.empty()) why = restore_registry(t.area);
    if (!why.empty()) return {kUndoFailed, why + again};
  }
  // The semaphore's own kept bytes go back once it is let go (Windows renames nothing
  // over an open file).
  hold.let_go();
  if (std::string why = restore_file(db, hold.relative()); !why.empty()) return {kUndoFailed, why + again};
  for (const Tree& t : trees)
    if (std::string why = remove_area(t.area, true); !why.empty()) return {kUndoFailed, why + again};
  if (!kept::remove_synced(database_dir + kUndoing))
    return {kUndoFailed, "Nie można usunąć pliku " + database_dir + kUndoing + again};
  return {kUndoDone, "Instalacja " + release + " cofnięta: baza danych i program są takie jak przed nią."};
}

std::string forget_undo(const std::string& database_dir, const std::string& program_dir) {
  if (!undo_under_way(database_dir).empty())
    return "Cofnięcie instalacji nie zostało dokończone (" + database_dir + kUndoing +
           ");Dokończ je, zanim usuniesz zapis.";
  for (const std::string& dir : {database_dir, program_dir})
    if (!dir.empty())
      if (std::string why = remove_area(dir + kUndoDir, false); !why.empty()) return why;
  return "";
}

}  // namespace zuv::upgrade
