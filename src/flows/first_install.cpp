#include "flows/first_install.h"

#include "flows/program_files.h"
#include "flows/records.h"
#include "flows/wez_kat.h"
#include "lib/files.h"
#include "lib/text.h"
#include "platform/base/discard.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "ui/analiza_kat.h"
#include "ui/dialogs.h"
#include "upgrade/upgrade_driver.h"

namespace zuv::flows {

namespace {

constexpr int kProgramField = 1, kDatabaseField = 2, kScreenItself = 0;

struct Attempt {
  FlowEnv& env;
  gui::FlowScreenSession& screen;

  Outcome stop(int field) {
    screen.set_focus(field);
    return Outcome::Refused;
  }
  Outcome refuse(int field, const std::string& title, const std::string& text) {
    stage(env, "Odmowa: " + title);
    env.dialogs.ALARM("3", title, text);
    return stop(field);
  }
  int ask(const std::string& kind, const std::string& title, const std::string& text,
          const std::vector<std::string>& buttons) {
    return env.dialogs.ALARM(kind, title, text, buttons);
  }
  // Steps 7 and 8: a missing directory is made when the operator agrees.
  bool ensure_directory(const std::string& dir, int field, const std::string& missing, const std::string& failed,
                        Outcome& out) {
    if (dir_here(dir)) return true;
    if (ask("5", "Brak Katalogu", missing, {"Założyć", "Rezygnuję"}) != 1) {
      out = stop(field);
      return false;
    }
    if (env.shell.makedir) env.shell.makedir(dir);
    if (dir_here(dir)) return true;
    out = refuse(field, "Błędna nazwa", failed + screen.text(field));
    return false;
  }
  void progress(double units, const std::string& title) {
    ui::Where r = env.dialogs.frontend().reference();
    const int u = r.height / 12, v = r.height / 10;
    env.dialogs.LICZNIK(ui::Point{u, 3 * v}, r.width - 2 * u, units, title);
  }
};

bool has_entries(const std::string& dir) {
  for (const auto& e : os::list_directory(dir + "*.*", "DHS"))
    if (e.name != "." && e.name != "..") return true;
  return false;
}

bool is_zuv_database(const std::string& dir) {
  return file_here(dir + "wersja.dbf") && file_here(dir + "install.dbf") && file_here(dir + "semafor.dbf") &&
         file_here(dir + "str\\ks_dok.dbf");
}

}  // namespace

Outcome first_install(FlowEnv& env, gui::FlowScreenSession& screen) {
  Attempt a{env, screen};
  ui::Dialogs& d = env.dialogs;
  const Release& r = env.release;
  const std::string& rel = r.release_dir;

  // 1-4.
  std::string program_dir = lib::trim(screen.text(kProgramField));
  std::string database_dir = lib::trim(screen.text(kDatabaseField));
  if (program_dir.empty())
    return a.refuse(kProgramField, "Katalog Programu", "Katalog do instalacji Programu jest pusty!");
  if (database_dir.empty())
    return a.refuse(kDatabaseField, "Katalog bazy danych", "Katalog do instalacji Bazy Danych jest pusty!");
  program_dir = os::with_backslash(program_dir);
  database_dir = os::with_backslash(database_dir);
  stage(env, "Pierwsza instalacja: program " + program_dir + ", baza danych " + database_dir);

  // 5, 6.
  if (!ui::ANALIZA_KAT(program_dir, "P", d)) return a.stop(kProgramField);
  if (!ui::ANALIZA_KAT(database_dir, "B", d)) return a.stop(kDatabaseField);
  if (lib::oem_upper(program_dir) == lib::oem_upper(database_dir))
    return a.refuse(kDatabaseField, "Błędne katalogi", "Katalogi do instalacji Bazy Danych;i programu muszą być rózne!");

  // 7, 8.
  Outcome out = Outcome::Refused;
  if (!a.ensure_directory(program_dir, kProgramField, "Katalog dla Programu nie istnieje!",
                          "Nie jest możliwe założenie katalogu dla Programu;", out))
    return out;
  if (!a.ensure_directory(database_dir, kDatabaseField, "Katalog dla Bazy Danych nie istnieje!",
                          "Nie jest możliwe założenie katalogu Bazy Danych;", out))
    return out;

  // 9, 10. A database directory is either empty (a new database goes there) or a
  // whole database: one with the four files but without its clients' memo file is a
  // damaged database, which the templates must never be copied over.
  if (has_entries(program_dir))
    return a.refuse(kProgramField, "Błąd katalogu", "Katalog w którym zostanie zainstalowany Program;musi być pusty!");
  const bool new_database = !has_entries(database_dir);
  if (!new_database && !is_zuv_database(database_dir))
    return a.refuse(kDatabaseField, "Błąd katalogu",
                    "Katalog w którym zostanie zainstalowana Baza danych;musi być pusty!");
  if (!new_database && !file_here(database_dir + "str\\klient.fpt"))
    return a.refuse(kDatabaseField, "Błąd katalogu",
                    "Katalog Bazy danych jest uszkodzony;brak pliku " + database_dir + "str\\klient.fpt");
  if (env.upgrade.check_start) {
    const std::string why = env.upgrade.check_start(
        database_dir, "", new_database ? upgrade::StartKind::NewDatabase : upgrade::StartKind::ExistingDatabase);
    if (!why.empty()) return a.refuse(kDatabaseField, "Błąd", why);
  }

  // 11.
  if (disk_test_failed(env, program_dir, "P") || disk_test_failed(env, database_dir, "B"))
    return a.stop(kProgramField);

  // From here on the attempt makes the program directory's whole content (step 9 found
  // it empty): an attempt that stops takes it away again, so that the next one passes
  // step 9.
  bool database_changed = false;
  auto undo = [&](Outcome out) {
    stage(env, "Usuwanie plików tej próby z " + program_dir);
    remove_contents(program_dir);
    if (out == Outcome::Refused && database_changed) out = Outcome::Failed;
    return out;
  };

  // 12-14.
  std::string year = r.roczek;
  std::string previous_program;
  if (new_database) {
    stage(env, "Nowa baza danych z wzorców pakietu");
    database_changed = true;
    a.progress(11, "Instalacja nowej bazy danych...");
    // Made whole or not at all: the directory was empty, and is emptied again.
    bool made = true;
    for (const char* sub : {"install", "public", "str", "str\\xml", "str\\zest"})
      made = lib::MKDIR(database_dir + sub).ok() && made;
    d.LICZNIK(1);
    made = made && lib::COPY_KAT(rel + "str\\", database_dir + "str\\");
    d.LICZNIK(6);
    d.LICZNIK(1);
    made = made && lib::COPY_KAT(rel + "xml\\", database_dir + "str\\xml\\");
    d.LICZNIK(1);
    made = made && lib::COPY_KAT(rel + "public\\", database_dir + "public\\");
    d.LICZNIK(1);
    made = made && lib::FCOPY(rel + "wb.dbf", database_dir + "wersja.dbf");
    made = made && lib::FCOPY(rel + "str\\semafor.dbf", database_dir + "semafor.dbf");
    d.LICZNIK(1);
    if (!made) {
      remove_contents(database_dir);
      database_changed = false;
      return undo(a.refuse(kDatabaseField, "Błąd instalacji",
                           "Nie udało się utworzyć bazy danych z wzorców pakietu;w katalogu " + database_dir));
    }
    stage(env, "Archiwum pakietu instalacyjnego w " + database_dir + "install\\");
    if (env.upgrade.pack_archive) env.upgrade.pack_archive(database_dir);
  } else {
    auto db = read_database_version(env.areas, database_dir + "wersja.dbf", "wer", true);
    if (!db)
      return a.refuse(kDatabaseField, "Błąd pliku!", "Nie mogę otworzyć pliku *wersja.dbf* Instalacja przerwana!");
    year = db->rok;
    if (db->rok != r.roczek) {
      if (db->rok != std::to_string(std::atoi(r.roczek.c_str()) + 1)) {
        return a.refuse(kDatabaseField, "Błąd", "Instalacja programu do bazy na rok " + db->rok + ";jest niemożliwa!");
      }
      if (a.ask("5", "Uwaga!",
                "Instalujesz program na rok " + db->rok +
                    ". Potwierdź!;Jeżeli potwierdzisz musisz wskazać katalog z programem na rok " + r.roczek + "!",
                {"Potwierdzam", "Rezygnuję"}) != 1)
        return a.stop(kDatabaseField);
      // This year's program lends its settings to the new one.
      while (previous_program.empty()) {
        std::string chosen = d.QMXDIRSELECT(std::nullopt, false);
        if (chosen.empty()) return a.stop(kDatabaseField);
        chosen = os::with_backslash(chosen);
        std::string why;
        if (!file_here(chosen + "wersja.dbf") || !file_here(chosen + "zuv.exe")) {
          why = "Wskazany katolog nie zawiera programu ZUV!;Czy chcesz wybrać inny katalog?";
        } else {
          auto pv = read_program_version(env.areas, chosen + "wersja.dbf", "wer");
          if (pv && pv->rok == r.roczek) {
            previous_program = chosen;
            break;
          }
          why = "Wskazany katolog nie zawiera programu ZUV na rok " + r.roczek + "!;Czy chcesz wybrać inny katalog?";
        }
        if (a.ask("6", "błąd!", why, {"Wybieram dalej", "Rezygnuję"}) != 1) return a.stop(kDatabaseField);
      }
    }
    std::string status = upgrade::kUpgradeDone;
    if (db->baza > r.wersja_b) {
      status = "Istniejąca wersja bazy danych (" + db->baza + ") wymaga przynajmniej wersji " + db->zuv +
               " programu WinZuv.; Zainstaluj wyższą wersję programu";
    } else if (db->baza < r.wersja_b || !db->ok) {
      stage(env, "Aktualizacja bazy danych " + database_dir + " od wersji " + db->baza);
      // The firms' rebuilds work in the program's "temp\", which the program files
      // would bring only after the upgrade: without it every firm failed.
      base::let_go(lib::MKDIR(program_dir + "temp"), "without it the firms fail and are reported");
      status = env.upgrade.upgrade_database ? env.upgrade.upgrade_database(program_dir, database_dir, db->baza)
                                            : "Aktualizacja bazy danych jest niedostępna.";
      // An error text of the driver may come before it changed anything; its codes come after.
      if (upgrade::ended_with_code(upgrade::upgrade_end(status))) {
        database_changed = true;
        stage(env, "Archiwum pakietu instalacyjnego w " + database_dir + "install\\");
        if (env.upgrade.pack_archive) env.upgrade.pack_archive(database_dir);
        d.LICZNIK("DEL");
        if (env.upgrade.close_screen) env.upgrade.close_screen();
      }
    }
    if (const upgrade::UpgradeEnd end = upgrade::upgrade_end(status); end != upgrade::UpgradeEnd::Done) {
      if (end == upgrade::UpgradeEnd::FirmsFailed) {
        stage(env, "Koniec: część firm nie została zainstalowana");
        d.ALARM("3", "Ostrzeżenie!", "Część firm nie została zainstalowana.;Zobacz raport z instalacji");
        a.stop(kScreenItself);
        return undo(Outcome::Partial);
      }
      if (end == upgrade::UpgradeEnd::Failed) database_changed = true;
      return undo(a.refuse(kScreenItself, "Błąd instalacji", status));
    }
  }

  // 15. The program goes in whole or not at all.
  stage(env, "Kopiowanie plików programu do " + program_dir);
  if (d.licznik().exists()) d.LICZNIK("NEW", 42, "Kopiowanie plików programu...");
  else a.progress(42, "Kopiowanie plików programu...");
  make_program_directories(program_dir);
  d.LICZNIK(2);
  ProgramFiles files;
  if (!previous_program.empty()) files.add_directory(previous_program + "setings\\", program_dir + "setings\\");
  files.add_directory(rel + "w001\\", program_dir + "dek\\");
  files.add_directory(rel + "txt\\", program_dir + "txt\\");
  files.add_release_program(rel, program_dir);
  files.add(rel + "wk.dbf", program_dir + "wersja.dbf");
  std::string failed = files.put_in_place();
  d.LICZNIK(40);

  // 16-18.
  const std::string& recorded = env.recorded_database_path.empty() ? database_dir : env.recorded_database_path;
  if (failed.empty() && !write_database_path(env.areas, program_dir, recorded))
    failed = "Nie można zapisać pliku;" + program_dir + "baza.dbf";
  if (failed.empty() && !write_program_year(env.areas, program_dir + "wersja.dbf", year))
    failed = "Nie można zapisać pliku;" + program_dir + "wersja.dbf";
  d.LICZNIK("DEL");
  if (!failed.empty()) {
    stage(env, "Pliki programu nie zostały zainstalowane: " + failed);
    return undo(a.refuse(kProgramField, "Błąd instalacji", failed));
  }

  // 19, 20.
  stage(env, "Rejestr systemu i skróty");
  if (env.shell.rejestry) env.shell.rejestry(program_dir, database_dir, year);
  stage(env, "Koniec: instalacja zakończona powodzeniem");
  d.ALARM("2", "Koniec instalacji", "Instalacja programu zakończyła się powodzeniem.");
  screen.set_focus(kScreenItself);
  screen.end();
  return Outcome::Success;
}

Outcome PIERWSZA_INSTALACJA(FlowEnv& env) {
  Outcome last = Outcome::None;
  gui::FlowScreenDesc desc;
  desc.name = "Pierwsza instalacja programu";
  std::string program = env.release.cProgram.empty() ? "c:\\Trevanor\\Zuv\\" + env.release.roczek + "\\"
                                                      : env.release.cProgram;
  desc.fields.push_back({"Wybierz katalog w którym zostanie zainstalowany PROGRAM", program, 128});
  desc.fields.push_back(
      {"Wybierz katalog w którym zostanie (lub już jest) zainstalowana BAZA DANYCH", env.release.cBaza, 128});
  gui::FlowScreenSession* self = nullptr;
  gui::FlowScreenSession screen(
      desc, [&] { last = first_install(env, *self); }, [&](int field) { WEZ_KAT(env.dialogs, *self, field); });
  self = &screen;
  env.dialogs.run_screen(screen);
  env.dialogs.QMXDIRSELECT(std::string("CLOSE"));
  return last;
}

}  // namespace zuv::flows
