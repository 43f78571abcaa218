#include "flows/upgrade_entry.h"

#include "flows/records.h"
#include "flows/wez_kat.h"
#include "lib/files.h"
#include "lib/text.h"
#include "platform/base/discard.h"
#include "platform/os/path.h"
#include "tables/table_access.h"
#include "ui/dialogs.h"
#include "upgrade/undo_area.h"
#include "upgrade/upgrade_answers.h"

namespace zuv::flows {

namespace {

Outcome refuse(FlowEnv& env, const std::string& title, const std::string& text,
               std::optional<int> timeout = std::nullopt) {
  stage(env, "Odmowa: " + title);
  env.dialogs.ALARM(ui::Where{}, "3", title, text, {}, timeout);
  return Outcome::Refused;
}

// The e-invoice sender keeps its file locked while it runs: a file that will not go
// means the sender is at work.
bool sender_running(const std::string& program_dir) {
  const std::string sender = program_dir + "zuv.ksef.exe";
  // Judged by whether the file is still there.
  base::let_go(lib::DEL_FILE(sender), "judged by the file's presence");
  for (int i = 0; i < 5 && file_here(sender); ++i) {
    base::let_go(lib::DEL_FILE(sender), "judged by the file's presence");
    tables::SLEEP(100);
  }
  return file_here(sender);
}

}  // namespace

Outcome upgrade_install(FlowEnv& env, gui::FlowScreenSession& screen) {
  const Release& r = env.release;

  // 1.
  std::string program_dir = lib::trim(screen.text(1));
  if (program_dir.empty())
    return refuse(env, "Katalog Programu", "Nie wprowadzono katalogu, z bieżącą wersją ZUV");
  program_dir = os::with_backslash(program_dir);
  stage(env, "Sprawdzanie programu w " + program_dir);

  // 2.
  if (!file_here(program_dir + "ot4xb.dll") || !file_here(program_dir + "baza.dbf") ||
      !file_here(program_dir + "wersja.dbf"))
    return refuse(env, "Błąd katalogu",
                  "Wskazany katalog z bieżącym Programem nie zawiera;Programu ZUV w wersji Windows");

  // 3-6.
  auto program = read_program_version(env.areas, program_dir + "wersja.dbf", "wer");
  if (!program) return refuse(env, "Katalog Programu", "Nie można otworzyć pliku;" + program_dir + "wersja.dbf");
  if (program->rok != r.roczek) return refuse(env, "Błąd", "Wskazany program obowiązuje w roku " + program->rok);
  if (program->zuv > r.wersja_p)
    return refuse(env, "Błędna wersja",
                  "Instalowana wersja ZUV jest niższa od wersji istniejącej.;Bieżąca wersja=" + program->zuv);
  if (program->zuv < kMinimumVersion)
    return refuse(env, "Błędna wersja",
                  "Minimalna wersja ZUV dla której można wykonać upgrade;wynosi dla roku " + r.roczek + " " +
                      kMinimumVersion);

  // 7.
  auto path = read_database_path(env.areas, program_dir + "baza.dbf");
  if (!path) return refuse(env, "Katalog Programu", "Nie można otworzyć pliku;" + program_dir + "baza.dbf");
  if (path->empty())
    return refuse(env, "Katalog Bazy danych",
                  "Katalog z bazą danych jest pusty;Uruchom ZUV i wskaż poprawny katalog z bazą");
  const std::string database_dir = os::with_backslash(*path);

  // 8.
  auto database = read_database_version(env.areas, database_dir + "wersja.dbf", "wer", false);
  if (!database) return refuse(env, "Błąd bazy", "Nie można otworzyć pliku;" + database_dir + "wersja.dbf");
  if (database->rok != r.roczek)
    return refuse(env, "Błąd", "Baza wskazanego programu obowiązuje w roku " + database->rok);

  // The checked start: the last look before the first change.
  if (env.upgrade.check_start) {
    const std::string why = env.upgrade.check_start(database_dir, program_dir, upgrade::StartKind::Upgrade);
    if (!why.empty()) return refuse(env, "Błąd", why);
  }

  // From here on everything the run changes in both directories, in the registry and
  // in the shortcuts is kept for an undo; the fingerprint is taken however it ends.
  const std::string release = upgrade::undo_release(r.wersja_p, r.wersja_b, r.roczek);
  const std::string keeping = env.upgrade.keep_undo
                                  ? upgrade::start_undo_keeping(database_dir, program_dir, release)
                                  : upgrade::forget_other_undo(database_dir, program_dir, release);
  if (!keeping.empty()) return refuse(env, "Błąd", keeping);
  struct Fingerprint {
    FlowEnv& env;
    ~Fingerprint() {
      if (std::string why = upgrade::finish_undo_keeping(); !why.empty())
        stage(env, "Nie można zapisać stanu do cofnięcia instalacji: " + why);
    }
  } fingerprint{env};

  // 9. From here on the disk changes.
  if (sender_running(program_dir))
    return refuse(env, "Błąd",
                  "Aktualnie zainstalowany program Zuv pobiera lub wysyła;faktury do/z KSeF. Poczekaj 2 minuty lub "
                  "spróbuj za chwilę",
                  200);

  // 10, 11.
  if (env.upgrade.estimate && !env.upgrade.estimate(database_dir, database->zuv)) {
    stage(env, "Operator zrezygnował po oszacowaniu czasu");
    return Outcome::Refused;
  }
  std::string result;
  bool upgraded = false;
  const double started = seconds_now(env);

  // 12.
  if (database->baza > r.wersja_b)
    return refuse(env, "Błąd bazy",
                  "Bieżąca wersja Bazy jest większa od wymaganej przez program;Zainstaluj nowszą wersję "
                  "programu!;minimum " +
                      database->zuv);
  if (database->baza < r.wersja_b || !database->ok) {
    if (disk_test_failed(env, database_dir, "B")) return Outcome::Refused;
    stage(env, "Aktualizacja bazy danych " + database_dir + " od wersji " + database->baza);
    upgraded = true;
    result = env.upgrade.upgrade_database ? env.upgrade.upgrade_database(program_dir, database_dir, database->baza)
                                          : "Aktualizacja bazy danych jest niedostępna.";
  } else {
    result = upgrade::kUpgradeDone;
  }

  // 13.
  return finish_upgrade(env, result, program_dir, database_dir, database->zuv, started, upgraded);
}

Outcome UPGRADE(FlowEnv& env) {
  return program_directory_screen(
      env, "Aktualizacja programu",
      "Wybierz katalog, w którym masz zainstalowany PROGRAM ZUV na rok " + env.release.roczek,
      [&](gui::FlowScreenSession& screen) { return upgrade_install(env, screen); });
}

}  // namespace zuv::flows
