#include "flows/wez_kat.h"

#include "lib/text.h"

namespace zuv::flows {

void WEZ_KAT(ui::Dialogs& dialogs, gui::FlowScreenSession& screen, int field) {
  std::string start = lib::trim(screen.text(field));
  if (start.empty()) start = "C:\\";
  std::string chosen = dialogs.QMXDIRSELECT(start, false);
  if (!chosen.empty()) screen.set_text(field, chosen);
  screen.set_focus(field);
}

}  // namespace zuv::flows
