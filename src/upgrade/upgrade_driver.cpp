#include "upgrade/upgrade_driver.h"
#include "upgrade/undo_area.h"

#include <cmath>
#include <cstdio>
#include <optional>
#include <utility>

#include "lib/files.h"
#include "lib/text.h"
#include "platform/base/discard.h"
#include "platform/base/text.h"
#include "platform/os/codepage.h"
#include "platform/os/durable.h"
#include "platform/os/file_handle.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "platform/error/error.h"
#include "steps/step_routines.h"
#include "tables/table_access.h"
#include "upgrade/firm_lifecycle.h"
#include "upgrade/firm_records.h"
#include "upgrade/run_note.h"
#include "upgrade/report_text.h"
#include "upgrade/shared_indexes.h"
#include "upgrade/time_estimate.h"
#include "upgrade/upgrade_observer.h"
#include "upgrade/upgrade_plan.h"
#include "upgrade/verified_finish.h"
#include "upgrade/worker_pool.h"

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
// database directory) under a record lock, synced; false when the record could not be
// opened, locked or brought to the disk.
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
  // What the flag says must be on the disk before anything that trusts it (the run's
  // note going, the firms changing).
  return done && os::sync_file(os::native_path(database_dir + table)) == 0;
}

// The database outside its firms (each firm made its own work durable) brought to the
// disk: the structure steps, the shared step, the shared indexes and the PIT repair
// write in place, and the finished flag must never vouch for what a power cut can take.
bool sync_outside_firms(const std::string& dir, bool top = true) {
  bool ok = true;
  for (const os::DirEntry& e : os::list_directory(dir + "*.*", "DHS")) {
    if (e.name == "." || e.name == "..") continue;
    if (e.attributes.find('D') == std::string::npos) {
      // Windows opens no file another handle holds deny-all: here only the run's own
      // semaphore and register, which hold no work of the steps.
      const int rc = os::sync_file(os::native_path(dir + e.name));
      ok = (rc == 0 || rc == os::oscode::kSharingViolation) && ok;
      continue;
    }
    // The undo areas put each entry on the disk as they made it, before its change.
    if (top && base::iequals_ascii(e.name + "\\", kUndoDir)) continue;
    const std::string upper = lib::upper_ascii(e.name);
    const bool firm = top && upper.size() > 5 && upper.rfind("FIRMA", 0) == 0 &&
                      upper.find_first_not_of("0123456789", 5) == std::string::npos;
    if (!firm) ok = sync_outside_firms(dir + e.name + "\\", false) && ok;
  }
  return os::sync_directory(os::native_path(dir)) == 0 && ok;
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
  if (!text.empty() && undo_keeping())
    text += report_line_bytes("Stan sprzed instalacji zachowany w katalogach \"" + std::string(kUndoDir) +
                              "\" bazy i programu (cofnięcie: zuvinst ... --undo-db).");
  return text;
}

// Step 17: the release's version record takes the database's place, already marked
// unfinished. It is made ready beside the old one and renamed in, so that no moment
// shows the release's record as it came, finished.
bool install_release_version(const UpgradeEnv& env, const std::string& database_dir) {
  const std::string fresh = database_dir + "wersja_n.dbf";
  bool ok = lib::FCOPY(env.release_dir + "wb.dbf", fresh) && set_finished_flag(env, database_dir, "N", "wersja_n.dbf") &&
            os::rename_durably(fresh, database_dir + "wersja.dbf").ok();
  if (!ok) base::let_go(lib::DEL_FILE(fresh), "the failure is answered; a leftover is overwritten by the next run");
  return ok;
}

// One run of the driver over a database: its steps in order, each part answering the
// run's answer when the run ends there.
class DatabaseRun {
 public:
  DatabaseRun(const UpgradeEnv& env, const std::string& program_dir, const std::string& database_dir,
              ScreenFields& fields, SharedStepFn shared_step, UpgradeOutcome& out)
      : env_(env), areas_(env.areas), program_dir_(program_dir), database_dir_(database_dir), fields_(fields),
        shared_step_(shared_step), out_(out), pool_(program_dir, database_dir, env.workers) {
    values_.pdane[0] = "0";
    values_.pdane[1] = "0";
  }

  std::string run(const std::string& recorded_version) {
    out_ = {};
    read_workstation_name(env_, program_dir_);
    run_started_ = run_stamp_now();
    if (std::optional<std::string> answer = hold_database(recorded_version)) return *answer;
    if (std::optional<std::string> answer = before_firms()) return *answer;
    if (std::optional<std::string> answer = open_register()) return *answer;
    if (std::optional<std::string> answer = walk_firms()) return *answer;
    return after_firms();
  }

