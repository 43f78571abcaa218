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
// file created or copied over it), or its name taken away (renamed over, deleted), which
// leaves the bytes it had as they were, or its bytes moved to another name (the source
// of a rename), where they may later be written in place.
enum class Change { Write, Unlink, Move };

class ChangeWatcher {
 public:
  virtual ~ChangeWatcher() = default;
  // native_path is about to change; open is the handle the change goes through when
  // there is one (the file may then be readable only through it). 0 lets it go on,
  // else the OS code the change fails with.
  virtual int before_change(const std::string& native_path, Change change, const FileHandle* open) = 0;
  // Whether native_path, changed under the watcher, was kept by it as it was before
  // and reaches the disk when the watch ends: a cut is undone from what was kept, so
  // the file's own syncs and undo journals are not needed meanwhile.
  virtual bool keeps(const std::string& native_path) {
    (void)native_path;
    return false;
  }
  // Whether writes to native_path, not yet changed under the watcher, may wait in
  // memory until the watch ends (held_writes.h): the file then stays as it is on the
  // disk, and the watcher is told only when it is written or replaced there.
  virtual bool may_hold(const std::string& native_path) {
    (void)native_path;
    return false;
  }
  // Whether a cut before the watch ends puts native_path back as it is now, should it
  // change: a second watcher may then let its own note of it wait.
  virtual bool will_keep(const std::string& native_path) {
    (void)native_path;
    return false;
  }
};

namespace change_guard {

// The watcher's answer to a change: code 0 lets it go on, else the OS code the change
// fails with; kept says that the watcher keeps the file (ChangeWatcher::keeps). The
// answer is handed to the code making the change, which alone decides what to skip:
// nothing below asks the watcher about a file it was not told of.
struct Answer {
  int code = 0;
  bool kept = false;
};

namespace detail {
extern std::atomic<ChangeWatcher*> g_watcher;
extern std::atomic<ChangeWatcher*> g_outer;
extern std::atomic<unsigned> g_generation;
Answer notify_slow(const std::string& native_path, Change change, const FileHandle* open);
extern thread_local bool g_telling;
}  // namespace detail

// Sets the watcher (nullptr: none). Every handle asks again after a change of watcher.
void watch(ChangeWatcher* watcher);
// Sets a second watcher for a whole run, told before the first one and regardless of
// it (nullptr: none). Its keeps() is not asked: it keeps for its own ends, while the
// file's syncs are the first watcher's business.
void watch_outer(ChangeWatcher* watcher);

// Called by the file operations; costs two atomic loads when nobody watches.
inline Answer ask(const std::string& native_path, Change change, const FileHandle* open = nullptr) {
  if (!detail::g_watcher.load(std::memory_order_relaxed) && !detail::g_outer.load(std::memory_order_relaxed))
    return {};
  return detail::notify_slow(native_path, change, open);
}
inline int notify(const std::string& native_path, Change change, const FileHandle* open = nullptr) {
  return ask(native_path, change, open).code;
}

inline bool watching() {
  return detail::g_watcher.load(std::memory_order_relaxed) != nullptr ||
         detail::g_outer.load(std::memory_order_relaxed) != nullptr;
}
// Whether a watcher is being told of a change now (its own file work is not watched).
inline bool telling() { return detail::g_telling; }
inline ChangeWatcher* current() { return detail::g_watcher.load(std::memory_order_relaxed); }
inline unsigned generation() { return detail::g_generation.load(std::memory_order_relaxed); }

}  // namespace change_guard
}  // namespace zuv::os
