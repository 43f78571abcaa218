#include "app/install_records.h"

#include <ctime>

#include "lib/files.h"
#include "lib/text.h"
#include "platform/base/discard.h"
#include "platform/os/clock.h"
#include "platform/os/files.h"
#include "platform/os/shelllink.h"
#include "sys/netname.h"
#include "sys/registry.h"

namespace zuv::app {
namespace {

std::string format_time(const std::tm& t, const char* format) {
  char buf[64];
  std::strftime(buf, sizeof buf, format, &t);
  return buf;
}

}  // namespace

std::string installation_key(std::string_view year) {
  return "HKEY_CURRENT_USER\\Software\\Trevanor\\Zuv\\" + std::string(year);
}

std::string uninstall_key(std::string_view year) {
  return "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZUV" + std::string(year);
}

std::string desktop_link(const InstallRecordValues& v, std::string_view year) {
  return v.cPulpit + "Zuv " + std::string(year) + ".lnk";
}

std::string menu_folder(const InstallRecordValues& v, std::string_view year) {
  return v.cMenu + "Trevanor\\Zuv-" + std::string(year);
}

void REJESTRY(const InstallRecordValues& v, const std::string& program_dir, const std::string& database_dir,
              const std::string& year, std::optional<std::tm> now) {
  using sys::RegValue;
  std::tm t = now ? *now : os::local_time(std::time(nullptr));

  // The installation record; the reader at start-up takes the same two steps.
  sys::XbpReg rec = sys::XbpReg::New(installation_key(year));
  if (!rec.Status()) rec.Create();
  rec.MoveDown(year);
  rec.Standard(RegValue::of("Parametry instalacyjne ZUV"));
  rec.SetValue("Data_instalacji", RegValue::of(format_time(t, "%Y.%m.%d/%H:%M:%S")));
  rec.SetValue("Rok", RegValue::of(year));
  rec.SetValue("Program", RegValue::of(program_dir));
  rec.SetValue("Baza", RegValue::of(database_dir));
  rec.SetValue("Wersja_Programu", RegValue::of(v.wersja_p));
  rec.SetValue("Wersja_Bazy", RegValue::of(v.wersja_b));

  sys::XbpReg un = sys::XbpReg::New(uninstall_key(year));
  if (!un.Status()) un.Create();
  un.MoveDown("ZUV" + year);
  un.SetValue("DisplayName", RegValue::of("Zuv wersja " + v.wersja_p));
  un.SetValue("DisplayVersion", RegValue::of(v.wersja_p));
  un.SetValue("Publisher", RegValue::of("Trevanor NK"));
  un.SetValue("InstallDate", RegValue::of(format_time(t, "%Y%m%d")));
  un.SetValue("InstallLocation", RegValue::of(program_dir));
  un.SetValue("NoModify", RegValue::of(1));
  un.SetValue("NoRepair", RegValue::of(1));
  un.SetValue("QuitUninstallString", RegValue::of(program_dir + "un_zuv.exe"));
  un.SetValue("UninstallString", RegValue::of(program_dir + "un_zuv.exe"));

  os::ShellLink link;
  link.target = program_dir + "zuv.exe";
  link.working_dir = program_dir;
  if (!v.nazwa_sieciowa.empty()) link.arguments = "/N" + sys::NERKA(v.nazwa_sieciowa);
  link.description = " Program ZUV na rok " + year;

  if (!v.cPulpit.empty()) {
    std::string file = desktop_link(v, year);
    bool current = false;
    if (os::file_exists(file)) {
      std::optional<os::ShellLink> old = os::read_shell_link(file);
      current = old && sys::upper_utf8(old->target) == sys::upper_utf8(link.target);
    }
    // A link is replaced by renaming a complete new one over it, never deleted first.
    if (!current) os::create_shell_link(file, link);
  }

  if (!v.cMenu.empty()) {
    std::string folder = menu_folder(v, year);
    base::let_go(lib::MAKEDIR(folder), "the folder is looked at below");
    if (os::directory_exists(folder)) os::create_shell_link(folder + "\\Zuv-" + year + ".lnk", link);
  }
}

}  // namespace zuv::app
