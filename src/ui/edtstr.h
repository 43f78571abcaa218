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

using gui::EntryDesc;
using gui::kEntryAccept;
using gui::kEntryCancel;

EntryDesc build_entry(const std::string& proposal, int length, const std::string& title,
                      const std::string& prompt, TextMeasure& measure);

// One attempt at a time: the front end reports what the operator did and shows the
// outcome (close, or flash the field red with a tone and keep it open).
class EntrySession : public gui::EntryControl {
 public:
  explicit EntrySession(EntryCheck check) : check_(std::move(check)) {}
  // Enter in the field or "Zapamiętaj". An empty text closes without the check.
  Outcome accept(const std::string& text) override;
  // "Rezygnuję", Esc anywhere, the close box.
  Outcome cancel() override;
  const std::string& result() const override { return result_; }
  int checks_run() const { return checks_; }

 private:
  EntryCheck check_;
  std::string result_;
  int checks_ = 0;
};

}  // namespace zuv::ui
