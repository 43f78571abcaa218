#include "upgrade/firm_lifecycle.h"

#include <cmath>
#include <utility>

#include "lib/files.h"
#include "platform/base/discard.h"
#include "platform/error/error.h"
#include "platform/os/file_handle.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "sys/errorsys.h"
#include "tables/catalogue.h"
#include "tables/table_access.h"
#include "upgrade/firm_records.h"
#include "upgrade/recovery.h"
#include "upgrade/report_text.h"

namespace zuv::upgrade {
namespace {

// A directory's entries brought to the disk, or the firm fails.
void sync_or_fail(const std::string& dir, const char* description, const char* operation) {
  if (int rc = os::sync_directory(os::native_path(dir)))
    firm_error(gencode::kWrite, rc, description, dir, operation);
}

// Empties the backup directories unless the marker asks to keep them.
void clear_backup(const std::string& firm_dir) {
  if (os::file_exists(std::string_view(firm_dir + "bak\\w51.txt"))) return;
  base::let_go(lib::DEL_KAT(firm_dir + "bak\\k\\", "*.*"), "the suite's own backup directory; the steps do not read it");
  base::let_go(lib::DEL_KAT(firm_dir + "bak\\", "*.*"), "the suite's own backup directory; the steps do not read it");
  // The firm counts as done after this: what was removed must not come back after a
  // power cut.
  for (const std::string& dir : {firm_dir + "bak\\k", firm_dir + "bak"})
    if (os::directory_exists(std::string_view(dir)))
      sync_or_fail(dir, "Nie można zapisać na dysku katalogu kopii firmy", "ZAPISZ");
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
    // The rebuild deleted retired tables, old indexes and work files: before the firm's
    // note goes, none of them may come back after a power cut.
    sync_or_fail(firm_dir, "Nie można zapisać na dysku katalogu firmy", "INDEKSUJ");
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

long long FirmTurn::number() const { return std::llround(nr); }

std::string FirmTurn::skipped_line() const {
  return missing.empty() ? "" : "Firma nr: " + std::to_string(number()) + " pominięta: brak pliku " + missing;
}

FirmTurn firm_turn(const UpgradeEnv& env, const RunNote& note, const std::string& database_dir, double nr) {
  FirmTurn turn;
  turn.nr = nr;
  turn.dir = firm_directory(database_dir, nr);
  turn.missing = missing_core_file(turn.dir);
  // The version record is read only for a firm the note lists.
  turn.brought_through =
      turn.missing.empty() && note.finished.count(turn.number()) != 0 && listed_as_brought_through(note, turn.number(),
                                                        read_recorded_version(env.areas, turn.dir).value_or(""),
                                                        env.steps.firm);
  return turn;
}

std::optional<std::string> trapped_error(const std::string& firm_dir, const std::function<void()>& work) {
  std::optional<ErrorRecord> failure;
  try {
    GuardedBlock trap;
    work();
  } catch (const Break& b) {
    failure = b.record;
  } catch (const std::exception& e) {
    ErrorRecord r;
    r.subSystem = "ZUVINST";
    r.description = e.what();
    r.fileName = firm_dir;
    failure = r;
  }
  return failure ? std::optional<std::string>(sys::ERR_PIS(*failure)) : std::nullopt;
}

void carry_firm(const UpgradeEnv& env, steps::RunValues& values, const FirmTurn& turn, const std::string& program_dir,
                std::string& error_text, const std::string& database_dir, const std::string& database_version,
                RunNote& note, std::function<void()>& finish) {
  if (!turn.missing.empty()) return;
  // A firm a cut-off run brought through is as the clean run leaves it; only its note
  // may be left, when the cut came before the note went.
  if (turn.brought_through) return mark_firm_finished(turn.dir);
  const long long number = turn.number();
  MAKE_WINFIR(env, values, turn.dir, program_dir, error_text, database_dir, database_version,
              [&note, &database_dir, number] { return note_firm_finished(database_dir, note, number); }, &finish);
}

bool carry_firm_in_worker(const UpgradeEnv& env, steps::RunValues& values, const FirmTurn& turn,
                          const std::string& worker_dir, std::string& error_text, const std::string& database_version) {
  // The worker's directory stands for both the program's and the database's: the run's
  // notes are the parent's, made when it settles the firm.
  bool done = false;
  MAKE_WINFIR(env, values, turn.dir, worker_dir, error_text, worker_dir, database_version, [&] {
    done = true;
    return false;
  });
  return done;
}

void firm_done_elsewhere(const std::string& database_dir, RunNote& note, const FirmTurn& turn) {
  if (note_firm_finished(database_dir, note, turn.number())) mark_firm_finished(turn.dir);
}

}  // namespace zuv::upgrade
