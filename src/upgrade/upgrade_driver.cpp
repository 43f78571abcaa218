#include "upgrade/upgrade_driver.h"

#include <cmath>
#include <cstdio>
#include <deque>

#include "lib/files.h"
#include "lib/text.h"
#include "platform/base/discard.h"
#include "platform/os/child_work.h"
#include "platform/os/codepage.h"
#include "platform/os/file_handle.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "platform/error/error.h"
#include "sys/errorsys.h"
#include "steps/step_routines.h"
#include "tables/table_access.h"
#include "ui/alarm.h"
#include "ui/licznik.h"
#include "upgrade/firm_dispatcher.h"
#include "upgrade/recovery.h"
#include "upgrade/report_text.h"
#include "upgrade/shared_indexes.h"
#include "upgrade/time_estimate.h"
#include "upgrade/verified_finish.h"

namespace zuv::upgrade {
namespace {

std::string number_text(double nr) { return std::to_string(std::llround(nr)); }

std::string strzero4(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d", n);
  return buf;
}

double field_number(table::Table& t, const char* name) {
  int f = t.field_index(name);
  return f < 0 ? 0 : t.get(f).number;
}

// Step 2: the workstation name the operator fixed for this program directory.
void read_workstation_name(const UpgradeEnv& env, const std::string& program_dir) {
  if (!env.nazwa_sieciowa) return;
  const std::string cfg = program_dir + "setings\\ns.cfg";
  if (!os::file_exists(std::string_view(cfg))) return;
  // MEMOREAD: the whole file, written by the operator in the ANSI code page.
  os::Result<std::uint64_t> size = os::file_size(cfg);
  if (!size || size.value > 65536) return;
  std::string text(size.value, '\0');
  os::FileHandle h;
  if (h.open(os::native_path(cfg), os::Access::Read, os::Share::Shared) != 0) return;
  std::size_t got = 0;
  if (!text.empty() && h.read_at(0, text.data(), text.size(), got) != 0) return;
  text.resize(got);
  text = os::utf8_from_1250(text);
  if (lib::trim(text).empty()) return;
  *env.nazwa_sieciowa = lib::trim(lib::TOKEN(text, 1));
}

// Step 5: the reference tables of the release replace the database's.
void refresh_reference_files(const UpgradeEnv& env, const std::string& database_dir) {
  const std::string from = env.release_dir + "str\\";
  const std::string to = database_dir + "str\\";
  // A file the release does not carry cannot be copied; it is not waited for either. One
  // it carries must arrive: the steps would read the old one.
  auto copy = [&](const std::string& name) {
    if (os::file_exists(std::string_view(from + name)) && !lib::FCOPY(from + name, to + name))
      firm_error(gencode::kCreate, 0, "Nie można skopiować pliku wydania", to + name, "FCOPY");
  };
  for (const std::string& name : reference_files()) copy(name);
  base::let_go(lib::DEL_FILE(to + "euro.cdx"), "the rate index is built anew, its own file deleted first");
  base::let_go(lib::DEL_FILE(to + "ebc_euro.cdx"), "the rate index is built anew, its own file deleted first");
  copy("rcx.acc");
}

// Sets `ok` of the database's version record (or of another one-record table of the
// database directory) under a record lock; false when the record could not be opened
// or locked.
bool set_finished_flag(const UpgradeEnv& env, const std::string& database_dir, const char* value,
                       const char* table = "wersja.dbf") {
  if (!tables::S_OTWORZ(env.areas, database_dir, table, "wer")) return false;
  bool done = false;
  if (tables::REK_LOCK(env.areas)) {
    done = tables::guarded([&] {
      table::Table* t = env.areas.current();
      bool ok = t->put("ok", table::Value::of_text(value)) && t->commit();
      t->unlock();
      return ok;
    });
  }
  tables::ZAMKNIJ(env.areas, "wer");
  return done;
}

std::string build_kraje_ue(const UpgradeEnv& env, const std::string& database_dir) {
  std::string list = ",";
  if (!tables::OTWORZ(env.areas, database_dir + "str\\", "ue.dbf", "ue")) return list;
  tables::guarded([&] {
    table::Table* t = env.areas.current();
    int f = t->field_index("kod");
    if (f < 0) return false;
    t->eval([&](table::Table& r) {
      list += lib::trim(r.get(f).text) + ",";
      return true;
    });
    return true;
  });
  tables::ZAMKNIJ(env.areas, "ue");
  return list;
}

// Step 16.3: "(0001):" + the firm's short name, or the directory name when the firm
// cannot be opened.
std::string firm_label(const UpgradeEnv& env, const std::string& firm_dir, int counter, double nr) {
  std::string label = "Firma" + number_text(nr) + "\\";
  if (tables::OTWORZ(env.areas, firm_dir, "firma.dbf", "fir")) {
    tables::guarded([&] {
      table::Table* t = env.areas.current();
      int f = t->field_index("ident");
      std::string ident = f < 0 || t->eof() ? "" : lib::trim(t->get(f).text);
      label = "(" + strzero4(counter) + "):" + os::utf8_from_852(ident);
      return true;
    });
    // The firm's steps open the table themselves, under the same alias.
    tables::ZAMKNIJ(env.areas, "fir");
  }
  return label;
}

std::string install_report(const UpgradeEnv& env, const std::vector<std::string>& lines,
                           const std::vector<std::string>& tlist) {
  std::string text;
  if (!lines.empty()) {
    text += report_line_bytes(report_stamp() + "  Raport z instalacji wersji: " + env.wersja_p);
    text += report_line_bytes(std::string(48, '-'));
    for (const std::string& line : lines) text += report_line_bytes(line);
  }
  if (!tlist.empty()) {
    text += report_line_bytes("");
    text += report_line_bytes("Lista firm w ktorych dokonano istotnych zmian:");
    text += report_line_bytes(std::string(46, '-'));
    for (const std::string& firm : tlist) text += report_line_bytes("Firma: " + os::utf8_from_852(firm));
    text += report_line_bytes("");
  }
  return text;
}

void show(const UpgradeEnv& env, ScreenFields& fields, const std::optional<std::string>& firm,
          const std::optional<std::string>& time_left, const std::optional<std::string>& firms_left) {
  OPISY(fields, firm, time_left, firms_left, env.now_hms());
  if (env.screen) env.screen->refresh(fields);
}

// Step 17: the release's version record takes the database's place, already marked
// unfinished. It is made ready beside the old one and renamed in, so that no moment
// shows the release's record as it came, finished.
bool install_release_version(const UpgradeEnv& env, const std::string& database_dir) {
  const std::string fresh = database_dir + "wersja_n.dbf";
  bool ok = lib::FCOPY(env.release_dir + "wb.dbf", fresh) && set_finished_flag(env, database_dir, "N", "wersja_n.dbf") &&
            os::sync_file(os::native_path(fresh)) == 0 && os::rename_file(fresh, database_dir + "wersja.dbf").ok() &&
            os::sync_directory(os::native_path(database_dir)) == 0;
  if (!ok) base::let_go(lib::DEL_FILE(fresh), "the failure is answered; a leftover is overwritten by the next run");
  return ok;
}

}  // namespace

std::string register_unreadable_message() {
  return "Baza danych nie zawiera żadnej firmy,;lub uszkodzony plik \"install.dbf\"";
}

const std::vector<std::string>& reference_files() {
  static const std::vector<std::string> names = {
      "wersja.dbf", "wersje.dbf", "euro.dbf",   "ebc_euro.dbf", "speed.dbf",   "pity.dbf",
      "pl_min.dbf", "min_zus.dbf", "pl_ulga.dbf", "st_ref.dbf", "fix_cfg.xml", "p_wolne.dbf"};
  return names;
}

std::string UPGRADE_NOWEJ_BAZY(const UpgradeEnv& env, const std::string& program_dir, const std::string& database_dir,
                               const std::string& recorded_version, ScreenFields& fields, SharedStepFn shared_step,
                               UpgradeOutcome* outcome) {
  table::WorkAreas& areas = env.areas;
  steps::RunValues values;
  values.pdane[0] = "0";
  values.pdane[1] = "0";
  std::vector<std::string> report_lines;
  std::string error_text;
  UpgradeOutcome local;
  UpgradeOutcome& out = outcome ? *outcome : local;
  out = {};

  read_workstation_name(env, program_dir);
  const std::string run_started = run_stamp_now();

  // The semaphore: while any program of the suite holds the table, it cannot be ours.
  const std::string semaphore = database_dir + "str\\nazwy.dbf";
  // An error outside the firms: the answer names what failed.
  auto error = [&](const std::string& what) {
    out.error = true;
    return std::string(kMsgUpgradeError) + what;
  };
  if (!os::file_exists(std::string_view(semaphore))) {
    base::let_go(lib::MKDIR(database_dir + "str"), "the copy below fails when the directory is missing");
    if (!lib::FCOPY(env.release_dir + "str\\nazwy.dbf", semaphore)) {
      areas.close_all();
      return error("nie można utworzyć pliku " + semaphore);
    }
  }
  if (!tables::USEEX(areas, semaphore, "sem")) {
    areas.close_all();
    return kMsgOthersWorking;
  }
  // A run cut off after the release's version record replaced the database's is
  // carried on from the version it started from, so it decides every step alike.
  RunNote note = note_run_start(database_dir, recorded_version, env.wersja_b);
  const std::string database_version = note.version;
  // Only a verified end lets the note go: any other keeps the version the run started
  // from, so that the next run finishes the firms this one began and repeats the shared
  // work (indexes, PIT repair) that depends on it.
  auto ended = [&](std::string result) {
    areas.close_all();
    if (result == kUpgradeDone && !note_run_end(database_dir))
      return error("nie można usunąć pliku " + database_dir + "odzysk.txt");
    return result;
  };
  auto failed = [&](const std::string& what) { return ended(error(what)); };

  base::let_go(lib::MKDIR(database_dir + "temp"), "an existing directory answers 183; the steps fail without it");
  env.run_step("reference files", [&] {
    refresh_reference_files(env, database_dir);
    if (database_version < kXmlCopiedBelow) {
      base::let_go(lib::MKDIR(database_dir + "str\\xml"), "an existing directory answers 183");
      if (!lib::COPY_KAT(env.release_dir + "xml\\", database_dir + "str\\xml\\"))
        firm_error(gencode::kCreate, 0, "Nie można skopiować katalogu xml wydania", database_dir + "str\\xml\\",
                   "COPY_KAT");
    }
  });
  // A report of the last run left in place would speak for this one.
  for (const char* report : {"public\\ins_raport.txt", "public\\hif_raport.rtf"})
    if (!lib::DEL_FILE(database_dir + report)) return failed("nie można usunąć pliku " + database_dir + report);

  steps::StepContext ctx{areas, env.release_dir, &values};
  for (const steps::StructureStep& s : env.steps.structure)
    if (database_version < s.version) env.run_step(s.name, [&] { s.run(ctx, database_dir, program_dir); });
  // A database already past 026.01.007 (its last run ended "01") may still hold firms
  // below it, whose step 007 reads rates by date: the refresh above deleted that index
  // and the shared indexes come only after the firm loop.
  if (!(database_version < kRateIndexBuiltBelow))
    env.run_step("BUILD_RATE_INDEX", [&] { steps::BUILD_RATE_INDEX(ctx, database_dir); });

  if (!tables::OTWORZ(areas, database_dir, "install.dbf", "ins")) return ended(register_unreadable_message());
  tables::ZAMKNIJ(areas, "ins");

  // PREPARE_INS
  fields.heading = "Instalacja programu ZUV (wersja " + env.wersja_p + ")";
  fields.stage = "Aktualizacja Bazy Danych";
  if (env.screen) env.screen->open(fields);
  if (env.licznik && !env.licznik->exists())
    env.licznik->create(ui::Point{20, 20}, 400, 10, "Czynności przygotowawcze...");
  else
    env.progress_restart(10, "Czynności przygotowawcze...");
  areas.settings().deleted_hidden = true;

  values.kraje_ue = build_kraje_ue(env, database_dir);

  int il_firm = 0;
  if (!tables::OTWORZ(areas, database_dir, "install.dbf", "ins")) return ended(register_unreadable_message());
  areas.current()->eval([&](table::Table&) {
    ++il_firm;
    return true;
  });
  out.firms = il_firm;
  if (il_firm < 1) return ended(kMsgNoFirms);

  show(env, fields, "?", std::nullopt, std::to_string(il_firm));
  env.progress_restart(il_firm, "Przetwarzanie danych (1)...");
  if (!set_finished_flag(env, database_dir, "N"))
    return failed("nie można zapisać znacznika aktualizacji w pliku " + database_dir + "wersja.dbf");

  // First pass: the progress window walks the register once.
  areas.select("ins");
  table::Table* ins = areas.current();
  for (ins->go_top(); !ins->eof(); ins->skip()) env.progress();

  env.progress_restart(il_firm, "Przetwarzanie danych (2) ...");
  TimeEstimate estimate;
  estimate.OBLICZ_CZAS(il_firm);
  const double start = env.now_seconds();
  int counter = 0;

  // The per-firm recovery section: any runtime error ends this firm only.
  auto report_failure = [&](double nr, const std::string& described) {
    const std::string number = number_text(nr);
    report_lines.push_back("Firma nr: " + number + " Błąd podczas instalacji:;" + described);
    error_text += "Nie udało się zainstalować firmy nr: " + number + ". Napraw firmę i spróbuj jeszcze raz!\r\n";
    out.failed.push_back(std::llround(nr));
    tables::CLOSEALL(areas);
  };
  // Runs work under the trap; the error's description when it broke out.
  auto under_trap = [&](const std::string& firm_dir, const std::function<void()>& work) {
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
  };
  auto trapped = [&](double nr, const std::string& firm_dir, const std::function<void()>& work) {
    if (std::optional<std::string> described = under_trap(firm_dir, work)) report_failure(nr, *described);
  };
  // The last part of the firm before: waiting for its steps' result to reach the disk,
  // which the disk does while the next firm works.
  struct Unfinished {
    double nr = 0;
    std::string firm_dir;
    std::function<void()> finish;
  };
  std::optional<Unfinished> unfinished;
  auto finish_previous = [&] {
    if (!unfinished) return;
    Unfinished u = std::move(*unfinished);
    unfinished.reset();
    trapped(u.nr, u.firm_dir, u.finish);
  };

  // With workers, each firm goes to a child process; the parent keeps the run's notes
  // and reports, settling the firms in register order, as one after the other would.
  const int workers = os::child_work_available() ? std::max(1, env.workers) : 1;
  struct Running {
    os::ChildWork child;
    double nr = 0;
    std::string firm_dir;
    int slot = 0;
  };
  std::deque<Running> running;
  // Every worker has a directory of its own, standing for both the program directory
  // (its "temp\", where steps fill tables) and the database directory (its "str\", a
  // copy of the templates, which steps open for themselves alone).
  auto worker_program_dir = [&](int slot) {
    return program_dir + "temp\\zuv_w" + std::to_string(slot + 1) + "\\";
  };
  static constexpr const char* kWorkerSubdirs[] = {"temp", "str"};
  int settled = 0;
  auto settle_oldest = [&] {
    Running r = std::move(running.front());
    running.pop_front();
    const std::optional<std::string> answer = r.child.wait();
    if (!answer || answer->empty()) {
      report_failure(r.nr, "Proces aktualizujący firmę zakończył się niespodziewanie.;Katalog firmy: " + r.firm_dir);
    } else if ((*answer)[0] == 'B') {
      report_failure(r.nr, answer->substr(1));
    } else if ((*answer)[0] == 'D') {
      // The firm's own work is done: the run notes it, and only then does its note go.
      const long long number = std::llround(r.nr);
      trapped(r.nr, r.firm_dir, [&] {
        if (note_firm_finished(database_dir, note, number)) mark_firm_finished(r.firm_dir);
      });
    }
    ++settled;
    show(env, fields, std::nullopt, estimate.OBLICZ_CZAS(start, env.now_seconds(), settled), std::nullopt);
  };
  auto settle_all = [&] {
    while (!running.empty()) settle_oldest();
    for (int slot = 0; workers > 1 && slot < workers; ++slot) {
      const std::string dir = worker_program_dir(slot);
      for (const char* sub : kWorkerSubdirs) {
        base::let_go(lib::DEL_KAT(dir + sub + "\\", "*.*"), "a worker's directory left behind is emptied by the next run");
        base::let_go(os::remove_directory(dir + sub), "a worker's directory left behind is emptied by the next run");
      }
      base::let_go(os::remove_directory(dir.substr(0, dir.size() - 1)), "emptied by the next run");
    }
  };
  if (workers > 1) {
    // A worker without its directories fails its firms' steps, which are then reported.
    base::let_go(lib::MKDIR(program_dir + "temp"), "an existing directory answers 183");
    for (int slot = 0; slot < workers; ++slot) {
      const std::string dir = worker_program_dir(slot);
      base::let_go(lib::MKDIR(dir), "an existing directory answers 183");
      for (const char* sub : kWorkerSubdirs) base::let_go(lib::MKDIR(dir + sub), "an existing directory answers 183");
      // The semaphore is the run's own, held for its whole length; no step reads it.
      if (!lib::COPY_KAT(database_dir + "str\\", dir + "str\\", "*.*", ",NAZWY.DBF,"))
        return failed("nie można skopiować wzorców do katalogu " + dir + "str\\");
    }
  }
  // Starts a firm in a child; false when no child could be had.
  auto start_in_worker = [&](double nr, const std::string& firm_dir) {
    if (workers < 2) return false;
    if (static_cast<int>(running.size()) >= workers) settle_oldest();
    int slot = 0;
    while (std::any_of(running.begin(), running.end(), [&](const Running& r) { return r.slot == slot; })) ++slot;
    Running r;
    r.nr = nr;
    r.firm_dir = firm_dir;
    r.slot = slot;
    const std::string worker_dir = worker_program_dir(slot);
    const bool started = r.child.start([&]() -> std::string {
      bool done = false;
      std::optional<std::string> described = under_trap(firm_dir, [&] {
        MAKE_WINFIR(env, values, firm_dir, worker_dir, error_text, worker_dir, database_version, [&] {
          done = true;
          return false;
        });
      });
      tables::CLOSEALL(areas);
      if (described) return "B" + *described;
      return done ? "D" : "S";
    });
    if (started) running.push_back(std::move(r));
    return started;
  };

  areas.select("ins");
  ins->go_top();
  while (!ins->eof()) {
    if (env.interrupt && env.interrupt->NIC() && env.dialog) {
      int answer = env.dialog->ALARM("5", "Wstrzymanie instalacji",
                                     "Gdy przerwiesz instalację, Nie będzie można;korzystać z całej bazy danych.",
                                     {"Kontynuuję", "Chcę przerwać"});
      if (answer == 2) {
        finish_previous();
        settle_all();
        return ended(kMsgInterrupted);
      }
    }
    env.progress();
    ++counter;
    const double nr = field_number(*ins, "nr");
    values.num_fir = static_cast<int>(std::llround(nr));
    const std::string firm_dir = firm_directory(database_dir, nr);

    std::string firms_left = std::to_string(il_firm - counter) + "/" + std::to_string(il_firm);
    show(env, fields, firm_label(env, firm_dir, counter, nr), counter == 1 ? std::optional<std::string>("?")
                                                                            : std::nullopt,
         firms_left);

    // A firm without its core files is left as the dispatcher leaves it, but said.
    const std::string missing = missing_core_file(firm_dir);
    if (!missing.empty()) {
      const std::string line = "Firma nr: " + number_text(nr) + " pominięta: brak pliku " + missing;
      report_lines.push_back(line);
      out.skipped.push_back(line);
    }
    // A firm the note lists is passed over only where its own version record agrees.
    const bool brought_through =
        missing.empty() && note.finished.count(std::llround(nr)) &&
        firm_brought_through(read_recorded_version(areas, firm_dir).value_or(""), env.steps.firm);
    if (missing.empty() && !brought_through && start_in_worker(nr, firm_dir)) {
      areas.select("ins");
      ins = areas.current();
      areas.settings().deleted_hidden = true;
      ins->skip();
      continue;
    }
    Unfinished next{nr, firm_dir, {}};
    trapped(nr, firm_dir, [&] {
      // A firm a cut-off run brought through is as the clean run leaves it; only its
      // note may be left, when the cut came before the note went.
      const long long number = std::llround(nr);
      if (!missing.empty()) return;
      if (brought_through) {
        mark_firm_finished(firm_dir);
      } else {
        MAKE_WINFIR(env, values, firm_dir, program_dir, error_text, database_dir, database_version,
                    [&note, &database_dir, number] { return note_firm_finished(database_dir, note, number); },
                    &next.finish);
      }
    });
    finish_previous();
    if (next.finish) unfinished = std::move(next);

    show(env, fields, std::nullopt, estimate.OBLICZ_CZAS(start, env.now_seconds(), counter), std::nullopt);
    tables::CLOSEALL(areas);
    areas.select("ins");
    ins = areas.current();
    areas.settings().deleted_hidden = true;
    ins->skip();
  }

  finish_previous();
  settle_all();

  // The release's version record replaces the database's. It stays unfinished until
  // the very end: a record that came finished from the release would otherwise mark
  // a run with failed firms as complete.
  if (!install_release_version(env, database_dir))
    return failed("nie można zapisać wersji bazy danych w pliku " + database_dir + "wersja.dbf");
  show(env, fields, "Analiza Katalogu public...", std::nullopt, std::nullopt);
  tables::CLOSEALL(areas);

  if (database_version < kSharedStepBelow && shared_step)
    env.run_step("PUB_26_01_001", [&] { shared_step(ctx, database_dir); });
  int index_failures = 0;
  env.run_step("NTX_PUB",
               [&] { index_failures = NTX_PUB(env, database_dir, database_version < kPitRepairedFrom); });
  if (index_failures == kPitRepairFailed)
    return failed("nie udało się naprawić tabel PIT (public\\fpit.dbf, wpit.dbf, pit_zap.dbf, wf.dbf)");
  if (index_failures > 0) return failed("nie udało się zbudować indeksów tabel wspólnych (str\\, public\\)");

  // The verified finish: nothing is called done that was not looked at.
  const std::string shared_fault = verify_finish(env, database_dir, run_started, out.failed, report_failure);
  tables::CLOSEALL(areas);
  if (!shared_fault.empty()) return failed(shared_fault);

  if (!report_lines.empty() || !values.tlist.empty()) {
    base::let_go(lib::MKDIR(database_dir + "public"), "the report's own write tells");
    const std::string report = database_dir + "public\\ins_raport.txt";
    if (!replace_file_with(report, install_report(env, report_lines, values.tlist)))
      return failed("nie można zapisać raportu " + report);
  }

  if (!error_text.empty()) {
    out.error_log = env.release_dir + "error.log";
    if (!replace_file_with(out.error_log, os::cp1250_from_utf8(error_text)))
      return failed("nie można zapisać pliku " + out.error_log);
    return ended(kUpgradeFirmsFailed);
  }
  if (!set_finished_flag(env, database_dir, "T"))
    return failed("nie można zapisać znacznika zakończenia w pliku " + database_dir + "wersja.dbf");
  return ended(kUpgradeDone);
}

}  // namespace zuv::upgrade
