#include "flows/deployment.h"

#include "flows/records.h"
#include "lib/files.h"
#include "lib/text.h"
#include "platform/os/clock.h"
#include "platform/os/codepage.h"
#include "platform/os/files.h"
#include "platform/os/fonts.h"
#include "platform/table/table.h"
#include "platform/table/work_areas.h"
#include "tables/table_access.h"
#include "ui/dialogs.h"

namespace zuv::flows {

namespace {

const char* const kOldProgramFiles[] = {
    "czytaj.to\\zmiany.chm", "openssl.exe", "zuv.exe", "un_zuv.exe", "socmapi.dll", "vpes3261.dll",
    "vpes3270.dll", "vpes3271.dll", "vpes3272.dll", "vpes3274.dll", "xb2net.dll", "xbpcre.dll",
    "xbzlib.dll", "zlib1.dll", "ot4xb.dll", "pcre.dll", "ssleay32.dll", "libeay32.dll",
    "lfromurl.dll", "fce32.dll", "fce64.dll"};

const char* const kMailTestFiles[] = {"mail_test.txt", "mail_test.log0", "mail_test.log1", "mail_send.log0",
                                      "mail_send.log1"};

// The bar's 37 units spread over the stages so that it is full when the work is.
constexpr double kOldFilesGone = 5, kLibraries = 15, kHelp = 5, kSibling = 4, kMasks = 4, kTemplates = 4;

}  // namespace

void USUN_FONTY(const std::string& directory) {
  auto fonts = os::list_directory(directory + "*.ttf");
  if (fonts.size() > 30) fonts.resize(30);
  for (const auto& f : fonts) os::remove_font_resource(directory + lib::lower_ascii(f.name));
  lib::DEL_KAT(directory, "*.*");
  // Whatever could not go was most likely still loaded: unload once more and retry.
  for (const auto& f : os::list_directory(directory + "*.ttf")) {
    os::remove_font_resource(directory + lib::lower_ascii(f.name));
    lib::DEL_FILE(directory + f.name);
  }
}

void DATA_AKTUALIZACJI(table::WorkAreas& areas, const std::string& database_dir, const std::string& version) {
  if (!tables::S_OTWORZ(areas, database_dir + "public\\", "pub_dat.dbf", "pdat")) return;
  table::Table* t = areas.find("pdat");
  if (t && !t->eof() && tables::REK_LOCK(areas)) {
    tables::guarded([&] {
      auto put = [&](std::string_view name, const table::Value& v) {
        if (t->field_index(name) >= 0) t->put(name, v);
      };
      put("nv_d_check", table::Value::of_date(os::today_dtos()));
      put("nv_t_check", table::Value::of_text(os::time_of_day()));
      put("nv_r_check", table::Value::of_text(os::cp852_from_utf8("Zainstalowano: " + version)));
      put("nv_d_down0", table::Value::of_date(""));
      put("nv_d_down1", table::Value::of_date(""));
      put("nv_t_down0", table::Value::of_text(""));
      put("nv_t_down1", table::Value::of_text(""));
      return t->commit();
    });
    t->unlock();
  }
  tables::ZAMKNIJ(areas, "pdat");
}

bool WIN2WIN(FlowEnv& env, const std::string& program_dir, const std::string& database_dir,
             const std::string& last_version) {
  ui::Dialogs& d = env.dialogs;
  const std::string& rel = env.release.release_dir;
  stage(env, "Kopiowanie plików programu do " + program_dir);

  // 1, 2.
  if (env.upgrade.prepare_screen) env.upgrade.prepare_screen("Instalacja nowej wersji programu");
  if (!d.licznik().exists()) {
    ui::Where r = d.frontend().reference();
    d.LICZNIK(ui::Point{r.width / 12, 3 * r.height / 10}, r.width - 2 * (r.width / 12), 37,
              "Kopiowanie plików programu...");
  } else {
    d.LICZNIK("NEW", 37, "Kopiowanie plików programu...");
  }

  // 3.
  make_program_directories(program_dir);

  // 4. The old program goes, the operator's settings and texts stay.
  lib::DEL_KAT(program_dir + "mask\\");
  lib::DEL_KAT(program_dir + "vistrel\\");
  lib::DEL_KAT(program_dir, "zuv_*.dll");
  USUN_FONTY(program_dir + "czytaj.to\\");
  for (const char* f : kOldProgramFiles) lib::DEL_FILE(program_dir + f);

  // 5. Print templates the program does not have yet; edited ones stay as they are.
  for (const auto& f : os::list_directory(rel + "txt\\*.*"))
    if (!file_here(program_dir + "txt\\" + f.name)) lib::FCOPY(rel + "txt\\" + f.name, program_dir + "txt\\" + f.name);

  // 6.
  lib::DEL_KAT(program_dir, "*.dll");
  lib::DEL_KAT(program_dir, "*.exe");
  d.LICZNIK(kOldFilesGone);
  tables::SLEEP(20);

  // 7.
  lib::COPY_KAT(rel, program_dir, "*.dll");
  lib::COPY_KAT(rel, program_dir, "*.exe");
  d.LICZNIK(kLibraries);
  lib::COPY_KAT(rel + "czytaj.to\\", program_dir + "czytaj.to\\");
  d.LICZNIK(kHelp);
  lib::COPY_KAT(rel + "vistrel\\", program_dir + "vistrel\\");
  d.LICZNIK(kSibling);
  lib::COPY_KAT(rel + "mask\\", program_dir + "mask\\");
  d.LICZNIK(kMasks);

  // 8.
  lib::FCOPY(rel + "wk.dbf", program_dir + "wersja.dbf");
  lib::FCOPY(rel + "wk.dbf", program_dir + "DllOk.txt");

  // 9. The database records the newest program that has worked on it.
  std::string distributed;
  if (auto wb = read_database_version(env.areas, rel + "wb.dbf", "wb", true)) distributed = wb->zuv;
  if (!distributed.empty() && tables::S_OTWORZ(env.areas, database_dir, "wersja.dbf", "wb")) {
    table::Table* t = env.areas.find("wb");
    if (t && !t->eof() && field_text(*t, "zuv") < distributed && tables::REK_LOCK(env.areas)) {
      tables::guarded([&] {
        return t->put("zuv", table::Value::of_text(os::cp852_from_utf8(distributed))) && t->commit();
      });
      t->unlock();
    }
    tables::ZAMKNIJ(env.areas, "wb");
  }

  // 10-12.
  DATA_AKTUALIZACJI(env.areas, database_dir, distributed);
  lib::COPY_ALES_KAT(rel + "ksef\\", program_dir, "*.*");
  for (const char* f : kMailTestFiles) lib::DEL_FILE(program_dir + "temp\\" + f);

  // 13.
  run_template_steps(env, program_dir, database_dir, last_version);
  d.LICZNIK(kTemplates);
  return true;
}

}  // namespace zuv::flows
