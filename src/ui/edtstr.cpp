// QMX_EDTSTR, the one-line text entry: its layout and the check of each attempt.
#include "ui/edtstr.h"

#include <algorithm>

namespace zuv::ui {

EntryDesc build_entry(const std::string& proposal, int length, const std::string& title,
                      const std::string& prompt, TextMeasure& measure) {
  EntryDesc s;
  s.proposal = proposal;
  s.length = std::max(length, static_cast<int>(proposal.size()));
  s.title = title;
  s.prompt_lines = split_lines(prompt);
  Size line = measure.text_box("ŹJjy", "Times New Roman", s.prompt_points, false);
  Size block{0, 0};
  for (const auto& l : s.prompt_lines) {
    block.w = std::max(block.w, measure.text_box(l, "Times New Roman", s.prompt_points, false).w);
    block.h += line.h;
  }
  Size panel = (block.w || block.h) ? Size{block.w + 16, block.h + 8} : Size{0, 0};
  Size label = measure.text_box("Zapamietaj", "Arial", s.button_points, true);
  s.button_size = {label.w + 36, label.h + 10};
  int row = 2 * s.button_size.w + 60;
  if (row > panel.w) panel.w = row;
  s.prompt_size = panel;
  s.field_size = {panel.w, line.h + 8};
  s.dialog_size = {panel.w + 28, panel.h + 84 + s.field_size.h + s.button_size.h};
  return s;
}

EntrySession::Outcome EntrySession::accept(const std::string& text) {
  if (text.empty()) {
    result_.clear();
    return Outcome::Accepted;
  }
  ++checks_;
  if (check_ && !check_(text)) return Outcome::Rejected;
  result_ = text;
  return Outcome::Accepted;
}

EntrySession::Outcome EntrySession::cancel() {
  result_.clear();
  return Outcome::Cancelled;
}

}  // namespace zuv::ui