 private:
  using Answer = std::optional<std::string>;

  // An error outside the firms: the answer names what failed.
  std::string error(const std::string& what) {
    out_.error = true;
    return std::string(kMsgUpgradeError) + what;
  }
  // Only a verified end lets the run's note go: any other keeps the version the run
  // started from, so that the next run finishes the firms this one began and repeats
  // the shared work (indexes, PIT repair) that depends on it.
  std::string ended(std::string result) {
    areas_.close_all();
    if (result == kUpgradeDone && !note_run_end(database_dir_))
      return error("nie można usunąć pliku " + database_dir_ + "odzysk.txt");
    return result;
  }
  std::string failed(const std::string& what) { return ended(error(what)); }

  void show(const std::optional<std::string>& firm, const std::optional<std::string>& time_left,
            const std::optional<std::string>& firms_left) {
    OPISY(fields_, firm, time_left, firms_left, env_.now_hms());
    env_.told().refresh_screen(fields_);
  }

  // The semaphore: while any program of the suite holds the table, it cannot be ours.
  Answer hold_database(const std::string& recorded_version) {
    const std::string semaphore = database_dir_ + "str\\nazwy.dbf";
    if (!os::file_exists(std::string_view(semaphore))) {
      base::let_go(lib::MKDIR(database_dir_ + "str"), "the copy below fails when the directory is missing");
      if (!lib::FCOPY(env_.release_dir + "str\\nazwy.dbf", semaphore)) {
        areas_.close_all();
        return error("nie można utworzyć pliku " + semaphore);
      }
    }
    if (!tables::USEEX(areas_, semaphore, "sem")) {
      areas_.close_all();
      return std::string(kMsgOthersWorking);
    }
    // A run cut off after the release's version record replaced the database's is
    // carried on from the version it started from, so it decides every step alike.
    note_ = note_run_start(database_dir_, recorded_version, env_.wersja_b,
                           read_finished_flag(areas_, database_dir_));
    version_ = note_.version;
    work_ = shared_work(env_.steps, version_);
    return std::nullopt;
  }

  // The reference files, the last run's reports, the structure steps.
  Answer before_firms() {
    base::let_go(lib::MKDIR(database_dir_ + "temp"), "an existing directory answers 183; the steps fail without it");
    env_.run_step("reference files", [&] {
      refresh_reference_files(env_, database_dir_);
      if (work_.copies_xml) {
        base::let_go(lib::MKDIR(database_dir_ + "str\\xml"), "an existing directory answers 183");
        if (!lib::COPY_KAT(env_.release_dir + "xml\\", database_dir_ + "str\\xml\\"))
          firm_error(gencode::kCreate, 0, "Nie można skopiować katalogu xml wydania", database_dir_ + "str\\xml\\",
                     "COPY_KAT");
      }
    });
    // A report of the last run left in place would speak for this one.
    for (const char* report : {"public\\ins_raport.txt", "public\\hif_raport.rtf"})
      if (!lib::DEL_FILE(database_dir_ + report)) return failed("nie można usunąć pliku " + database_dir_ + report);

    steps::StepContext ctx{areas_, env_.release_dir, &values_};
    for (const steps::StructureStep* s : work_.structure)
      env_.run_step(s->name, [&] { s->run(ctx, database_dir_, program_dir_); });
    if (work_.rate_index_first) env_.run_step("BUILD_RATE_INDEX", [&] { steps::BUILD_RATE_INDEX(ctx, database_dir_); });
    return std::nullopt;
  }

  // PREPARE_INS: the screen, the register counted, the database marked unfinished.
  Answer open_register() {
    if (!tables::OTWORZ(areas_, database_dir_, "install.dbf", "ins")) return ended(register_unreadable_message());
    tables::ZAMKNIJ(areas_, "ins");
    fields_.heading = "Instalacja programu ZUV (wersja " + env_.wersja_p + ")";
    fields_.stage = "Aktualizacja Bazy Danych";
    env_.told().open_screen(fields_);
    env_.told().progress_begin(10, "Czynności przygotowawcze...");
    areas_.settings().deleted_hidden = true;

    values_.kraje_ue = build_kraje_ue(env_, database_dir_);

    if (!tables::OTWORZ(areas_, database_dir_, "install.dbf", "ins")) return ended(register_unreadable_message());
    areas_.current()->eval([&](table::Table&) {
      ++firms_;
      return true;
    });
    out_.firms = firms_;
    if (firms_ < 1) return ended(kMsgNoFirms);

    show("?", std::nullopt, std::to_string(firms_));
    env_.progress_restart(firms_, "Przetwarzanie danych (1)...");
    if (!set_finished_flag(env_, database_dir_, "N"))
      return failed("nie można zapisać znacznika aktualizacji w pliku " + database_dir_ + "wersja.dbf");
    // First pass: the progress window walks the register once.
    areas_.select("ins");
    table::Table* ins = areas_.current();
    for (ins->go_top(); !ins->eof(); ins->skip()) env_.progress();
    return std::nullopt;
  }

