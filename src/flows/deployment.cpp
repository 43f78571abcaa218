#include "flows/deployment.h"

#include "flows/program_files.h"
#include "flows/records.h"
#include "lib/files.h"
#include "lib/text.h"
#include "platform/base/discard.h"
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

void unload_fonts(const std::string& directory) {
  auto fonts = os::list_directory(directory + "*.ttf", "HS");
  if (fonts.size() > 30) fonts.resize(30);
  for (const auto& f : fonts) os::remove_font_resource(directory + lib::lower_ascii(f.name));
}

// Deletes the files of directory matching mask that the new program does not bring.
void remove_stale(const std::string& directory, const std::string& mask, const ProgramFiles& files) {
  for (const auto& f : os::list_directory(directory + mask, "HS")) {
    const std::string path = directory + f.name;
    if (files.brings(path)) continue;
    if (lib::lower_ascii(f.name).ends_with(".ttf")) os::remove_font_resource(directory + lib::lower_ascii(f.name));
    base::let_go(lib::DEL_FILE(path), "a file the new program does not bring is never opened by it");
  }
}

}  // namespace

void USUN_FONTY(const std::string& directory) {
  unload_fonts(directory);
  // Whatever could not go was most likely still loaded: unload once more and retry.
  if (lib::DEL_KAT(directory, "*.*")) return;
  for (const auto& f : os::list_directory(directory + "*.ttf", "HS")) {
    os::remove_font_resource(directory + lib::lower_ascii(f.name));
    base::let_go(lib::DEL_FILE(directory + f.name), "a font still loaded goes with the next upgrade");
  }
}

void DATA_AKTUALIZACJI(table::WorkAreas& areas, const std::string& database_dir, const std::string& version) {
  if (!tables::S_OTWORZ(areas, database_dir + "public\\", "pub_dat.dbf", "pdat")) return;
  table::Table* t = areas.find("pdat");
  if (t && !t->eof() && tables::REK_LOCK(areas)) {
    bool written = true;
    tables::guarded([&] {
      auto put = [&](std::string_view name, const table::Value& v) {
        if (t->field_index(name) >= 0) written = t->put(name, v) && written;
      };
      put("nv_d_check", table::Value::of_date(os::today_dtos()));
      put("nv_t_check", table::Value::of_text(os::time_of_day()));
      put("nv_r_check", table::Value::of_text(os::cp852_from_utf8("Zainstalowano: " + version)));
      put("nv_d_down0", table::Value::of_date(""));
      put("nv_d_down1", table::Value::of_date(""));
      put("nv_t_down0", table::Value::of_text(""));
      put("nv_t_down1", table::Value::of_text(""));
      return written && t->commit();
    });
    t->unlock();
  }
  tables::ZAMKNIJ(areas, "pdat");
}

std::string WIN2WIN(FlowEnv& env, const std::string& program_dir, const std::string& database_dir,
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

  // 6, 7, 8, 11. The new program goes in whole or not at all (a failure leaves not even
  // the working directories of step 3); the version record last, so that it names the
  // new version only when every file of it is there. Fonts the session loaded from the
  // help directory would hold their files: unloaded first.
  unload_fonts(program_dir + "czytaj.to\\");
  ProgramFiles files;
  files.add_release_program(rel, program_dir);
  // 5. Print templates the program does not have yet; edited ones stay as they are.
  files.needs_directory(program_dir + "txt\\");
  for (const auto& f : os::list_directory(rel + "txt\\*.*", "HS"))
    if (!file_here(program_dir + "txt\\" + f.name)) files.add(rel + "txt\\" + f.name, program_dir + "txt\\" + f.name);
  files.add(rel + "wk.dbf", program_dir + "DllOk.txt");
  files.add(rel + "wk.dbf", program_dir + "wersja.dbf");
  if (std::string failed = files.put_in_place(); !failed.empty()) {
    stage(env, "Pliki programu nie zostały zastąpione: " + failed);
    return failed;
  }
  d.LICZNIK(kLibraries);

  // 3.
  make_program_directories(program_dir);

  // 4, 6. What the old program had and the new one does not bring; the operator's
  // settings and texts stay.
  remove_stale(program_dir + "mask\\", "*.*", files);
  remove_stale(program_dir + "vistrel\\", "*.*", files);
  remove_stale(program_dir + "czytaj.to\\", "*.*", files);
  remove_stale(program_dir, "zuv_*.dll", files);
  for (const char* f : kOldProgramFiles)
    if (!files.brings(program_dir + f))
      base::let_go(lib::DEL_FILE(program_dir + f), "a retired file is never opened by the new program");
  remove_stale(program_dir, "*.dll", files);
  remove_stale(program_dir, "*.exe", files);
  d.LICZNIK(kOldFilesGone);
  d.LICZNIK(kHelp);
  d.LICZNIK(kSibling);

  // 5. (Print templates the program did not have went in with the program's files.)
  d.LICZNIK(kMasks);

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

  // 10, 12.
  DATA_AKTUALIZACJI(env.areas, database_dir, distributed);
  for (const char* f : kMailTestFiles)
    base::let_go(lib::DEL_FILE(program_dir + "temp\\" + f), "a mail test's leftovers are written anew by the next test");

  // 13.
  run_template_steps(env, program_dir, database_dir, last_version);
  d.LICZNIK(kTemplates);
  return "";
}

}  // namespace zuv::flows
