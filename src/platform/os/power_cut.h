// A disk that forgets, for the tests that cut the power: while recording, every change
// this layer makes to files and directories is remembered beside the syncs that made
// it durable. At a chosen sync or rename, the states a power cut there could leave are
// written out and the process ends: each file as of its last sync plus a prefix of its
// later writes, and a directory's creates, links, renames and deletions only where the
// directory was synced after them. What lies outside the recorded root, and changes
// made outside this layer, are taken as they stand.
//
// Off, a hook costs one relaxed load. It records in one process: a forked worker's
// changes are not seen, so the runs that use it take one worker. POSIX only.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zuv::os::power_cut {

// How much of each file's writes since its last sync a written-out state keeps.
enum class Kept { None, All, AllButLast, LastTorn };

// The exit code of a process ended at its cut.
inline constexpr int kCutExit = 97;

struct Output {
  Kept kept = Kept::None;
  std::string directory;  // made afresh; it receives the root's contents
};

struct Plan {
  std::string root;  // an absolute native path; only what lies below it is written out
  int cut_at = 0;    // the cut comes just before this sync or rename (1 = the next); 0 never
  std::vector<Output> outputs;
};

// Starts recording (the present state below root counts as on the disk). At the cut,
// states whose files would all be the same as an earlier output's are not written.
void start(const Plan& plan);
// The syncs and renames met since start.
int points();
void stop();

namespace detail {
extern std::atomic<bool> g_recording;
void before_write(int fd, std::uint64_t offset, const void* data, std::size_t n);
void before_truncate(int fd, std::uint64_t length);
void after_create(int fd);
void after_rewrite(int fd);
void after_copy(int fd, std::uint64_t offset, std::size_t n);
void before_sync(int fd);
void before_directory_sync(const std::string& path);
enum class Names { Added, Removed, Moved };
void before_names(Names change, const std::string& path, const std::string* moved_to);
void after_names();
}  // namespace detail

inline bool recording() { return detail::g_recording.load(std::memory_order_relaxed); }

// The hooks this layer's POSIX files call; after_names follows a name change that
// succeeded.
inline void before_write(int fd, std::uint64_t offset, const void* data, std::size_t n) {
  if (recording()) detail::before_write(fd, offset, data, n);
}
inline void before_truncate(int fd, std::uint64_t length) {
  if (recording()) detail::before_truncate(fd, length);
}
// A file just opened by its creation: new, unless its name held one already.
inline void after_create(int fd) {
  if (recording()) detail::after_create(fd);
}
// A file whose whole contents were just written anew (a copy, a whole-file write).
inline void after_rewrite(int fd) {
  if (recording()) detail::after_rewrite(fd);
}
// n bytes at offset just copied into the file by the OS.
inline void after_copy(int fd, std::uint64_t offset, std::size_t n) {
  if (recording()) detail::after_copy(fd, offset, n);
}
inline void before_sync(int fd) {
  if (recording()) detail::before_sync(fd);
}
inline void before_directory_sync(const std::string& path) {
  if (recording()) detail::before_directory_sync(path);
}
inline void before_added(const std::string& path) {
  if (recording()) detail::before_names(detail::Names::Added, path, nullptr);
}
inline void before_removed(const std::string& path) {
  if (recording()) detail::before_names(detail::Names::Removed, path, nullptr);
}
inline void before_moved(const std::string& from, const std::string& to) {
  if (recording()) detail::before_names(detail::Names::Moved, from, &to);
}
inline void after_names() {
  if (recording()) detail::after_names();
}

}  // namespace zuv::os::power_cut
