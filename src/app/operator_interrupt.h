// The front end's interrupt check and tone, handed to the table helpers' wait loops.
#pragma once

#include "platform/gui/toolkit.h"
#include "tables/table_access.h"

namespace zuv::app {

class FrontendInterrupt : public tables::OperatorInterrupt {
 public:
  explicit FrontendInterrupt(gui::Frontend& frontend) : fe_(frontend) {}
  bool NIC() override { return fe_.check_interrupt(); }
  // The front ends sound whole tone units; a shorter tone still sounds one.
  void TONE(int frequency, double duration) override {
    fe_.tone(frequency, duration < 1 ? 1 : static_cast<int>(duration + 0.5));
  }

 private:
  gui::Frontend& fe_;
};

// Installed for the life of the object.
class ScopedFrontendInterrupt {
 public:
  explicit ScopedFrontendInterrupt(gui::Frontend& frontend) : interrupt_(frontend) {
    tables::set_operator_interrupt(&interrupt_);
  }
  ~ScopedFrontendInterrupt() { tables::set_operator_interrupt(nullptr); }
  ScopedFrontendInterrupt(const ScopedFrontendInterrupt&) = delete;
  ScopedFrontendInterrupt& operator=(const ScopedFrontendInterrupt&) = delete;

 private:
  FrontendInterrupt interrupt_;
};

}  // namespace zuv::app
