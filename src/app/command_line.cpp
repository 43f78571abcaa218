#include "app/command_line.h"

#include <cstdlib>

namespace zuv::app {

std::string default_ui() {
#ifdef _WIN32
  return "gui";
#else
  return "console";
#endif
}

std::string usage_text() {
  return "Użycie: zuvinst WERSJA_PROGRAMU WERSJA_BAZY ROK [--ui=gui|console|script:PLIK]\n"
         "       zuvinst WERSJA_PROGRAMU WERSJA_BAZY ROK --silent --upgrade KATALOG_PROGRAMU [--log PLIK]\n"
         "       zuvinst WERSJA_PROGRAMU WERSJA_BAZY ROK --silent --install KATALOG_PROGRAMU KATALOG_BAZY [--log PLIK]\n"
         "  WERSJA_PROGRAMU  wersja programu w pakiecie, np. 26.01.001\n"
         "  WERSJA_BAZY      wersja bazy danych, np. 026.01.033\n"
         "  ROK              rok, którego dotyczy wersja, np. 2026\n"
         "  --ui             okna Windows (gui), terminal (console) albo odpowiedzi\n"
         "                   z pliku (script:PLIK, po jednej w wierszu)\n"
         "   albo: zuvinst WERSJA_PROGRAMU WERSJA_BAZY ROK --upgrade-db KATALOG_BAZY\n"
         "                 --program KATALOG_PROGRAMU [--plan]\n"
         "  --upgrade-db     aktualizacja samej bazy danych, bez okien (np. na serwerze)\n"
         "  --program        katalog programu ZUV korzystającego z tej bazy\n"
         "  --plan           tylko wypisz, co zostałoby zrobione; niczego nie zmieniaj\n"
         "  --no-undo        nie zachowuj stanu sprzed instalacji (cofnięcie będzie niemożliwe)\n"
         "   albo: zuvinst WERSJA_PROGRAMU WERSJA_BAZY ROK --undo-db KATALOG_BAZY\n"
         "                 --program KATALOG_PROGRAMU [--plan] [--forget-undo]\n"
         "  --undo-db        przywróć bazę i program sprzed instalacji tego wydania, o ile\n"
         "                   nikt od tego czasu nie pracował; kod wyjścia 0 cofnięto,\n"
         "                   2 odmowa (nic nie zmieniono), 3 przerwane (uruchom ponownie)\n"
         "  --forget-undo    usuń zachowany stan sprzed instalacji, niczego nie cofając\n"
         "  --smb-credentials PLIK  baza w udziale Samby: dane logowania do udziału\n"
         "                   (wiersze username=, password=, domain=)\n"
         "  --no-samba-check udział Samby zamknięty ręcznie: nie blokuj go i nie sprawdzaj\n"
         "  --db-path KATALOG  (--silent --install) katalog bazy zapisany w baza.dbf programu,\n"
         "                   tak jak widzą go stacje robocze, np. Z:\\ZUV\\BAZA\\\n"
         "  --silent         bez okien: każde pytanie dostaje domyślny przycisk, każde okno\n"
         "                   i etap trafia do dziennika (--log) i na standardowe wyjście błędów;\n"
         "                   kod wyjścia 0 sukces, 1 część firm nie przeszła, 2 odmowa,\n"
         "                   3 błąd po zmianie bazy danych\n";
}

std::optional<CommandLine> parse_command_line(const std::vector<std::string>& args,
                                              std::string* error) {
  CommandLine cl;
  cl.ui = default_ui();
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    // The value of "--name=value" or "--name value"; "" when there is none.
    auto value_of = [&] {
      return a.find('=') != std::string::npos ? a.substr(a.find('=') + 1)
             : i + 1 < args.size()            ? args[++i]
                                              : std::string();
    };
    if (a.rfind("--ui=", 0) == 0) {
      cl.ui = a.substr(5);
      if (cl.ui != "gui" && cl.ui != "console" && !(cl.ui.rfind("script:", 0) == 0 && cl.ui.size() > 7)) {
        if (error) *error = "Nieznany interfejs: " + cl.ui;
        return std::nullopt;
      }
    } else if (a == "--upgrade-db" || a == "--program" || a == "--undo-db" || a.rfind("--upgrade-db=", 0) == 0 ||
               a.rfind("--program=", 0) == 0 || a.rfind("--undo-db=", 0) == 0) {
      std::string name = a.substr(0, a.find('='));
      const std::string value = value_of();
      if (value.empty()) {
        if (error) *error = "Brak katalogu po opcji " + name + ".";
        return std::nullopt;
      }
      (name == "--upgrade-db" ? cl.upgrade_db : name == "--undo-db" ? cl.undo_db : cl.program_dir) = value;
    } else if (a == "--no-undo") {
      cl.no_undo = true;
    } else if (a == "--forget-undo") {
      cl.forget_undo = true;
    } else if (a == "--plan") {
      cl.plan = true;
    } else if (a == "--workers" || a.rfind("--workers=", 0) == 0) {
      const std::string value = value_of();
      char* end = nullptr;
      const long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end || n < 1 || n > 16) {
        if (error) *error = "Po --workers podaj liczbę firm aktualizowanych naraz (od 1 do 16).";
        return std::nullopt;
      }
      cl.workers = static_cast<int>(n);
    } else if (a == "--silent") {
      cl.silent = true;
    } else if (a == "--upgrade" || a == "--install") {
      size_t need = a == "--upgrade" ? 1 : 2;
      if (!cl.silent_flow.empty()) {
        if (error) *error = "Podaj tylko jedno z --upgrade i --install.";
        return std::nullopt;
      }
      cl.silent_flow = a.substr(2);
      for (size_t k = 0; k < need; ++k) {
        if (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0) {
          if (error)
            *error = a == "--upgrade" ? "Po --upgrade podaj katalog programu."
                                      : "Po --install podaj katalog programu i katalog bazy danych.";
          return std::nullopt;
        }
        cl.silent_dirs.push_back(args[++i]);
      }
    } else if (a == "--log" || a.rfind("--log=", 0) == 0) {
      if (a == "--log") {
        if (i + 1 >= args.size()) {
          if (error) *error = "Po --log podaj plik dziennika.";
          return std::nullopt;
        }
        cl.log = args[++i];
      } else {
        cl.log = a.substr(6);
      }
    } else if (a == "--smb-credentials" || a.rfind("--smb-credentials=", 0) == 0) {
      cl.smb_credentials = value_of();
      if (cl.smb_credentials.empty()) {
        if (error) *error = "Po --smb-credentials podaj plik z danymi logowania do udziału Samby.";
        return std::nullopt;
      }
    } else if (a == "--db-path" || a.rfind("--db-path=", 0) == 0) {
      cl.db_path = value_of();
      if (cl.db_path.empty()) {
        if (error) *error = "Po --db-path podaj katalog bazy danych tak, jak widzą go stacje robocze.";
        return std::nullopt;
      }
    } else if (a == "--no-samba-check") {
      cl.no_samba_check = true;
    } else if (a.rfind("--demo=", 0) == 0) {
      cl.demo = a.substr(7);
    } else if (a.rfind("--", 0) == 0) {
      if (error) *error = "Nieznana opcja: " + a;
      return std::nullopt;
    } else {
      cl.params.push_back(a);
    }
  }
  if (cl.params.size() < 3) {
    if (error) *error = "Brak parametrów: program instalacyjny wymaga trzech (podano " +
                        std::to_string(cl.params.size()) + ").";
    return std::nullopt;
  }
  if (cl.params.size() > 3) {
    if (error) *error = "Za dużo parametrów: program instalacyjny przyjmuje trzy.";
    return std::nullopt;
  }
  if (!cl.undo_db.empty() && !cl.upgrade_db.empty()) {
    if (error) *error = "Opcji --undo-db i --upgrade-db nie można użyć razem.";
    return std::nullopt;
  }
  if (!cl.headless() && (cl.plan || !cl.program_dir.empty() || cl.workers != 1)) {
    if (error) *error = "Opcje --program, --plan i --workers działają tylko z opcją --upgrade-db albo --undo-db.";
    return std::nullopt;
  }
  if (cl.headless() && cl.program_dir.empty()) {
    if (error) *error = cl.undoing() ? "Cofnięcie instalacji (--undo-db) wymaga katalogu programu (--program)."
                                     : "Aktualizacja bazy (--upgrade-db) wymaga katalogu programu (--program).";
    return std::nullopt;
  }
  if (cl.forget_undo && !cl.undoing()) {
    if (error) *error = "Opcja --forget-undo działa tylko z --undo-db KATALOG_BAZY --program KATALOG_PROGRAMU.";
    return std::nullopt;
  }
  if (cl.no_undo && cl.upgrade_db.empty() && cl.silent_flow != "upgrade") {
    if (error) *error = "Opcja --no-undo działa tylko z --upgrade-db albo --silent --upgrade.";
    return std::nullopt;
  }
  if (cl.silent && cl.silent_flow.empty()) {
    if (error) *error = "Tryb --silent wymaga --upgrade KATALOG_PROGRAMU albo --install KATALOG_PROGRAMU KATALOG_BAZY.";
    return std::nullopt;
  }
  if ((!cl.smb_credentials.empty() || cl.no_samba_check) && !cl.headless() && cl.silent_flow != "upgrade") {
    if (error) *error = "Opcje --smb-credentials i --no-samba-check działają tylko z --upgrade-db albo --silent --upgrade.";
    return std::nullopt;
  }
  if (!cl.db_path.empty() && cl.silent_flow != "install") {
    if (error) *error = "Opcja --db-path działa tylko z --silent --install.";
    return std::nullopt;
  }
  if (!cl.silent && (!cl.silent_flow.empty() || !cl.log.empty())) {
    if (error) *error = "Opcje --upgrade, --install i --log działają tylko z --silent.";
    return std::nullopt;
  }
  return cl;
}

}  // namespace zuv::app
