// What this layer writes, counted for the benchmarks: the bytes that went to files
// (written, or copied by the OS), in all and by file, the syncs, and every name that
// came to hold a file made anew (created, copied to, renamed onto), in order. Off, a
// hook costs one relaxed load. Counts one process (a forked worker counts its own).
// POSIX only.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zuv::os::write_tally {

struct Totals {
  std::uint64_t bytes = 0;
  std::uint64_t syncs = 0;
  std::size_t names = 0;  // entries of made() so far
};

// Counting from zero.
void start();
void stop();
Totals totals();
// The native paths that received a new file, in order (one entry per time).
std::vector<std::string> made(std::size_t from = 0);
// The bytes each file received, by native path.
std::map<std::string, std::uint64_t> by_file();

namespace detail {
extern std::atomic<bool> g_on;
void wrote(std::uint64_t n, const std::string& native);
void synced();
void named(const std::string& native);
}  // namespace detail

inline bool counting() { return detail::g_on.load(std::memory_order_relaxed); }
inline void wrote(std::uint64_t n, const std::string& native) {
  if (counting()) detail::wrote(n, native);
}
inline void synced() {
  if (counting()) detail::synced();
}
inline void named(const std::string& native) {
  if (counting()) detail::named(native);
}

}  // namespace zuv::os::write_tally
