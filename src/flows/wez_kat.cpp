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

Outcome program_directory_screen(FlowEnv& env, const std::string& name, const std::string& prompt,
                                 const std::function<Outcome(gui::FlowScreenSession&)>& act) {
  Outcome last = Outcome::None;
  gui::FlowScreenDesc desc;
  desc.name = name;
  desc.border = true;
  desc.topmost = true;
  desc.fields.push_back({prompt, env.release.cProgram, 128});
  gui::FlowScreenSession* self = nullptr;
  gui::FlowScreenSession screen(
      desc, [&] { last = act(*self); }, [&](int field) { WEZ_KAT(env.dialogs, *self, field); });
  self = &screen;
  env.dialogs.run_screen(screen);
  env.dialogs.QMXDIRSELECT(std::string("CLOSE"));
  return last;
}

}  // namespace zuv::flows
