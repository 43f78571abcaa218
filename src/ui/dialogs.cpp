#include "ui/dialogs.h"

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
  EntryDesc desc = build_entry(proposal, length, title, prompt, fe_);
  EntrySession session(std::move(check));
  return fe_.run_entry(desc, session);
}

std::string Dialogs::QMXDIRSELECT(std::optional<std::string> start, bool destroy) {
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

}  // namespace zuv::ui
