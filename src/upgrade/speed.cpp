#include "upgrade/speed.h"

#include <cmath>
#include <utility>
#include <vector>

#include "lib/text.h"
#include "platform/os/files.h"
#include "sys/netname.h"
#include "tables/table_access.h"
#include "upgrade/upgrade_observer.h"

namespace zuv::upgrade {
namespace {

std::string workstation(const UpgradeEnv& env) {
  return sys::NERKA(env.nazwa_sieciowa ? std::string_view(*env.nazwa_sieciowa) : std::string_view());
}

// Positions "nn" on this workstation's record, appending one when there is none.
bool find_or_add_workstation(const UpgradeEnv& env, const std::string& name) {
  table::Table* t = env.areas.current();
  bool found = tables::guarded([&] {
    return t->locate([&](table::Table& r) { return lib::trim(r.get(0).text) == name; }, true);
  });
  if (found) return true;
  if (!tables::REK_ADD(env.areas, std::nullopt, env.told().interrupt())) return false;
  bool stored = tables::guarded([&] { return t->put(0, table::Value::of_text(name)) && t->commit(); });
  t->unlock();
  return stored;
}

std::string whole(double n) {
  // STR(n, 5) trimmed: the number rounded, without decimals.
  return std::to_string(static_cast<long long>(std::llround(n)));
}

}  // namespace

std::string duration_words(double seconds) {
  double days = lib::C_INT(seconds / 86400);
  double hours = lib::C_INT((seconds - days * 86400) / 3600);
  double minutes = lib::C_INT((seconds - days * 86400 - hours * 3600) / 60);
  double rest = seconds - days * 86400 - hours * 3600 - minutes * 60;
  std::string text;
  if (days > 0) text += whole(days) + " dni ";
  if (hours > 0) text += whole(hours) + " godz. ";
  if (minutes > 0) text += whole(minutes) + " min. ";
  if (rest > 0) text += whole(rest) + " sek. ";
  return text;
}

bool POKAZ_CZAS(const UpgradeEnv& env, const std::string& database_dir, const std::string& last_program_version) {
  const std::string speed_dir = env.release_dir + "str\\";
  if (!os::file_exists(std::string_view(speed_dir + "speed.dbf"))) return true;
  if (!tables::S_OTWORZ(env.areas, database_dir + "str\\", "nazwy.dbf", "nn")) return true;
  if (!find_or_add_workstation(env, workstation(env))) {
    tables::ZAMKNIJ(env.areas, "nn");
    return true;
  }
  table::Table* nn = env.areas.find("nn");

  std::vector<std::pair<std::string, double>> releases;
  if (tables::S_OTWORZ(env.areas, speed_dir, "speed.dbf", "sp")) {
    tables::guarded([&] {
      env.areas.current()->eval([&](table::Table& r) {
        releases.emplace_back(lib::trim(r.get("wersja").text), r.get("speed").number);
        return true;
      });
      return true;
    });
    tables::ZAMKNIJ(env.areas, "sp");
  }
  int column = 1;
  for (const auto& [version, speed] : releases)
    if (version > last_program_version && speed > column) column = static_cast<int>(speed);

  double seconds = 0;
  tables::guarded([&] {
    int field = 2 + column;  // field 3 + column, counted from 1
    if (field < nn->field_count()) seconds = nn->get(field).number;
    return true;
  });
  tables::ZAMKNIJ(env.areas, "nn");
  if (seconds < 0.000001) return true;
  return env.told().accept_duration(column, duration_words(seconds));
}

void ZAPISZ_PREDKOSC(const UpgradeEnv& env, double elapsed_seconds, const std::string& database_dir) {
  if (!tables::S_OTWORZ(env.areas, database_dir + "str\\", "nazwy.dbf", "nn")) return;
  int column = env.speed ? env.speed->wskaznik : 3;
  if (find_or_add_workstation(env, workstation(env)) && tables::REK_LOCK(env.areas)) {
    table::Table* nn = env.areas.current();
    tables::guarded([&] {
      int field = 2 + column;
      bool ok = field < nn->field_count() && nn->put(field, table::Value::of_number(std::round(elapsed_seconds))) &&
                nn->commit();
      nn->unlock();
      return ok;
    });
    if (env.speed) env.speed->wskaznik = 1;
  }
  tables::ZAMKNIJ(env.areas, "nn");
}

}  // namespace zuv::upgrade
