#include "platform/os/change_guard.h"

#include "platform/os/file_handle.h"

namespace zuv::os::change_guard {
namespace detail {

std::atomic<ChangeWatcher*> g_watcher{nullptr};
std::atomic<unsigned> g_generation{1};

// The watcher's own copies and journals go through this layer too.
thread_local bool inside = false;
struct Inside {
  Inside() { inside = true; }
  ~Inside() { inside = false; }
};
std::atomic<int> g_held_error{0};

int notify_slow(const std::string& native_path, Change change, const FileHandle* open) {
  ChangeWatcher* w = g_watcher.load();
  if (!w || inside) return 0;
  Inside mark;
  return w->before_change(native_path, change, open);
}

}  // namespace detail

std::shared_ptr<UndoJournal> journal_for(const std::string& native_path, const FileHandle& open) {
  ChangeWatcher* w = detail::g_watcher.load();
  if (!w || detail::inside) return nullptr;
  detail::Inside mark;
  return w->journal_for(native_path, open);
}

int take_held_error() { return detail::g_held_error.exchange(0); }

void note_held_error(int code) {
  int none = 0;
  if (code) detail::g_held_error.compare_exchange_strong(none, code);
}

bool kept_by_watcher(const std::string& native_path) {
  ChangeWatcher* w = detail::g_watcher.load();
  return w && w->keeps(native_path);
}

void watch(ChangeWatcher* watcher) {
  // Writes held for the watcher's journals go out before it goes.
  release_held_writes();
  detail::g_watcher.store(watcher);
  detail::g_generation.fetch_add(1);
}

}  // namespace zuv::os::change_guard
