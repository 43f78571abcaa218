#include "upgrade/firm_dispatcher.h"

#include <utility>

#include "lib/files.h"
#include "lib/text.h"
#include "platform/base/discard.h"
#include "platform/os/files.h"
#include "platform/error/error.h"
#include "tables/catalogue.h"
#include "tables/table_access.h"
#include "upgrade/recovery.h"
#include "upgrade/report_text.h"

namespace zuv::upgrade {
namespace {

// Empties the backup directories unless the marker asks to keep them.
void clear_backup(const std::string& firm_dir) {
  if (os::file_exists(std::string_view(firm_dir + "bak\\w51.txt"))) return;
  base::let_go(lib::DEL_KAT(firm_dir + "bak\\k\\", "*.*"), "the suite's own backup directory; the steps do not read it");
  base::let_go(lib::DEL_KAT(firm_dir + "bak\\", "*.*"), "the suite's own backup directory; the steps do not read it");
}

void write_firm_report(const std::string& firm_dir, const std::vector<std::string>& terr) {
  std::string text = report_line_bytes(report_stamp() + "     Raport z przetwarzania danych");
  text += report_line_bytes(std::string(50, '-'));
  for (const std::string& line : terr) text += report_line_bytes(line, true);
  const std::string path = firm_dir + "ins_raport.txt";
  if (!replace_file_with(path, text))
    firm_error(gencode::kWrite, 0, "Nie można zapisać raportu firmy", path, "MAKE_WINFIR");
}

}  // namespace

[[noreturn]] void firm_error(int gen_code, int os_code, const std::string& description, const std::string& file,
                             const std::string& operation) {
  ErrorRecord r;
  r.genCode = gen_code;
  r.osCode = os_code;
  r.subSystem = "ZUVINST";
  r.description = description;
  r.fileName = file;
  r.operation = operation;
  r.canDefault = true;
  raise_error(r);
  throw Break(r);
}

bool valid_data_version(const std::string& v) {
  if (v.size() != 10 || v[3] != '.' || v[6] != '.') return false;
  for (size_t i = 0; i < v.size(); ++i)
    if (i != 3 && i != 6 && (v[i] < '0' || v[i] > '9')) return false;
  return true;
}

std::string firm_version_fault(const std::string& recorded_version) {
  if (recorded_version.empty()) return "Brak wersji danych firmy w pliku wersja.dbf";
  if (!valid_data_version(recorded_version))
    return "Nieprawidłowa wersja danych firmy w pliku wersja.dbf: \"" + recorded_version + "\"";
  return "";
}

FirmPlan plan_firm(const std::string& recorded_version, const std::string& database_version,
                   const std::string& wersja_b, std::span<const steps::FirmStep> firm_steps, bool began) {
  FirmPlan p;
  p.processed = true;
  p.recorded_version = recorded_version;
  p.version = recorded_version;
  if (!began && database_version >= kOldestKeptFirmVersion && p.version < kOldestKeptFirmVersion) {
    p.version = database_version;
    p.version_rewritten = true;
  }
  if (p.version >= wersja_b) {
    p.current = true;
    return p;
  }
  // Every row is compared with the version read at the start, not with what earlier
  // steps of this run wrote.
  for (const steps::FirmStep& s : firm_steps)
    if (p.version < s.version) p.steps.emplace_back(s.name);
  p.full_reindex = p.version < kFullReindexBelow;
  return p;
}

std::string missing_core_file(const std::string& firm_dir) {
  for (const char* name : {"wersja.dbf", "firma.dbf", "ks_dok.dbf"})
    if (!os::file_exists(std::string_view(firm_dir + name))) return name;
  return "";
}

bool firm_has_core_files(const std::string& firm_dir) { return missing_core_file(firm_dir).empty(); }

std::unique_ptr<table::Table> open_read_only(const std::string& path, const table::Settings& settings) {
  table::OpenOptions o;
  o.path = path;
  o.shared = true;
  o.read_only = true;
  auto t = table::Table::open(o);
  if (t) t->set_settings(&settings);
  return t;
}

std::string record_text(table::Table& t, const char* name) {
  const int f = t.field_index(name);
  return f < 0 || t.eof() ? "" : lib::trim(t.get(f).text);
}

std::optional<std::string> read_recorded_version(table::WorkAreas& areas, const std::string& directory) {
  std::optional<std::string> version;
  tables::guarded([&] {
    auto t = open_read_only(directory + "wersja.dbf", areas.settings());
    if (!t) return false;
    t->go_top();
    if (!t->eof()) version = record_text(*t, "baza");
    return true;
  });
  return version;
}

RegisterRead read_register(table::WorkAreas& areas, const std::string& database_dir, std::vector<double>& numbers) {
  numbers.clear();
  RegisterRead answer = RegisterRead::Unreadable;
  table::Settings settings = areas.settings();
  settings.deleted_hidden = true;
  auto read = [&](table::Table& t) {
    const int f = t.field_index("nr");
    if (f < 0) return (answer = RegisterRead::NoNumberField), true;
    if (t.fields()[f].type != 'N') return (answer = RegisterRead::NumberNotNumeric), true;
    t.eval([&](table::Table& r) {
      numbers.push_back(r.get(f).number);
      return true;
    });
    answer = RegisterRead::Read;
    return true;
  };
  table::Table* open = areas.find("ins");
  const bool read_through = tables::guarded([&] {
    if (open) return read(*open);
    auto t = open_read_only(database_dir + "install.dbf", settings);
    return t && read(*t);
  });
  return read_through ? answer : RegisterRead::Unreadable;
}

void MAKE_WINFIR(const UpgradeEnv& env, steps::RunValues& values, const std::string& firm_dir,
                 const std::string& program_dir, std::string& error_text, const std::string& database_dir,
                 const std::string& database_version, const std::function<bool()>& brought_through,
                 std::function<void()>* finish_later) {
  (void)error_text;  // the driver's; the dispatcher leaves it as it is
  values.terr.clear();
  if (!firm_has_core_files(firm_dir)) return;
  // A step cut off by an earlier run is undone first; the version record then makes it
  // run again.
  const FirmRecovery recovered = recover_firm(firm_dir);

  // The firm's version, moved up to the database's when it predates the oldest kept one.
  if (!tables::OTWORZ(env.areas, firm_dir, "wersja.dbf", "wer"))
    firm_error(gencode::kOpen, 0, "Nie można otworzyć zapisu wersji firmy", firm_dir + "wersja.dbf", "OTWORZ");
  table::Table* wer = env.areas.current();
  std::string recorded = record_text(*wer, "baza");
  // A version that cannot be compared would take the firm for current, or run every step.
  if (const std::string fault = firm_version_fault(recorded); !fault.empty()) {
    tables::ZAMKNIJ(env.areas, "wer");
    firm_error(gencode::kCorrupt, 0, fault, firm_dir + "wersja.dbf", "MAKE_WINFIR");
  }
  FirmPlan plan = plan_firm(recorded, database_version, env.wersja_b, env.steps.firm, recovered.finish_pending);
  if (plan.version_rewritten) {
    if (wer->eof() && !wer->append())
      firm_error(gencode::kWrite, 0, "Nie można zapisać wersji firmy", firm_dir + "wersja.dbf", "DBAPPEND");
    if (!wer->put("baza", table::Value::of_text(plan.version)) || !wer->commit())
      firm_error(gencode::kWrite, 0, "Nie można zapisać wersji firmy", firm_dir + "wersja.dbf", "REPLACE");
  }
  tables::ZAMKNIJ(env.areas, "wer");
  // A run cut off after the firm's last step still owes it the closing work below.
  const bool full_reindex = plan.full_reindex || recovered.reindex_pending;
  if (plan.current && !recovered.finish_pending) return;

  std::function<void()> put_on_disk;
  if (!plan.current) {
    mark_firm_started(firm_dir, full_reindex);
    base::let_go(lib::DEL_FILE(firm_dir + "ins_raport.txt"), "no step of this release writes a firm report; an old one names its own date");
    // The suite's own backup directories; the steps do not write into them.
    base::let_go(lib::MKDIR(firm_dir + "bak"), "an existing directory answers 183");
    base::let_go(lib::MKDIR(firm_dir + "bak\\k"), "an existing directory answers 183");
    clear_backup(firm_dir);

    steps::StepContext ctx{env.areas, env.release_dir, &values};
    std::vector<const steps::FirmStep*> due;
    for (const steps::FirmStep& s : env.steps.firm)
      if (plan.version < s.version && !recovered.completed_steps.count(std::string(s.name))) due.push_back(&s);
    auto run = [&](const steps::FirmStep& s) {
      env.run_step(s.name, [&] { s.run(ctx, firm_dir, program_dir, database_dir, plan.version); });
    };
    if (env.undo_kept)
      put_on_disk = run_firm_steps_recoverably(env.areas, firm_dir, due, run);
    else
      for (const steps::FirmStep* s : due) run(*s);

    if (!values.terr.empty()) write_firm_report(firm_dir, values.terr);
  }
  clear_backup(firm_dir);

  if (full_reindex) {
    // The rebuild starts from the steps' result on the disk: a cut inside it then leaves
    // the rebuild to the firm's note, while undoing the steps would meet half-built
    // indexes of tables the steps never kept.
    if (put_on_disk) std::exchange(put_on_disk, nullptr)();
    for (const char* mask : {"*.cdx", "*.ntx", "rob*.*", "a*.*"}) base::let_go(lib::DEL_KAT(firm_dir, mask), "each index build deletes its own file first; leftover work files are never read");
    env.run_step("INDEKSUJ", [&] { tables::INDEKSUJ(env.areas, firm_dir); });
    if (env.speed) env.speed->raise_to(5);
  }
  // The firm is done once its steps' result is on the disk; the notes go after that.
  auto finish = [put_on_disk, brought_through, firm_dir] {
    if (put_on_disk) put_on_disk();
    if (brought_through && !brought_through()) return;
    mark_firm_finished(firm_dir);
  };
  if (finish_later)
    *finish_later = finish;
  else
    finish();
}

}  // namespace zuv::upgrade
