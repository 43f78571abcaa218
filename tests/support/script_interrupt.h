// A test double of the operator interrupt: the wait loops of the table helpers meet
// scripted keys, and their tones go to the script front end.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/gui/script.h"
#include "tables/table_access.h"

namespace zuv::tables {

// The Esc check of an unattended or tested run: each check takes the next key of the
// list ("Esc", "Enter", a letter; "" when no key waits), and tones sound through the
// script front end, which counts them in its transcript.
class ScriptInterrupt : public OperatorInterrupt {
 public:
  ScriptInterrupt(gui::ScriptFrontend& frontend, std::vector<std::string> keys)
      : fe_(frontend), keys_(keys.begin(), keys.end()) {}
  bool NIC() override {
    ++checks_;
    if (keys_.empty()) return false;
    std::string k = keys_.front();
    keys_.pop_front();
    return gui::key_from_name(k) == gui::Key::Esc;
  }
  void TONE(int frequency, double duration) override { fe_.tone(frequency, static_cast<int>(duration * 100)); }
  int checks() const { return checks_; }

 private:
  gui::ScriptFrontend& fe_;
  std::deque<std::string> keys_;
  int checks_ = 0;
};

}  // namespace zuv::tables
