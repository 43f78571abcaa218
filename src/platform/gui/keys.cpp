#include "platform/gui/toolkit.h"

namespace zuv::gui {

Key key_from_name(const std::string& name) {
  static const std::pair<const char*, Key> names[] = {
      {"Esc", Key::Esc},     {"Enter", Key::Enter}, {"Tab", Key::Tab},   {"ShiftTab", Key::ShiftTab},
      {"Left", Key::Left},   {"Right", Key::Right}, {"Up", Key::Up},     {"Down", Key::Down},
      {"F1", Key::F1},       {"Space", Key::Space}, {"Insert", Key::Insert}};
  for (auto& [n, k] : names)
    if (name == n) return k;
  return Key::None;
}

}  // namespace zuv::gui