  // The per-firm recovery section: any runtime error ends this firm only.
  void report_failure(double nr, const std::string& described) {
    const std::string number = number_text(nr);
    report_lines_.push_back("Firma nr: " + number + " Błąd podczas instalacji:;" + described);
    error_text_ += "Nie udało się zainstalować firmy nr: " + number + ". Napraw firmę i spróbuj jeszcze raz!\r\n";
    out_.failed.push_back(std::llround(nr));
    tables::CLOSEALL(areas_);
  }
  void trapped(const FirmTurn& turn, const std::function<void()>& work) {
    if (std::optional<std::string> described = trapped_error(turn.dir, work)) report_failure(turn.nr, *described);
  }
  // The last part of the firm before, waiting for its steps' result to reach the disk,
  // which the disk does while the next firm works.
  void finish_previous() {
    if (!unfinished_) return;
    std::pair<FirmTurn, std::function<void()>> u = std::move(*unfinished_);
    unfinished_.reset();
    trapped(u.first, u.second);
  }
  // A worker's firm, settled in register order.
  void settle(double nr, const std::string& firm_dir, const WorkerAnswer& answer) {
    FirmTurn turn;
    turn.nr = nr;
    turn.dir = firm_dir;
    if (answer.kind == WorkerAnswer::Vanished)
      report_failure(nr, "Proces aktualizujący firmę zakończył się niespodziewanie.;Katalog firmy: " + firm_dir);
    else if (answer.kind == WorkerAnswer::Broke)
      report_failure(nr, answer.described);
    else if (answer.kind == WorkerAnswer::Done)
      trapped(turn, [&] { firm_done_elsewhere(database_dir_, note_, turn); });
    ++settled_;
    show(std::nullopt, estimate_.OBLICZ_CZAS(start_, env_.now_seconds(), settled_), std::nullopt);
  }
  void settle_all() {
    pool_.settle_all([this](double nr, const std::string& dir, const WorkerAnswer& a) { settle(nr, dir, a); });
  }
  bool start_in_worker(const FirmTurn& turn) {
    const std::string database_version = version_;
    return pool_.start(
        turn.nr, turn.dir,
        [&](const std::string& slot_dir) {
          // The parent's open tables are its own; this copy of them points nowhere.
          areas_.forget_all();
          WorkerAnswer a;
          bool done = false;
          std::optional<std::string> described = trapped_error(turn.dir, [&] {
            done = carry_firm_in_worker(env_, values_, turn, slot_dir, error_text_, database_version);
          });
          tables::CLOSEALL(areas_);
          a.kind = described ? WorkerAnswer::Broke : done ? WorkerAnswer::Done : WorkerAnswer::Skipped;
          a.described = described.value_or("");
          return a;
        },
        [this](double nr, const std::string& dir, const WorkerAnswer& a) { settle(nr, dir, a); });
  }

  // One firm of the register, in a worker or here.
  void firm(int counter, double nr) {
    values_.num_fir = static_cast<int>(std::llround(nr));
    const FirmTurn turn = firm_turn(env_, note_, database_dir_, nr);
    const std::string firms_left = std::to_string(firms_ - counter) + "/" + std::to_string(firms_);
    show(firm_label(env_, turn.dir, counter, nr), counter == 1 ? std::optional<std::string>("?") : std::nullopt,
         firms_left);
    // A firm without its core files is left as the dispatcher leaves it, but said.
    if (const std::string line = turn.skipped_line(); !line.empty()) {
      report_lines_.push_back(line);
      out_.skipped.push_back(line);
    }
    if (turn.has_work() && start_in_worker(turn)) return;
    std::function<void()> finish;
    trapped(turn, [&] {
      carry_firm(env_, values_, turn, program_dir_, error_text_, database_dir_, version_, note_, finish);
    });
    finish_previous();
    if (finish) unfinished_.emplace(turn, std::move(finish));
    show(std::nullopt, estimate_.OBLICZ_CZAS(start_, env_.now_seconds(), counter), std::nullopt);
    tables::CLOSEALL(areas_);
  }

