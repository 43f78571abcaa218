#include "upgrade/checked_start.h"
#include "upgrade/undo_area.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

#include "lib/text.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "platform/table/index_check.h"
#include "platform/table/table.h"
#include "tables/table_access.h"
#include "upgrade/firm_records.h"
#include "upgrade/recovery.h"
#include "upgrade/run_note.h"
#include "upgrade/upgrade_driver.h"

namespace zuv::upgrade {
namespace {

bool here(const std::string& path) { return os::file_exists(std::string_view(path)); }

bool is_table(const std::string& name) {
  return name.size() > 4 && lib::lower_ascii(name.substr(name.size() - 4)) == ".dbf";
}

// A read-only, shared open of a table in which deleted records are hidden.
std::unique_ptr<table::Table> open_to_read(const UpgradeEnv& env, const std::string& path,
                                           table::Settings& settings) {
  settings = env.areas.settings();
  settings.deleted_hidden = true;
  std::unique_ptr<table::Table> t;
  tables::guarded([&] { return (t = open_read_only(path, settings)) != nullptr; });
  return t;
}

// The release is the current directory's: every file the run copies or reads from it is
// there and each of its tables is whole.
std::string check_release(const UpgradeEnv& env) {
  std::vector<std::string> files = {"wb.dbf", "str\\nazwy.dbf"};
  if (env.steps.release_files)
    for (const std::string& f : *env.steps.release_files)
      if (std::find(files.begin(), files.end(), f) == files.end()) files.push_back(f);
  const std::string heading = "Katalog " + env.release_dir + " nie jest katalogiem wydania " + env.wersja_p + ";";
  for (const std::string& f : files) {
    const std::string path = env.release_dir + f;
    if (!here(path)) return heading + "brak pliku " + path;
    if (!is_table(f)) continue;
    if (const std::string fault = table::table_structure_fault(os::native_path(path)); !fault.empty())
      return heading + "uszkodzony plik " + path + ";" + fault;
  }
  table::Settings settings;
  auto wb = open_to_read(env, env.release_dir + "wb.dbf", settings);
  if (!wb) return heading + "nie można otworzyć pliku " + env.release_dir + "wb.dbf";
  wb->go_top();
  const std::string version = record_text(*wb, "baza");
  if (version != env.wersja_b)
    return heading + "plik " + env.release_dir + "wb.dbf podaje wersję bazy \"" + version + "\" zamiast " +
           env.wersja_b;
  return "";
}

std::string missing_of(const std::string& dir, std::initializer_list<const char*> names) {
  for (const char* name : names)
    if (!here(dir + name)) return dir + name;
  return "";
}

// Nobody holds the semaphore: opened exclusively for a moment and let go, read-only.
bool semaphore_free(const std::string& database_dir) {
  const std::string semaphore = database_dir + "str\\nazwy.dbf";
  if (!here(semaphore)) return true;
  return tables::guarded([&] {
    table::OpenOptions o;
    o.path = semaphore;
    o.shared = false;
    o.read_only = true;
    return table::Table::open(o) != nullptr;
  });
}

// newer: whether a database newer than the release is refused here (the first
// installation refuses it in its own words, before any change).
std::string check_database_version(const UpgradeEnv& env, const std::string& database_dir, bool newer) {
  table::Settings settings;
  const std::string path = database_dir + "wersja.dbf";
  auto t = open_to_read(env, path, settings);
  if (!t) return "Nie można otworzyć pliku;" + path;
  t->go_top();
  const std::string version = record_text(*t, "baza");
  if (!valid_data_version(version))
    return "Nieprawidłowa wersja bazy danych w pliku " + path + ":;\"" + version + "\" (oczekiwana postać 026.01.016)";
  if (newer && version > env.wersja_b)
    return "Bieżąca wersja Bazy jest większa od wymaganej przez program;Zainstaluj nowszą wersję programu!;minimum " +
           record_text(*t, "zuv");
  return "";
}

// The register opens, numbers its firms and names none twice; numbers gets them.
std::string check_register(const UpgradeEnv& env, const std::string& database_dir, std::vector<long long>& numbers) {
  const std::string path = database_dir + "install.dbf";
  std::vector<double> read;
  switch (read_register(env.areas, database_dir, read)) {
    case RegisterRead::Unreadable: return register_unreadable_message();
    case RegisterRead::NoNumberField: return "Rejestr firm " + path + " nie ma pola NR";
    case RegisterRead::NumberNotNumeric: return "Rejestr firm " + path + ":;pole NR nie jest liczbą";
    case RegisterRead::Read: break;
  }
  if (read.empty()) return kMsgNoFirms;
  std::set<long long> seen;
  for (double nr : read) {
    numbers.push_back(std::llround(nr));
    if (!seen.insert(numbers.back()).second)
      return "Rejestr firm " + path + " zawiera dwa razy firmę nr " + std::to_string(numbers.back()) +
             ";Usuń powtórzony zapis i spróbuj jeszcze raz";
  }
  return "";
}

std::uint64_t directory_bytes(const std::string& dir) {
  std::uint64_t sum = 0;
  for (const os::DirEntry& e : os::list_directory(dir + "*.*", "HS")) sum += e.size;
  return sum;
}

// The copies kept while firms are converted: at most the largest firm directories that
// are converted at once, with a tenth to spare.
std::string check_disk_room(const UpgradeEnv& env, const std::string& database_dir,
                            const std::vector<long long>& numbers) {
  std::vector<std::uint64_t> sizes;
  for (long long nr : numbers) {
    const std::string dir = firm_directory(database_dir, static_cast<double>(nr));
    if (!firm_has_core_files(dir)) continue;
    const std::string version = read_recorded_version(env.areas, dir).value_or("");
    if (!version.empty() && version >= env.wersja_b && !peek_firm_recovery(dir).finish_pending) continue;
    sizes.push_back(directory_bytes(dir));
  }
  std::sort(sizes.rbegin(), sizes.rend());
  std::uint64_t needed = 0, all = 0;
  for (size_t i = 0; i < sizes.size() && i < static_cast<size_t>(std::max(1, env.workers)); ++i) needed += sizes[i];
  for (std::uint64_t size : sizes) all += size;
  needed += needed / 10;
  // The undo keeps every file the steps change as it was, and they change nearly all of
  // a firm's: the old bytes stay on the disk beside the new ones (measured: 4.2 GB kept
  // for the 4.3 GB of the 100-firm sample).
  if (env.keep_undo) needed += all;
  const os::Result<std::uint64_t> free = os::free_disk_space(database_dir);
  if (!free || free.value >= needed) return "";
  auto mb = [](std::uint64_t b) { return std::to_string((b + (1 << 20) - 1) >> 20); };
  return "Za mało miejsca na dysku bazy danych " + database_dir + ";potrzeba około " + mb(needed) + " MB, wolne " +
         mb(free.value) + " MB";
}

}  // namespace

std::string check_start(const UpgradeEnv& env, const std::string& database_dir, const std::string& program_dir,
                        StartKind kind) {
  if (std::string fault = check_release(env); !fault.empty()) return fault;
  if (kind == StartKind::NewDatabase) return "";

  if (!os::directory_exists(std::string_view(database_dir))) return "Katalog bazy danych " + database_dir + " nie istnieje";
  if (std::string half_done = undo_half_done_refusal(database_dir, program_dir); !half_done.empty()) return half_done;
  if (const std::string missing =
          missing_of(database_dir, {"wersja.dbf", "install.dbf", "semafor.dbf", "str\\ks_dok.dbf"});
      !missing.empty())
    return "Katalog " + database_dir + " nie jest katalogiem bazy danych ZUV:;brak pliku " + missing;
  if (kind == StartKind::Upgrade && !program_dir.empty()) {
    if (const std::string missing = missing_of(program_dir, {"wersja.dbf", "baza.dbf"}); !missing.empty())
      return "Katalog " + program_dir + " nie jest katalogiem programu ZUV:;brak pliku " + missing;
  }
  if (!semaphore_free(database_dir)) return kMsgOthersWorking;
  if (std::string fault = check_database_version(env, database_dir, kind == StartKind::Upgrade); !fault.empty())
    return fault;
  std::vector<long long> numbers;
  if (std::string fault = check_register(env, database_dir, numbers); !fault.empty()) return fault;
  return check_disk_room(env, database_dir, numbers);
}

}  // namespace zuv::upgrade
