#include "platform/os/fault.h"

#include <mutex>

namespace zuv::os::fault {
namespace detail {
std::atomic<bool> g_active{false};
}

namespace {
constexpr int kKinds = static_cast<int>(Op::Count_);
struct State {
  std::mutex mutex;
  int counts[kKinds] = {};
  Op target = Op::Create;
  int nth = 0;  // 0: counting only
  bool sticky = false;
  int code = 0;
};
State& state() {
  static State s;
  return s;
}
void reset_counts(State& s) {
  for (int& c : s.counts) c = 0;
}
}  // namespace

void arm(Op op, int nth, int os_code) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  reset_counts(s);
  s.target = op;
  s.nth = nth;
  s.sticky = false;
  s.code = os_code;
  detail::g_active = true;
}

void arm_from(Op op, int nth, int os_code) {
  arm(op, nth, os_code);
  std::lock_guard lock(state().mutex);
  state().sticky = true;
}

void start_counting() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  reset_counts(s);
  s.nth = 0;
  detail::g_active = true;
}

int counted(Op op) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  return s.counts[static_cast<int>(op)];
}

void disarm() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  detail::g_active = false;
  s.nth = 0;
}

int detail::check_slow(Op op) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  int n = ++s.counts[static_cast<int>(op)];
  if (s.nth == 0 || op != s.target) return 0;
  if (n == s.nth || (s.sticky && n > s.nth)) return s.code;
  return 0;
}

}  // namespace zuv::os::fault
