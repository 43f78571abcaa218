// The workstation name: the computer name (NETNAME) and the short plain identifier
// made from it (NERKA) by which the installer and the suite tell workstations apart.
// Texts are UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace zuv::sys {

// The computer name: the registry's ComputerName value (kept after the first call);
// where the registry does not hold it (Linux without that value), the host name.
std::string NETNAME();

enum class NerkaForm {
  Plain,     // NERKA()
  Padded,    // NERKA(x): padded with spaces (and cut) to 20 characters
  Forget,    // NERKA(x, y): clears the cache and answers ""
};

// nazwa_sieciowa is the program-wide name set by the operator ("" when none); it wins
// over the environment variable QMX_NAME, which wins over NETNAME.
std::string NERKA(std::string_view nazwa_sieciowa = {}, NerkaForm form = NerkaForm::Plain);

// The rules NERKA applies to a candidate name: upper case, blanks to "_", punctuation
// removed, Central European letters transliterated.
std::string workstation_name_from(std::string_view candidate);

namespace detail {
// Drops NETNAME's cache, so that a test can change where the name comes from.
void forget_netname();
}  // namespace detail

// Upper case of a UTF-8 text, Polish and other Latin letters included.
std::string upper_utf8(std::string_view text);

}  // namespace zuv::sys
