#include "ui/dialogs.h"

#include "platform/error/call_context.h"

namespace zuv::ui {

Dialogs::Dialogs(gui::Frontend& frontend, std::unique_ptr<DirFs> fs)
    : fe_(frontend), fs_(fs ? std::move(fs) : make_system_dirfs()) {
  licznik_.set_view(&fe_.progress_view());
}

Dialogs::~Dialogs() {
  if (chooser_) fe_.drop_dirselect(*chooser_);
}

int Dialogs::ALARM(const std::string& kind, const std::string& title, const std::string& text,
                   const std::vector<std::string>& buttons) {
  return ALARM(Where{}, kind, title, text, buttons, std::nullopt);
}

namespace {
Where reference_for(const Where& where, gui::Frontend& fe) {
  if (where.mode == Where::Mode::Desktop) return fe.desktop();
  if (where.mode == Where::Mode::AppWindow && where.width > 0) return where;  // a given window
  return fe.reference();
}
}  // namespace

int Dialogs::ALARM(const Where& where, const std::string& kind, const std::string& title,
                   const std::string& text, const std::vector<std::string>& buttons,
                   std::optional<int> timeout_seconds) {
  Where ref = reference_for(where, fe_);
  AlarmDesc desc = build_alarm(where, kind, title, text, buttons, timeout_seconds, ref, fe_);
  if (desc.wait_window) {
    // Through the numeric form the window stays up until the next one replaces it.
    kind1_ = fe_.open_wait(desc);
    return 0;
  }
  AlarmSession session(desc, fe_.clock().seconds());
  fe_.run_alarm(session);
  return session.result();
}

std::unique_ptr<gui::WaitWindow> Dialogs::ALARM_WAIT(const std::string& title,
                                                     const std::string& text, const Where& where) {
  Where ref = reference_for(where, fe_);
  AlarmDesc desc = build_alarm(where, "1", title, text, {}, std::nullopt, ref, fe_);
  return fe_.open_wait(desc);
}

std::string Dialogs::QMX_EDTSTR(const std::string& proposal, int length, const std::string& title,
                                const std::string& prompt, EntryCheck check) {
  CallContext routine("QMX_EDTSTR");
  EntryDesc desc = build_entry(proposal, length, title, prompt, fe_);
  EntrySession session(std::move(check));
  return fe_.run_entry(desc, session);
}

std::string Dialogs::QMXDIRSELECT(std::optional<std::string> start, bool destroy) {
  CallContext routine("QMXDIRSELECT");
  if (start && *start == "CLOSE") {
    if (chooser_) fe_.drop_dirselect(*chooser_);
    chooser_.reset();
    return "";
  }
  std::string from;
  if (!start) from = last_dir_.empty() ? fs_->current_drive_root() : last_dir_;
  else if (start->empty()) from = fs_->current_drive_root();
  else from = *start;
  if (!from.empty() && from.back() != '\\' && from.back() != '/') from += '\\';

  bool fresh = false;
  if (!chooser_) {
    chooser_ = std::make_unique<DirChooser>(
        *fs_, *this,
        [this](const std::string& p, int len, const std::string& t, const std::string& pr,
               EntryCheck c) { return QMX_EDTSTR(p, len, t, pr, std::move(c)); },
        [this] { fe_.tone(500, 1); });
    chooser_->create();
    chooser_->StartDir(from);
    fresh = true;
  } else if (from != last_dir_) {
    chooser_->StartDir(from);
  }
  chooser_->reset();
  fe_.run_dirselect(*chooser_, fresh);
  std::string result = chooser_->result();
  if (!result.empty()) last_dir_ = result;
  if (destroy) {
    fe_.drop_dirselect(*chooser_);
    chooser_.reset();
  }
  return result;
}

void Dialogs::LICZNIK(Point pos, int width, double maximum, const std::string& text, int fh8,
                      void* parent) {
  licznik_.create(pos, width, maximum, text, fh8, parent);
}

void Dialogs::LICZNIK(const std::string& command, double maximum, const std::string& text) {
  if (command == "NEW") licznik_.restart(maximum, text);
  else if (command == "DEL") licznik_.destroy();
}

void Dialogs::LICZNIK(double n) { licznik_.advance(n); }

// The screen as a question: its fields in the text, one button to install, one per
// field to type it and one for its chooser, and one to go back.
void Dialogs::run_screen(gui::FlowScreenSession& s) {
  if (fe_.run_flow_screen(s)) return;
  const int n = s.field_count();
  while (!s.finished()) {
    std::string text;
    std::vector<std::string> buttons = {gui::kScreenInstall};
    for (int f = 1; f <= n; ++f) {
      text += s.desc().fields[f - 1].label + ";[" + s.text(f) + "];";
      buttons.push_back("Wpisz katalog " + std::to_string(f));
      buttons.push_back("Wybierz katalog " + std::to_string(f));
    }
    buttons.push_back(gui::kScreenBack);
    // Left alone past the question's time-out, the screen is left as with Esc.
    int b = ALARM("4", s.desc().name, text, buttons);
    if (b == 0) {
      s.close();
    } else if (b == 1) {
      s.press_install();
    } else if (b == static_cast<int>(buttons.size())) {
      s.press_back();
    } else if (b % 2 == 0) {
      const auto& f = s.desc().fields[static_cast<size_t>(b / 2 - 1)];
      std::string typed = QMX_EDTSTR(s.text(b / 2), f.length, s.desc().name, f.label);
      if (!typed.empty()) s.set_text(b / 2, typed);
      s.set_focus(b / 2);
    } else {
      s.press_chooser(b / 2);
    }
  }
}

}  // namespace zuv::ui
