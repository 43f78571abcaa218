// The records of a finished installation for the operator's Windows account: the
// installation record of the year, the entry in the list of installed programs, and
// the desktop and Start-menu shortcuts. Texts are UTF-8; directories are Windows path
// texts ending in "\".
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace zuv::app {

// The program-wide values the records are made from.
struct InstallRecordValues {
  std::string wersja_p;        // program version the release carries ("26.01.016")
  std::string wersja_b;        // data version it needs ("026.01.016")
  std::string cPulpit;         // desktop folder ending in "\", "" when none is writable
  std::string cMenu;           // Start-menu "Programs" folder ending in "\", or ""
  std::string nazwa_sieciowa;  // workstation name set by the operator, or ""
};

// The installation record key of a year ("HKEY_CURRENT_USER\Software\Trevanor\Zuv\2026").
std::string installation_key(std::string_view year);
// The uninstall entry key of a year.
std::string uninstall_key(std::string_view year);
// Link files made for a year.
std::string desktop_link(const InstallRecordValues& v, std::string_view year);
std::string menu_folder(const InstallRecordValues& v, std::string_view year);

// Writes both registry records and the shortcuts. Failures are not reported: an older
// record or no shortcut is what remains. now is the moment recorded (default: the
// local time of the call).
void REJESTRY(const InstallRecordValues& v, const std::string& program_dir, const std::string& database_dir,
              const std::string& year, std::optional<std::tm> now = std::nullopt);

}  // namespace zuv::app
