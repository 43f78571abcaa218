// The screens of the two installation flows: one or two directory fields (each with
// its chooser button) and the push buttons "Poprzedni ekran" and "Zainstaluj Program".
// The session holds what the operator typed and the end flag; the flows act on it and
// the front ends draw it and report what the operator did.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/gui/dialog_desc.h"

namespace zuv::gui {

inline constexpr const char* kScreenBack = "Poprzedni ekran";
inline constexpr const char* kScreenInstall = "Zainstaluj Program";

struct ScreenField {
  std::string label;
  std::string text;
  int length = 128;
};

struct FlowScreenDesc {
  std::string name;  // how a text front end names the screen
  std::vector<ScreenField> fields;
  Rgb background{208, 208, 167};
  int button_points = 12;  // the push buttons (fh12)
  int label_points = 11;   // the labels over the fields (fh11)
  int field_points = 9;    // the fields themselves (fh9)
  int chooser_icon = 2105, chooser_icon_hover = 2106;
  // The upgrade's screen has a thin border and stays on top; the first installation's
  // has neither.
  bool border = false;
  bool topmost = false;
};

class FlowScreenSession {
 public:
  // install runs for "Zainstaluj Program", choose(field) for a field's chooser button;
  // the screen is disabled around both.
  FlowScreenSession(FlowScreenDesc desc, std::function<void()> install,
                    std::function<void(int field)> choose);

  const FlowScreenDesc& desc() const { return desc_; }
  int field_count() const { return static_cast<int>(desc_.fields.size()); }
  // Fields are numbered from 1.
  const std::string& text(int field) const;
  void set_text(int field, const std::string& text);

  void press_back() { koniec_ = true; }
  void press_install();
  void press_chooser(int field);
  void close() { closed_ = true; }  // Esc, the close event
  void end() { koniec_ = true; }    // a flow that has finished its work
  bool finished() const { return closed_ || koniec_; }

  // Where the flow wants the operator next: a field (1-based) or 0, the screen itself.
  int focus() const { return focus_; }
  void set_focus(int field);

  bool enabled() const { return enabled_; }
  void set_enabled(bool e);

  // A front end that draws real windows follows these.
  std::function<void(bool)> on_enable;
  std::function<void(int)> on_focus;
  std::function<void(int)> on_text;

 private:
  FlowScreenDesc desc_;
  std::function<void()> install_;
  std::function<void(int)> choose_;
  int focus_ = 1;
  bool enabled_ = true;
  bool closed_ = false;
  bool koniec_ = false;
};

}  // namespace zuv::gui
