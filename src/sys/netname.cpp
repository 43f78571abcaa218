#include "sys/netname.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "lib/text.h"
#include "platform/os/environment.h"
#include "platform/os/registry.h"
#include "platform/os/unicode.h"
#include "sys/registry.h"

namespace zuv::sys {
namespace {

std::string g_netname;  // NETNAME's cache
std::string g_nerka;    // NERKA's cache

std::string environment(const char* name) { return os::get_env(name); }

void replace_all(std::string& s, std::string_view from, std::string_view to) {
  for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) s.replace(at, from.size(), to);
}

// PADR(s, 20): cut or padded to 20 characters.
std::string padded20(const std::string& s) {
  std::string out;
  size_t n = 0;
  for (size_t i = 0; i < s.size() && n < 20; ++n) {
    size_t len = 1;
    while (i + len < s.size() && (static_cast<unsigned char>(s[i + len]) & 0xC0) == 0x80) ++len;
    out.append(s, i, len);
    i += len;
  }
  return out + std::string(20 - std::min<size_t>(20, os::char_count(out)), ' ');
}

// Applied in this order; the symbols are removed where they stand in the list.
const std::pair<const char*, const char*> kTransliteration[] = {
    {"Ą", "A"}, {"Ć", "C"}, {"Ę", "E"}, {"Ł", "L"}, {"Ń", "N"}, {"Ó", "O"}, {"Ś", "S"}, {"Ż", "Z"},
    {"Ź", "Z"}, {"<", ""},  {">", ""},  {"=", ""},  {"!", ""},  {"@", ""},  {"+", ""},  {"Á", "A"},
    {"Ä", "A"}, {"Č", "C"}, {"Ç", "C"}, {"Ë", "E"}, {"Ě", "E"}, {"É", "E"}, {"Í", "J"}, {"Ö", "OE"},
    {"Ő", "O"}, {"Ř", "R"}, {"Š", "S"}, {"Ş", "S"}, {"Ť", "T"}, {"Ü", "UE"}, {"Ú", "U"}, {"Ů", "U"},
    {"Ý", "Y"}, {"Ž", "Z"}};

}  // namespace

std::string upper_utf8(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : static_cast<char>(c);
      ++i;
      continue;
    }
    // Two-byte letters of Latin-1 and Latin Extended-A cover every letter met here.
    if ((c & 0xE0) == 0xC0 && i + 1 < s.size() && (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80) {
      char32_t cp = ((c & 0x1F) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3F);
      if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) cp -= 32;
      else if (cp == 0xFF) cp = 0x178;
      else if ((cp >= 0x100 && cp <= 0x137) || (cp >= 0x14A && cp <= 0x177)) cp &= ~char32_t{1};
      else if (((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) && !(cp & 1)) cp -= 1;
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
      i += 2;
      continue;
    }
    out += static_cast<char>(c);
    ++i;
  }
  return out;
}

std::string workstation_name_from(std::string_view candidate) {
  std::string s = upper_utf8(candidate);
  replace_all(s, "_", " ");
  s = lib::USUN_SPACJE(s);
  replace_all(s, " ", "_");
  for (const char* gone : {".", "/", "\\", "-", ":", ";", ",", "\"", "'"}) replace_all(s, gone, "");
  for (auto& [from, to] : kTransliteration) replace_all(s, from, to);
  return s;
}

void detail::forget_netname() { g_netname.clear(); }

std::string NETNAME() {
  if (g_netname.empty()) {
    g_netname = QUERYREGISTRY(os::reg::kLocalMachine, "System\\CurrentControlSet\\Control\\ComputerName\\ComputerName",
                              "ComputerName");
    if (g_netname.empty()) g_netname = os::host_name();
  }
  return g_netname;
}

std::string NERKA(std::string_view nazwa_sieciowa, NerkaForm form) {
  if (form == NerkaForm::Forget) {
    g_nerka.clear();
    return "";
  }
  if (g_nerka.empty()) {
    std::string candidate = upper_utf8(lib::trim(nazwa_sieciowa));
    if (candidate.empty()) candidate = environment("QMX_NAME");
    if (candidate.empty()) candidate = NETNAME();
    if (candidate.empty()) candidate = "BEZ_NAZWY";
    g_nerka = workstation_name_from(candidate);
    // A name made only of removed characters would leave the workstation nameless.
    if (g_nerka.empty()) g_nerka = "BEZ_NAZWY";
  }
  return form == NerkaForm::Padded ? padded20(g_nerka) : g_nerka;
}

}  // namespace zuv::sys
