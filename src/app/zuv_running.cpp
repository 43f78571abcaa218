#include "app/zuv_running.h"

#include <chrono>
#include <thread>

#include "lib/text.h"
#include "platform/os/process.h"

namespace zuv::app {

bool IS_ZUV_RUN(int pause_ms) {
  if (pause_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
  auto processes = os::running_process_names();
  if (!processes) return false;
  for (const auto& names : *processes)
    for (const auto& name : names)
      if (lib::upper_ascii(lib::trim(name)) == "ZUV.EXE") return true;
  return false;
}

}  // namespace zuv::app
