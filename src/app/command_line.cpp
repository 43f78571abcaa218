#include "app/command_line.h"

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
         "  WERSJA_PROGRAMU  wersja programu w pakiecie, np. 26.01.001\n"
         "  WERSJA_BAZY      wersja bazy danych, np. 026.01.033\n"
         "  ROK              rok, którego dotyczy wersja, np. 2026\n"
         "  --ui             okna Windows (gui), terminal (console) albo odpowiedzi\n"
         "                   z pliku (script:PLIK, po jednej w wierszu)\n";
}

std::optional<CommandLine> parse_command_line(const std::vector<std::string>& args,
                                              std::string* error) {
  CommandLine cl;
  cl.ui = default_ui();
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("--ui=", 0) == 0) {
      cl.ui = a.substr(5);
      if (cl.ui != "gui" && cl.ui != "console" && !(cl.ui.rfind("script:", 0) == 0 && cl.ui.size() > 7)) {
        if (error) *error = "Nieznany interfejs: " + cl.ui;
        return std::nullopt;
      }
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
  return cl;
}

}  // namespace zuv::app
