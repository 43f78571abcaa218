#include "upgrade/verified_finish.h"

#include <algorithm>
#include <cmath>

#include "lib/text.h"
#include "platform/os/clock.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "platform/table/index_check.h"
#include "upgrade/firm_records.h"
#include "upgrade/recovery.h"
#include "upgrade/run_note.h"

namespace zuv::upgrade {
namespace {

// The first structure fault among the tables of dir written since the stamp; held: a
// table the run keeps open for itself (the checker's open would meet its lock).
std::string written_table_fault(const std::string& dir, const std::string& since, const char* held = "") {
  for (const os::DirEntry& e : os::list_directory(dir + "*.dbf", "HS")) {
    if (e.date + " " + e.time < since || lib::lower_ascii(e.name) == held) continue;
    const std::string fault = table::table_structure_fault(os::native_path(dir + e.name));
    if (!fault.empty()) return fault;
  }
  return "";
}

}  // namespace

std::string run_stamp_now() { return os::today_dtos() + " " + os::time_of_day(); }

std::string verify_finish(const UpgradeEnv& env, const std::string& database_dir, const std::string& since,
                          const std::vector<long long>& failed,
                          const std::function<void(double nr, const std::string& reason)>& fail_firm) {
  std::vector<double> numbers;
  const bool readable = read_register(env.areas, database_dir, numbers) == RegisterRead::Read;
  if (!readable) return "nie można odczytać rejestru firm " + database_dir + "install.dbf";

  for (double nr : numbers) {
    if (std::find(failed.begin(), failed.end(), std::llround(nr)) != failed.end()) continue;
    const std::string firm_dir = firm_directory(database_dir, nr);
    if (!firm_has_core_files(firm_dir)) continue;
    const std::string version = read_recorded_version(env.areas, firm_dir).value_or("");
    if (!firm_brought_through(version, env.steps.firm)) {
      fail_firm(nr, "Firma nie osiągnęła wersji " + env.wersja_b + " (wersja.dbf: \"" + version + "\")");
      continue;
    }
    if (const std::string fault = written_table_fault(firm_dir, since); !fault.empty())
      fail_firm(nr, "Tabela firmy nie przeszła sprawdzenia: " + fault);
  }
  // The register and the semaphore are the run's own for its whole length.
  const std::pair<const char*, const char*> shared[] = {{"", "install.dbf"}, {"str\\", "nazwy.dbf"}, {"public\\", ""}};
  for (const auto& [sub, held] : shared)
    if (const std::string fault = written_table_fault(database_dir + sub, since, held); !fault.empty())
      return "tabela bazy danych nie przeszła sprawdzenia: " + fault;
  return "";
}

}  // namespace zuv::upgrade
