#include "platform/gui/toolkit.h"

namespace zuv::gui {

// The screen as a question: its fields in the text, one button to install, one per
// field to type it, one per field for the chooser, and one to go back.
void Frontend::run_flow_screen(ui::FlowScreenSession& s) {
  const int n = s.field_count();
  while (!s.finished()) {
    std::string text;
    std::vector<std::string> buttons = {ui::kScreenInstall};
    for (int f = 1; f <= n; ++f) {
      text += s.desc().fields[f - 1].label + ";[" + s.text(f) + "];";
      buttons.push_back("Wpisz katalog " + std::to_string(f));
      buttons.push_back("Wybierz katalog " + std::to_string(f));
    }
    buttons.push_back(ui::kScreenBack);
    ui::AlarmSpec desc = ui::build_alarm({}, "4", s.desc().name, text, buttons, std::nullopt, reference(), *this);
    desc.timeout_seconds = 1000000;  // a screen waits for the operator
    ui::AlarmSession session(desc, clock().seconds());
    run_alarm(session);
    int b = session.result();
    if (b == 0) {
      s.close();
    } else if (b == 1) {
      s.press_install();
    } else if (b == static_cast<int>(buttons.size())) {
      s.press_back();
    } else {
      int field = b / 2;
      if (b % 2 == 0) {
        const auto& f = s.desc().fields[field - 1];
        ui::EntrySpec e = ui::build_entry(s.text(field), f.length, s.desc().name, f.label, *this);
        ui::EntrySession entry({});
        std::string typed = run_entry(e, entry);
        if (!typed.empty()) s.set_text(field, typed);
        s.set_focus(field);
      } else {
        s.press_chooser(field);
      }
    }
  }
}

}  // namespace zuv::gui
