#include "platform/os/held_writes.h"

#include <algorithm>
#include <vector>

#include "platform/os/durable.h"
#include "platform/os/file_handle.h"
#include "platform/os/path.h"
#include "platform/os/unchanged_files.h"
#include "platform/os/status.h"

namespace zuv::os::held_writes {
namespace {

// What a firm's tables changed in place take on the sample (ks_dok, ks_kor, the KSeF
// buffers of a firm past 007), inside the per-process memory goal with the process's
// own 15 MB; a larger firm writes the rest in place.
std::size_t g_budget = 16u << 20;
std::size_t g_bytes = 0;
// Files of every size are held: a small one that grows while its records are updated
// (the taxpayer summary of 015) would write the updated records twice.
std::uint64_t g_smallest = 0;
std::map<std::string, std::shared_ptr<HeldFile>> g_files;  // by native path as written

std::string key_of(const std::string& native_path) { return native_key(native_path); }

void forget(HeldFile& h) {
  g_bytes -= h.pages.size() * kPage;
  h.pages.clear();
  h.live = false;
  std::vector<std::string> names;
  names.swap(h.names);
  for (const std::string& name : names) g_files.erase(key_of(name));  // may free h
}

// A file no handle has open: its bytes, pages laid over, beside it, then renamed over
// it. The watcher keeps the old bytes by a second name, as for any file replaced.
int rewrite_beside(const std::string& path) {
  FileHandle in, out;
  if (int rc = in.open(path, Access::Read, Share::Exclusive)) return rc;
  const std::string temp = path + kNewSuffix;
  if (int rc = out.create(temp, Share::Exclusive)) return rc;
  std::vector<char> buffer(256 * 1024);
  for (std::uint64_t at = 0;;) {
    std::size_t got = 0;
    if (int rc = in.read_at(at, buffer.data(), buffer.size(), got)) return rc;
    if (got == 0) break;
    if (int rc = out.write_at(at, buffer.data(), got)) return rc;
    at += got;
  }
  in.close();
  out.close();
  const Status swapped = replace_durably(temp, path);
  return swapped.ok() ? 0 : swapped.code;
}

}  // namespace

void set_budget(std::size_t bytes) { g_budget = bytes; }
std::size_t budget() { return g_budget; }
void set_smallest(std::uint64_t bytes) { g_smallest = bytes; }
std::uint64_t smallest() { return g_smallest; }
std::size_t held_bytes() { return g_bytes; }
std::size_t held_files() { return g_files.size(); }

std::shared_ptr<HeldFile> find(const std::string& native_path) {
  if (g_files.empty()) return nullptr;
  auto it = g_files.find(key_of(native_path));
  return it == g_files.end() ? nullptr : it->second;
}

std::shared_ptr<HeldFile> start(const std::string& native_path, std::uint64_t disk_size) {
  auto h = std::make_shared<HeldFile>();
  h->names.push_back(native_path);
  h->size = h->disk_valid = disk_size;
  g_files[key_of(native_path)] = h;
  return h;
}

char* add_page(HeldFile& h, std::uint64_t number) {
  if (g_bytes + kPage > g_budget) return nullptr;
  auto& slot = h.pages[number];
  slot.reset(new char[kPage]);
  g_bytes += kPage;
  return slot.get();
}

void drop_pages_from(HeldFile& h, std::uint64_t first) {
  for (auto it = h.pages.lower_bound(first); it != h.pages.end();) {
    it = h.pages.erase(it);
    g_bytes -= kPage;
  }
}

void replace_handle(HeldFile& h, const FileHandle* from, FileHandle* to) {
  std::replace(h.handles.begin(), h.handles.end(), const_cast<FileHandle*>(from), to);
}

void retire(HeldFile& h) { forget(h); }

std::optional<std::uint64_t> size_of(const std::string& native_path) {
  const std::shared_ptr<HeldFile> h = find(native_path);
  if (!h) return std::nullopt;
  return h->size;
}

void gone(const std::string& native_path) {
  unchanged_files::forget_native(native_path);
  const std::shared_ptr<HeldFile> h = find(native_path);
  if (!h) return;
  const std::string key = key_of(native_path);
  g_files.erase(key);
  auto& names = h->names;
  names.erase(std::remove_if(names.begin(), names.end(), [&](const std::string& n) { return key_of(n) == key; }),
              names.end());
  if (names.empty()) forget(*h);
}

void linked(const std::string& existing, const std::string& new_name) {
  const std::shared_ptr<HeldFile> h = find(existing);
  if (!h) return;
  h->names.push_back(new_name);
  h->linked = true;
  g_files[key_of(new_name)] = h;
}

int settle(const std::string& name) {
  const std::string native_path = name;  // name may be one of the names about to go
  const std::shared_ptr<HeldFile> h = find(native_path);
  if (!h) return 0;
  // A name nobody has open is written once, beside (its other names, if any, stay
  // held); a file still open goes in place, under all its names.
  if (!h->handles.empty()) {
    for (FileHandle* open : h->handles)
      if (open->writable()) return open->settle_held();
    // Only readers have it open: a file swapped in under them would leave them the old
    // bytes, and they cannot write in place.
    return oscode::kSharingViolation;
  }
  const int rc = rewrite_beside(native_path);
  if (rc == 0) gone(native_path);
  return rc;
}

int before_told_change(const std::string& native_path, bool renamed_away) {
  const std::shared_ptr<HeldFile> h = find(native_path);
  if (!h || (!renamed_away && h->handles.empty())) return 0;
  return settle(native_path);
}

int write_out_all() {
  while (!g_files.empty())
    if (int rc = settle(g_files.begin()->second->names.front())) return rc;
  return 0;
}

void drop_all() {
  while (!g_files.empty()) {
    const std::shared_ptr<HeldFile> h = g_files.begin()->second;
    forget(*h);
  }
}

}  // namespace zuv::os::held_writes
