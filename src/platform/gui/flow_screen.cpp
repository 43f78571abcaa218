#include "platform/gui/flow_screen.h"

namespace zuv::gui {

FlowScreenSession::FlowScreenSession(FlowScreenDesc desc, std::function<void()> install,
                                     std::function<void(int field)> choose)
    : desc_(std::move(desc)), install_(std::move(install)), choose_(std::move(choose)) {}

const std::string& FlowScreenSession::text(int field) const {
  static const std::string none;
  if (field < 1 || field > field_count()) return none;
  return desc_.fields[field - 1].text;
}

void FlowScreenSession::set_text(int field, const std::string& text) {
  if (field < 1 || field > field_count()) return;
  std::string t = text;
  // The field holds no more than its length, counted in characters.
  size_t chars = 0, cut = t.size();
  for (size_t i = 0; i < t.size(); ++i)
    if ((static_cast<unsigned char>(t[i]) & 0xC0) != 0x80 && ++chars > static_cast<size_t>(desc_.fields[field - 1].length)) {
      cut = i;
      break;
    }
  t.resize(cut);
  desc_.fields[field - 1].text = t;
  if (on_text) on_text(field);
}

void FlowScreenSession::set_focus(int field) {
  focus_ = field;
  if (on_focus) on_focus(field);
}

void FlowScreenSession::set_enabled(bool e) {
  enabled_ = e;
  if (on_enable) on_enable(e);
}

void FlowScreenSession::press_install() {
  if (!enabled_ || finished()) return;
  set_enabled(false);
  if (install_) install_();
  set_enabled(true);
}

void FlowScreenSession::press_chooser(int field) {
  if (!enabled_ || finished() || field < 1 || field > field_count()) return;
  set_enabled(false);
  if (choose_) choose_(field);
  set_enabled(true);
  set_focus(field);
}

}  // namespace zuv::gui
