// A watcher told of the first change to each file while it is set: before a file is
// written, truncated, created over, renamed, copied over or deleted through this layer.
// The upgrade keeps what a firm step is about to change, and only that, so that a step
// cut off midway can be undone; a watcher that answers an error stops the change.
#pragma once

#include <atomic>
#include <string>

namespace zuv::os {

class FileHandle;

// How the file is about to change: its bytes written over (through a handle, or by a
// file created or copied over it), or its name taken away (renamed over, renamed
// elsewhere, deleted), which leaves the bytes it had as they were.
enum class Change { Write, Unlink };

class ChangeWatcher {
 public:
  virtual ~ChangeWatcher() = default;
  // native_path is about to change; open is the handle the change goes through when
  // there is one (the file may then be readable only through it). 0 lets it go on,
  // else the OS code the change fails with.
  virtual int before_change(const std::string& native_path, Change change, const FileHandle* open) = 0;
  // Whether the watcher itself brings native_path, changed under it, to the disk when
  // its watch ends: a sync asked for on the way may then wait for that one.
  virtual bool syncs_at_end(const std::string& native_path) {
    (void)native_path;
    return false;
  }
};

namespace change_guard {

namespace detail {
extern std::atomic<ChangeWatcher*> g_watcher;
extern std::atomic<unsigned> g_generation;
int notify_slow(const std::string& native_path, Change change, const FileHandle* open);
}  // namespace detail

// Sets the watcher (nullptr: none). Every handle asks again after a change of watcher.
void watch(ChangeWatcher* watcher);

// Called by the file operations; costs one atomic load when nobody watches.
inline int notify(const std::string& native_path, Change change, const FileHandle* open = nullptr) {
  if (!detail::g_watcher.load(std::memory_order_relaxed)) return 0;
  return detail::notify_slow(native_path, change, open);
}
// Whether a sync of native_path, changed under the present watcher, is left to it.
bool sync_left_to_watcher(const std::string& native_path);

inline bool watching() { return detail::g_watcher.load(std::memory_order_relaxed) != nullptr; }
inline unsigned generation() { return detail::g_generation.load(std::memory_order_relaxed); }

}  // namespace change_guard
}  // namespace zuv::os
