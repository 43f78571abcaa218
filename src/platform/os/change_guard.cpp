#include "platform/os/change_guard.h"

namespace zuv::os::change_guard {
namespace detail {

std::atomic<ChangeWatcher*> g_watcher{nullptr};
std::atomic<unsigned> g_generation{1};

int notify_slow(const std::string& native_path, Change change, const FileHandle* open) {
  // The watcher's own copies go through this layer too.
  static thread_local bool inside = false;
  ChangeWatcher* w = g_watcher.load();
  if (!w || inside) return 0;
  struct Inside {
    Inside() { inside = true; }
    ~Inside() { inside = false; }
  } mark;
  return w->before_change(native_path, change, open);
}

}  // namespace detail

bool kept_by_watcher(const std::string& native_path) {
  ChangeWatcher* w = detail::g_watcher.load();
  return w && w->keeps(native_path);
}

void watch(ChangeWatcher* watcher) {
  detail::g_watcher.store(watcher);
  detail::g_generation.fetch_add(1);
}

}  // namespace zuv::os::change_guard
