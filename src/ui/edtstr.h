// The one-line text entry (QMX_EDTSTR): a prompt, a field preset with a proposal,
// "Zapamiętaj" and "Rezygnuję". An entered text must pass the caller's check before
// the dialog closes; the check may act on the disk (the directory chooser creates or
// renames a directory in it), so it runs exactly once per attempt.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/alarm.h"

namespace zuv::ui {

using EntryCheck = std::function<bool(const std::string&)>;

struct EntrySpec {
  std::string proposal;
  int length = 0;  // buffer length of the field, in characters
  std::string title;
  std::vector<std::string> prompt_lines;
  int icon = 104;
  Rgb prompt_panel{208, 208, 167};
  Rgb field_error{255, 184, 160};
  int prompt_points = 12, button_points = 10;
  Size dialog_size, prompt_size, field_size, button_size;
};

inline constexpr const char* kEntryAccept = "Zapamiętaj";
inline constexpr const char* kEntryCancel = "Rezygnuję";

EntrySpec build_entry(const std::string& proposal, int length, const std::string& title,
                      const std::string& prompt, TextMeasure& measure);

// One attempt at a time: the front end reports what the operator did and shows the
// outcome (close, or flash the field red with a tone and keep it open).
class EntrySession {
 public:
  enum class Outcome { Accepted, Rejected, Cancelled };
  explicit EntrySession(EntryCheck check) : check_(std::move(check)) {}
  // Enter in the field or "Zapamiętaj". An empty text closes without the check.
  Outcome accept(const std::string& text);
  // "Rezygnuję", Esc anywhere, the close box.
  Outcome cancel();
  const std::string& result() const { return result_; }
  int checks_run() const { return checks_; }

 private:
  EntryCheck check_;
  std::string result_;
  int checks_ = 0;
};

}  // namespace zuv::ui
