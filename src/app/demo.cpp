#include "app/demo.h"

#include <filesystem>

#include "platform/os/codepage.h"
#include "ui/dialogs.h"
#include "upgrade/frontend_screen.h"

namespace zuv::app {

bool run_demo(const std::string& name, Program& p, ui::Dialogs& d) {
  if (name == "alarm5") {
    d.ALARM(ui::Where::desktop(), "5", "Uwaga!!",
            "Program instalacyjny wymaga zamknięcia;wszystkich programów ZUV!;Czy kontynuujesz "
            "instalację?",
            {"Kontynuuję", "Rezygnuję"});
  } else if (name == "alarm3") {
    d.ALARM("3", "B", "Nie da się utworzyć katalogu o nazwie:;*C:\\ZUV\\Dane 2026\\*");
  } else if (name == "edtstr") {
    d.QMX_EDTSTR("NowyKatalog", 100, "Nowy katalog", "Wprowadź nazwę dla nowego katalogu");
  } else if (name == "dirselect") {
    // Opened at the current directory (the release's), as the flows will.
    std::error_code ec;
    auto here = std::filesystem::current_path(ec);
#ifdef _WIN32
    std::string start = os::narrow(here.native());
#else
    std::string start = here.string();
#endif
    d.QMXDIRSELECT(p.cProgram.empty() ? start : p.cProgram);
  } else if (name == "licznik") {
    d.LICZNIK(ui::Point{20, 20}, 400, 15, "Tworzenie indeksów...");
    for (int i = 0; i < 9; ++i) {
      d.LICZNIK();
      d.frontend().idle(100);
    }
    d.frontend().idle(30000);  // long enough to be looked at
    d.LICZNIK("DEL");
  } else if (name == "ekran") {
    // The upgrade's progress screen half-way through a database of 12 firms.
    upgrade::FrontendScreen screen(d.frontend(), ui::Size{630, 370});
    upgrade::ScreenFields f;
    f.heading = "Instalacja programu ZUV (wersja " + p.wersja_p + ")";
    f.stage = "Aktualizacja Bazy Danych";
    screen.open(f);
    upgrade::OPISY(f, "(0005):Piekarnia Złoty Kłos", "00:03:30", "7/12", "12:41:05");
    screen.refresh(f);
    d.frontend().idle(30000);  // long enough to be looked at
  } else {
    return false;
  }
  return true;
}

}  // namespace zuv::app
