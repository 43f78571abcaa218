// Fault injection for tests: make the N-th file operation of a kind fail with a given
// OS error code. Disarmed, a check costs one relaxed atomic load.
#pragma once

#include <atomic>

namespace zuv::os::fault {

// Sync: a file or directory brought to the disk. A kill (arm_kill) never stops at one:
// a killed process's written pages survive it, so a kill just before a sync is the
// kill after the write before it.
enum class Op { Create, Write, Rename, Delete, Copy, Sync, Count_ };

namespace detail {
extern std::atomic<bool> g_active;
int check_slow(Op op);
}  // namespace detail

// Arms the switch: the nth operation of kind op from now (1 = the next one) fails with
// os_code. Counting of every kind restarts.
void arm(Op op, int nth, int os_code);
// Fails count operations of kind op from the nth on (a fault that outlasts retries).
void arm_range(Op op, int nth, int count, int os_code);
// Fails every operation of kind op from the nth on (a disk that stays broken).
void arm_from(Op op, int nth, int os_code);
// Starts counting operations without failing any (to learn how many a run performs).
void start_counting();
// Ends the process (as a crash: no clean-up, no flush) just before the nth file
// operation of any kind from now; for the tests that kill a writer at every point.
void arm_kill(int nth);
int counted(Op op);
// Every operation of any kind, counted from the last arming, is also stored where given
// (memory a parent process shares with this one), so that a process killed from outside
// tells which operation it had reached: arm_kill(reached + 1) repeats that point.
void publish_reached(std::atomic<int>* where);
void disarm();

// Called by every file operation before it touches the disk: 0 to go on, else the OS
// code to fail with.
inline int check(Op op) {
  if (!detail::g_active.load(std::memory_order_relaxed)) return 0;
  return detail::check_slow(op);
}

// Disarms on scope exit, so a failing test never leaves the switch armed.
struct Scope {
  Scope() = default;
  ~Scope() { disarm(); }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;
};

}  // namespace zuv::os::fault
