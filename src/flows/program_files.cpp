#include "flows/program_files.h"

#include "lib/files.h"
#include "platform/base/discard.h"
#include "platform/os/durable.h"
#include "platform/os/file_handle.h"
#include "platform/os/files.h"
#include "platform/os/names.h"
#include "platform/os/path.h"

namespace zuv::flows {

namespace {

// Beside each destination while the change is under way: the new file (os::kNewSuffix)
// before its swap, the old one after it until every file is in.
constexpr const char* kOldSuffix = ".zuvold";
constexpr unsigned kProtecting = os::kReadOnly | os::kHidden | os::kSystem;

void discard(const std::string& file) {
  if (!os::file_exists(file)) return;
  base::let_go(os::change_attributes(file, os::AttrChange{0, kProtecting}), "the delete below tells");
  base::let_go(os::delete_file(file), "a file left beside is cleared before its name is used again");
}

// A copy beside destination that is complete on the disk.
os::Status copy_synced(const std::string& from, const std::string& to) {
  discard(to);  // left by a run that was cut short
  os::Status st = os::copy_file(from, to);
  if (st && os::sync_file(os::native_path(to)) != 0) st = os::Status::failure(os::oscode::kIoError);
  return st;
}

std::string code_text(int code) { return " (kod błędu " + std::to_string(code) + ")"; }

}  // namespace

void ProgramFiles::add(const std::string& source, const std::string& destination) {
  files_.push_back({source, destination});
}

void ProgramFiles::needs_directory(std::string directory) {
  while (directory.size() > 1 && directory.back() == '\\') directory.pop_back();
  for (const std::string& d : directories_)
    if (os::upper_name(d) == os::upper_name(directory)) return;
  directories_.push_back(directory);
}

void ProgramFiles::add_directory(const std::string& source_dir, const std::string& destination_dir,
                                 const std::string& mask) {
  needs_directory(destination_dir);
  for (const os::DirEntry& e : os::list_directory(source_dir + mask, "HS"))
    add(source_dir + e.name, destination_dir + os::lower_name(e.name));
}

void ProgramFiles::add_tree(const std::string& source_dir, const std::string& destination_dir) {
  for (const os::DirEntry& e : os::list_directory(source_dir + "*.*", "DHS")) {
    if (e.name == "." || e.name == "..") continue;
    if (e.attributes.find('D') == std::string::npos) {
      add(source_dir + e.name, destination_dir + e.name);
      continue;
    }
    needs_directory(destination_dir + e.name);
    add_tree(source_dir + e.name + "\\", destination_dir + e.name + "\\");
  }
}

void ProgramFiles::add_release_program(const std::string& release_dir, const std::string& program_dir) {
  add_directory(release_dir, program_dir, "*.dll");
  add_directory(release_dir, program_dir, "*.exe");
  add_directory(release_dir + "czytaj.to\\", program_dir + "czytaj.to\\");
  add_directory(release_dir + "vistrel\\", program_dir + "vistrel\\");
  add_directory(release_dir + "mask\\", program_dir + "mask\\");
  add_tree(release_dir + "ksef\\", program_dir);
}

bool ProgramFiles::brings(const std::string& destination) const {
  const std::string wanted = os::upper_name(destination);
  for (const File& f : files_)
    if (os::upper_name(f.destination) == wanted) return true;
  return false;
}

std::string ProgramFiles::put_in_place() {
  std::vector<std::string> made;
  for (const std::string& dir : directories_) {
    if (os::directory_exists(dir)) continue;
    if (os::Status st = lib::MKDIR(dir); !st) {
      for (size_t j = made.size(); j-- > 0;)
        base::let_go(os::remove_directory(made[j]), "an empty directory left behind changes nothing");
      return "Nie można założyć katalogu;" + dir + code_text(st.code);
    }
    made.push_back(dir);
  }

  // Whatever this attempt left beside the destinations goes with it, and so do the
  // directories it made.
  auto clear_beside = [&] {
    for (const File& f : files_) {
      discard(f.destination + os::kNewSuffix);
      discard(f.destination + kOldSuffix);
    }
    for (size_t j = made.size(); j-- > 0;)
        base::let_go(os::remove_directory(made[j]), "an empty directory left behind changes nothing");
  };

  // 1. Every new file complete beside its place, every old one kept beside its own.
  std::vector<bool> had_old(files_.size(), false);
  for (size_t i = 0; i < files_.size(); ++i) {
    const File& f = files_[i];
    os::Status st = copy_synced(f.source, f.destination + os::kNewSuffix);
    if (!st) {
      clear_beside();
      return "Nie można skopiować pliku;" + f.source + ";do " + f.destination + code_text(st.code);
    }
    // A read-only file of the release would refuse the next upgrade's swap.
    base::let_go(os::change_attributes(f.destination + os::kNewSuffix, os::AttrChange{0, os::kReadOnly}),
                 "a read-only program file is cleared again by the next upgrade's swap");
    had_old[i] = os::file_exists(f.destination);
    if (had_old[i] && !(st = copy_synced(f.destination, f.destination + kOldSuffix))) {
      clear_beside();
      return "Nie można zachować kopii pliku;" + f.destination + code_text(st.code);
    }
  }

  // 2. The swaps. A file that will not be replaced puts the swapped ones back.
  for (size_t i = 0; i < files_.size(); ++i) {
    const File& f = files_[i];
    os::Status st = os::rename_durably(f.destination + os::kNewSuffix, f.destination);
    if (st) continue;
    // A directory that did not reach the disk failed after its rename: that file is in.
    const size_t swapped = st.text() == os::replace_step::kSyncDirectory ? i + 1 : i;
    std::string kept;
    bool unsynced = false;
    for (size_t j = swapped; j-- > 0;) {
      const File& back = files_[j];
      bool restored = had_old[j] ? os::rename_file(back.destination + kOldSuffix, back.destination).ok()
                                 : lib::DEL_FILE(back.destination).ok();
      if (!restored && had_old[j]) kept += ";" + back.destination + kOldSuffix;
      if (restored && !os::sync_directory_of(os::native_path(back.destination))) unsynced = true;
    }
    for (size_t j = i; j < files_.size(); ++j) discard(files_[j].destination + os::kNewSuffix);
    for (size_t j = 0; j < files_.size(); ++j)
      if (kept.find(files_[j].destination + kOldSuffix) == std::string::npos)
        discard(files_[j].destination + kOldSuffix);
    for (size_t j = made.size(); j-- > 0;)
        base::let_go(os::remove_directory(made[j]), "an empty directory left behind changes nothing");
    std::string text = "Nie można zastąpić pliku;" + f.destination +
                       ";(plik jest otwarty na innym stanowisku lub tylko do odczytu)" + code_text(st.code);
    if (!kept.empty()) text += ";Poprzednie wersje plików pozostały jako:" + kept;
    if (unsynced) text += ";Przywrócenie poprzednich plików mogło nie zostać zapisane na dysku.";
    return text;
  }

  // 3. Every file is in: the old ones are no longer needed.
  for (const File& f : files_) discard(f.destination + kOldSuffix);
  return "";
}

void remove_contents(const std::string& directory) {
  for (const os::DirEntry& e : os::list_directory(directory + "*.*", "DHS")) {
    if (e.name == "." || e.name == "..") continue;
    const std::string path = directory + e.name;
    if (e.attributes.find('D') != std::string::npos) {
      remove_contents(path + "\\");
      base::let_go(os::change_attributes(path, os::AttrChange{0, kProtecting}), "the removal below tells");
      base::let_go(os::remove_directory(path), "what stays fails the next attempt's check of an empty directory");
    } else {
      base::let_go(lib::DEL_FILE(path), "what stays fails the next attempt's check of an empty directory");
    }
  }
}

}  // namespace zuv::flows
