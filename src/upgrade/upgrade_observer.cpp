#include "upgrade/upgrade_observer.h"

#include "tables/table_access.h"
#include "ui/alarm.h"
#include "ui/licznik.h"

namespace zuv::upgrade {

void OperatorObserver::open_screen(const ScreenFields& fields) {
  if (screen) screen->open(fields);
}

void OperatorObserver::refresh_screen(const ScreenFields& fields) {
  if (screen) screen->refresh(fields);
}

void OperatorObserver::progress_begin(double maximum, const std::string& text) {
  if (licznik && !licznik->exists())
    licznik->create(ui::Point{20, 20}, 400, maximum, text);
  else
    progress_restart(maximum, text);
}

void OperatorObserver::progress_restart(double maximum, const std::string& text) {
  if (licznik) licznik->restart(maximum, text);
}

void OperatorObserver::progress(double n) {
  if (licznik && licznik->exists()) licznik->advance(n);
}

bool OperatorObserver::stop_asked() {
  if (!esc || !esc->NIC() || !dialog) return false;
  return dialog->ALARM("5", "Wstrzymanie instalacji",
                       "Gdy przerwiesz instalację, Nie będzie można;korzystać z całej bazy danych.",
                       {"Kontynuuję", "Chcę przerwać"}) == 2;
}

bool OperatorObserver::accept_duration(int column, const std::string& words) {
  if (!dialog) return true;
  return dialog->ALARM("4", "Czas instalacji (wskaźnik=" + std::to_string(column) + ")",
                       "Instalacja potrwa w przybliżeniu;" + words, {"Potwierdź", "Zrezygnuj"}) == 1;
}

void OperatorObserver::step(std::string_view name, const std::function<void()>& run) {
  if (around_step)
    around_step(name, run);
  else
    run();
}

}  // namespace zuv::upgrade
