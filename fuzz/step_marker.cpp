// A firm step's marker as a cut leaves it ("odzysk\krok.txt"), read as the next run's
// recovery reads it: it must end with what to put back, never a crash; and no file it
// answers may lie outside the firm's own directory (a marker naming "..\x" or "c:\x"
// is damaged, and nothing of it is put back).
#include <cstddef>
#include <cstdint>
#include <string>

#include "upgrade/recovery.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;  // the reader takes at most 1 MB
  const std::string text(reinterpret_cast<const char*>(data), size);
  const zuv::upgrade::StepMarker m = zuv::upgrade::read_step_marker(text);
  for (const auto& f : m.files) {
    if (f.name.empty() || f.name == "." || f.name == ".." || f.name.find_first_of("/\\:") != std::string::npos)
      __builtin_trap();
    if (f.kind != '+' && f.kind != '*' && f.kind != '-') __builtin_trap();
    if (f.kind != '*' && !f.bytes.empty()) __builtin_trap();
  }
  if (m.step.empty() && (m.done || !m.files.empty() || m.damaged)) __builtin_trap();
  return 0;
}