  // The register walk, firm after firm; the operator may stop it between two.
  Answer walk_firms() {
    env_.progress_restart(firms_, "Przetwarzanie danych (2) ...");
    estimate_.OBLICZ_CZAS(firms_);
    start_ = env_.now_seconds();
    const std::string slot_fault = pool_.prepare();
    if (!slot_fault.empty()) return failed("nie można skopiować wzorców do katalogu " + slot_fault);
    areas_.select("ins");
    table::Table* ins = areas_.current();
    ins->go_top();
    int counter = 0;
    while (!ins->eof()) {
      if (env_.told().stop_asked()) {
        finish_previous();
        settle_all();
        return ended(kMsgInterrupted);
      }
      env_.progress();
      firm(++counter, field_number(*ins, "nr"));
      areas_.select("ins");
      ins = areas_.current();
      areas_.settings().deleted_hidden = true;
      ins->skip();
    }
    finish_previous();
    settle_all();
    return std::nullopt;
  }

  // The release's version record, the shared data and indexes, the verified finish and
  // the reports; the database is marked finished last.
  std::string after_firms() {
    // The release's version record replaces the database's. It stays unfinished until
    // the very end: a record that came finished from the release would otherwise mark
    // a run with failed firms as complete.
    if (!install_release_version(env_, database_dir_))
      return failed("nie można zapisać wersji bazy danych w pliku " + database_dir_ + "wersja.dbf");
    show("Analiza Katalogu public...", std::nullopt, std::nullopt);
    tables::CLOSEALL(areas_);

    steps::StepContext ctx{areas_, env_.release_dir, &values_};
    if (work_.shared_step && shared_step_)
      env_.run_step("PUB_26_01_001", [&] { shared_step_(ctx, database_dir_); });
    os::Status indexes;
    env_.run_step("NTX_PUB", [&] { indexes = NTX_PUB(env_, database_dir_, work_.pit_repair); });
    if (!indexes) return failed(indexes.text());

    // The verified finish: nothing is called done that was not looked at.
    const std::string shared_fault =
        verify_finish(env_, database_dir_, run_started_, out_.failed,
                      [this](double nr, const std::string& described) { report_failure(nr, described); });
    tables::CLOSEALL(areas_);
    if (!shared_fault.empty()) return failed(shared_fault);
    return report_and_end();
  }

  std::string report_and_end() {
    if (!report_lines_.empty() || !values_.tlist.empty()) {
      base::let_go(lib::MKDIR(database_dir_ + "public"), "the report's own write tells");
      const std::string report = database_dir_ + "public\\ins_raport.txt";
      if (!replace_file_with(report, install_report(env_, report_lines_, values_.tlist)))
        return failed("nie można zapisać raportu " + report);
    }
    if (!error_text_.empty()) {
      out_.error_log = env_.release_dir + "error.log";
      if (!replace_file_with(out_.error_log, os::cp1250_from_utf8(error_text_)))
        return failed("nie można zapisać pliku " + out_.error_log);
      return ended(kUpgradeFirmsFailed);
    }
    if (!sync_outside_firms(database_dir_))
      return failed("nie można zapisać na dysku plików bazy danych w " + database_dir_);
    if (!set_finished_flag(env_, database_dir_, "T"))
      return failed("nie można zapisać znacznika zakończenia w pliku " + database_dir_ + "wersja.dbf");
    return ended(kUpgradeDone);
  }

  const UpgradeEnv& env_;
  table::WorkAreas& areas_;
  const std::string program_dir_;
  const std::string database_dir_;
  ScreenFields& fields_;
  SharedStepFn shared_step_;
  UpgradeOutcome& out_;
  WorkerPool pool_;
  steps::RunValues values_;
  std::vector<std::string> report_lines_;
  std::string error_text_;
  std::string run_started_;
  RunNote note_;
  std::string version_;  // the version the run starts from
  SharedWork work_;
  int firms_ = 0;
  int settled_ = 0;
  TimeEstimate estimate_;
  double start_ = 0;
  std::optional<std::pair<FirmTurn, std::function<void()>>> unfinished_;
};

}  // namespace

std::string register_unreadable_message() {
  return "Baza danych nie zawiera żadnej firmy,;lub uszkodzony plik \"install.dbf\"";
}

UpgradeEnd upgrade_end(const std::string& answer) {
  if (answer == kUpgradeDone) return UpgradeEnd::Done;
  if (answer == kUpgradeFirmsFailed) return UpgradeEnd::FirmsFailed;
  return is_upgrade_error(answer) ? UpgradeEnd::Failed : UpgradeEnd::Refused;
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
  UpgradeOutcome local;
  DatabaseRun run(env, program_dir, database_dir, fields, shared_step, outcome ? *outcome : local);
  return run.run(recorded_version);
}

}  // namespace zuv::upgrade
