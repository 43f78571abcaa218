// The one place where the flows meet the database upgrade engine and the release's
// template steps. Until the engine is part of the program the hooks answer that the
// database upgrade is not available.
#include "app/flow_wiring.h"

namespace zuv::app {

flows::UpgradeHooks upgrade_hooks(Program&, ui::Dialogs&, table::WorkAreas&) {
  flows::UpgradeHooks h;
  h.upgrade_database = [](const std::string&, const std::string&, const std::string&) {
    return std::string("Aktualizacja bazy danych nie jest dostępna;w tej wersji programu instalacyjnego.");
  };
  return h;
}

std::span<const steps::TemplateStep> release_template_steps() { return steps::template_steps(); }

}  // namespace zuv::app
