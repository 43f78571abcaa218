// The dialog routines of the program over one front end: ALARM, QMX_EDTSTR,
// QMXDIRSELECT and LICZNIK. One object per process, handed to whoever shows dialogs.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gui/toolkit.h"
#include "ui/alarm.h"
#include "ui/dirselect.h"
#include "ui/edtstr.h"
#include "ui/licznik.h"

namespace zuv::ui {

class Dialogs : public MessageDialog {
 public:
  explicit Dialogs(gui::Frontend& frontend, std::unique_ptr<DirFs> fs = nullptr);
  ~Dialogs() override;

  gui::Frontend& frontend() { return fe_; }

  using MessageDialog::ALARM;
  int ALARM(const std::string& kind, const std::string& title, const std::string& text,
            const std::vector<std::string>& buttons = {}) override;
  int ALARM(const Where& where, const std::string& kind, const std::string& title,
            const std::string& text, const std::vector<std::string>& buttons,
            std::optional<int> timeout_seconds = std::nullopt) override;
  // Kind "1": the wait window, open until the caller drops it.
  std::unique_ptr<gui::WaitWindow> ALARM_WAIT(const std::string& title, const std::string& text,
                                              const Where& where = {});

  std::string QMX_EDTSTR(const std::string& proposal, int length, const std::string& title,
                         const std::string& prompt, EntryCheck check = {});

  // start: nullopt = the last directory chosen (or the current drive's root);
  // "CLOSE" destroys a kept window.
  std::string QMXDIRSELECT(std::optional<std::string> start = std::nullopt, bool destroy = true);
  const std::string& last_directory() const { return last_dir_; }

  // A flow screen until it is finished: the front end's own, or one put together from
  // the message dialog and the text entry where it has none.
  void run_screen(gui::FlowScreenSession& screen);

  // LICZNIK's five forms.
  void LICZNIK(Point pos, int width, double maximum, const std::string& text, int fh8 = 8,
               void* parent = nullptr);
  void LICZNIK(const std::string& command, double maximum = 0, const std::string& text = "");
  void LICZNIK(double n = 1);
  Licznik& licznik() { return licznik_; }

 private:
  gui::Frontend& fe_;
  std::unique_ptr<DirFs> fs_;
  std::unique_ptr<DirChooser> chooser_;
  std::string last_dir_;
  Licznik licznik_;
  std::unique_ptr<gui::WaitWindow> kind1_;
};

}  // namespace zuv::ui
