// The answers of a database upgrade: the two the suite knows by their codes ("00" every
// firm done, "01" some failed), and the texts of its refusals and errors. Inside the
// program the answer is read once, into UpgradeEnd.
#pragma once

#include <string>

namespace zuv::upgrade {

inline constexpr const char* kUpgradeDone = "00";
inline constexpr const char* kUpgradeFirmsFailed = "01";

// The refusals, as the operator reads them (';' breaks the line).
inline constexpr const char* kMsgOthersWorking =
    "W programie ZUV pracują inni użytkownicy.;Kontynuacja instalacji jest niemożliwa!";
inline constexpr const char* kMsgNoFirms = "Baza danych nie zawiera żadnej firmy!";
inline constexpr const char* kMsgInterrupted = "Instalacja przerwna na życzenie użytkownika";
std::string register_unreadable_message();

// The opening of the driver's error texts outside the firms.
inline constexpr const char* kMsgUpgradeError = "Błąd aktualizacji bazy danych:;";
// Whether an answer of the driver is such an error: the database was changed and stays
// unfinished (a refusal came before any change).
inline bool is_upgrade_error(const std::string& answer) { return answer.rfind(kMsgUpgradeError, 0) == 0; }

// How a run ended. Done and FirmsFailed come after the database changed; Refused before
// any change (or at an operator's stop); Failed is an error that left it unfinished.
enum class UpgradeEnd { Done, FirmsFailed, Refused, Failed };
UpgradeEnd upgrade_end(const std::string& answer);
// Whether the run got as far as changing the database and ending with a code.
inline bool ended_with_code(UpgradeEnd end) { return end == UpgradeEnd::Done || end == UpgradeEnd::FirmsFailed; }

}  // namespace zuv::upgrade
