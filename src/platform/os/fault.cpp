#include "platform/os/fault.h"

#include <cstdlib>
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
  int last = 0;     // with a range: the last failing one
  int kill_at = 0;  // 0: never; else the operation of any kind that ends the process
  int any = 0;
  std::atomic<int>* published = nullptr;
};
State& state() {
  static State s;
  return s;
}
void reset_counts(State& s) {
  for (int& c : s.counts) c = 0;
  s.any = 0;
}
}  // namespace

void arm(Op op, int nth, int os_code) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  reset_counts(s);
  s.kill_at = 0;
  s.last = 0;
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

void arm_range(Op op, int nth, int count, int os_code) {
  arm(op, nth, os_code);
  std::lock_guard lock(state().mutex);
  state().last = nth + count - 1;
}

void start_counting() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  reset_counts(s);
  s.nth = 0;
  s.kill_at = 0;
  detail::g_active = true;
}

void arm_kill(int nth) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  reset_counts(s);
  s.nth = 0;
  s.kill_at = nth;
  detail::g_active = true;
}

int counted(Op op) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  return s.counts[static_cast<int>(op)];
}

void publish_reached(std::atomic<int>* where) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.published = where;
}

void disarm() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  detail::g_active = false;
  s.nth = 0;
  s.kill_at = 0;
}

int detail::check_slow(Op op) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  int n = ++s.counts[static_cast<int>(op)];
  // A sync is no point a kill stops at: the operations around it are.
  if (op != Op::Sync) {
    ++s.any;
    if (s.published) s.published->store(s.any, std::memory_order_relaxed);
    if (s.kill_at && s.any == s.kill_at) std::_Exit(99);
  }
  if (s.nth == 0 || op != s.target) return 0;
  if (n == s.nth || (s.sticky && n > s.nth) || (n > s.nth && n <= s.last)) return s.code;
  return 0;
}

}  // namespace zuv::os::fault
