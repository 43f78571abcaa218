#include "flows/undo_entry.h"

#include "flows/records.h"
#include "flows/wez_kat.h"
#include "lib/text.h"
#include "platform/os/path.h"
#include "ui/dialogs.h"
#include "upgrade/undo_area.h"

namespace zuv::flows {
namespace {

std::string lines_of(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  for (char& c : text)
    if (c == '\n') c = ';';
  return text;
}

Outcome undo_from(FlowEnv& env, gui::FlowScreenSession& screen) {
  const Release& r = env.release;
  std::string program_dir = lib::trim(screen.text(1));
  if (program_dir.empty()) {
    env.dialogs.ALARM("3", "Katalog Programu", "Nie wprowadzono katalogu programu ZUV");
    return Outcome::Refused;
  }
  program_dir = os::with_backslash(program_dir);
  auto path = read_database_path(env.areas, program_dir + "baza.dbf");
  if (!path || path->empty()) {
    env.dialogs.ALARM("3", "Katalog Programu", "Nie można odczytać katalogu bazy z pliku;" + program_dir + "baza.dbf");
    return Outcome::Refused;
  }
  const std::string database_dir = os::with_backslash(*path);
  const std::string release = upgrade::undo_release(r.wersja_p, r.wersja_b, r.roczek);
  const upgrade::UndoResult plan = upgrade::undo_installation(database_dir, program_dir, release, true);
  if (plan.code != upgrade::kUndoDone) {
    stage(env, "Odmowa cofnięcia: " + plan.message);
    env.dialogs.ALARM("3", "Cofnięcie niemożliwe", lines_of(plan.message));
    return Outcome::Refused;
  }
  // The safe answer comes first, where the focus stands.
  if (env.dialogs.ALARM("6", "Cofnięcie instalacji", lines_of(plan.message) + ";;Cofnąć instalację?",
                        {"Rezygnuję", "Cofnij"}) != 2)
    return Outcome::Refused;
  stage(env, "Cofnięcie instalacji " + release + ": baza " + database_dir + ", program " + program_dir);
  const upgrade::UndoResult done = upgrade::undo_installation(database_dir, program_dir, release, false);
  stage(env, "Koniec cofnięcia: " + done.message);
  env.dialogs.ALARM(done.code == upgrade::kUndoDone ? "2" : "3",
                    done.code == upgrade::kUndoDone ? "Powodzenie!" : "Błąd cofnięcia", lines_of(done.message));
  return done.code == upgrade::kUndoDone ? Outcome::Success
         : done.code == upgrade::kUndoRefused ? Outcome::Refused
                                               : Outcome::Failed;
}

}  // namespace

Outcome UNDO_INSTALLATION(FlowEnv& env) {
  return program_directory_screen(
      env, "Cofnij instalację",
      "Wybierz katalog programu ZUV na rok " + env.release.roczek + ", którego instalację chcesz cofnąć",
      [&](gui::FlowScreenSession& screen) { return undo_from(env, screen); });
}

}  // namespace zuv::flows
