#include <chrono>
#include <thread>

#include "platform/gui/toolkit.h"

namespace zuv::gui {

double SystemClock::seconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void SystemClock::sleep_cs(int hundredths) {
  std::this_thread::sleep_for(std::chrono::milliseconds(10 * hundredths));
}

}  // namespace zuv::gui
