#include "platform/os/write_tally.h"

#include <mutex>

namespace zuv::os::write_tally {

namespace detail {
std::atomic<bool> g_on{false};
}

namespace {
std::atomic<std::uint64_t> g_bytes{0};
std::atomic<std::uint64_t> g_syncs{0};
std::mutex g_names_lock;
std::vector<std::string> g_names;
std::map<std::string, std::uint64_t> g_by_file;  // under g_names_lock
}  // namespace

void start() {
  g_bytes = 0;
  g_syncs = 0;
  {
    std::lock_guard<std::mutex> hold(g_names_lock);
    g_names.clear();
    g_by_file.clear();
  }
  detail::g_on = true;
}

void stop() { detail::g_on = false; }

Totals totals() {
  Totals t;
  t.bytes = g_bytes.load(std::memory_order_relaxed);
  t.syncs = g_syncs.load(std::memory_order_relaxed);
  std::lock_guard<std::mutex> hold(g_names_lock);
  t.names = g_names.size();
  return t;
}

std::vector<std::string> made(std::size_t from) {
  std::lock_guard<std::mutex> hold(g_names_lock);
  if (from >= g_names.size()) return {};
  return {g_names.begin() + static_cast<std::ptrdiff_t>(from), g_names.end()};
}

std::map<std::string, std::uint64_t> by_file() {
  std::lock_guard<std::mutex> hold(g_names_lock);
  return g_by_file;
}

void detail::wrote(std::uint64_t n, const std::string& native) {
  g_bytes.fetch_add(n, std::memory_order_relaxed);
  std::lock_guard<std::mutex> hold(g_names_lock);
  g_by_file[native] += n;
}
void detail::synced() { g_syncs.fetch_add(1, std::memory_order_relaxed); }
void detail::named(const std::string& native) {
  std::lock_guard<std::mutex> hold(g_names_lock);
  g_names.push_back(native);
}

}  // namespace zuv::os::write_tally
