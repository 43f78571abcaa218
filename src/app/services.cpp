#include "app/services.h"

#include "app/install_records.h"
#include "app/zuv_running.h"
#include "lib/files.h"
#include "platform/base/discard.h"
#include "sys/registry.h"

namespace zuv::app {
namespace {
std::optional<std::string> text_value(sys::XbpReg& key, std::string_view name) {
  sys::RegValue v = key.GetValue(name);
  if (v.kind != sys::RegValue::Kind::Text) return std::nullopt;
  return v.text;
}
}  // namespace

std::optional<StartupRegistry::ShellFolders> RegistryStartup::shell_folders() {
  sys::XbpReg key = sys::XbpReg::New(
      "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders");
  if (!key.Status()) return std::nullopt;
  ShellFolders folders;
  folders.desktop = text_value(key, "Desktop");
  folders.programs = text_value(key, "Programs");
  return folders;
}

std::optional<StartupRegistry::InstallRecord> RegistryStartup::install_record(const std::string& year) {
  // The same two steps as the writer: the year's key, then its subkey named after the year.
  sys::XbpReg key = sys::XbpReg::New(installation_key(year));
  if (!key.Status()) return std::nullopt;
  key.MoveDown(year);
  InstallRecord record;
  record.program = text_value(key, "Program");
  record.baza = text_value(key, "Baza");
  return record;
}

void wire_common_services(Services& s) {
  static RegistryStartup registry;
  s.registry = &registry;
  s.is_zuv_running = [] { return IS_ZUV_RUN(); };
  s.del_file = [](const std::string& path) { base::let_go(lib::DEL_FILE(path), "a file that stays is seen by the caller's next look"); };
}

}  // namespace zuv::app
