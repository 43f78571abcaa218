// The registry on Linux: key handles over the one registry file, read afresh by every
// call and replaced whole by every change (registry_file_posix.h).
#include <algorithm>
#include <map>
#include <mutex>
#include <optional>

#include "platform/os/names.h"
#include "platform/os/registry.h"
#include "platform/os/registry_file_posix.h"
#include "platform/os/unicode.h"

namespace zuv::os::reg {
namespace {

using file::find;
using file::FileLock;
using file::Key;
using file::kRoots;
using file::split_path;
using file::Store;
using file::Value;

std::uint32_t char_count(std::string_view s) { return static_cast<std::uint32_t>(os::char_count(s)); }

// ---- handles ---------------------------------------------------------------------

struct OpenKey {
  Handle root;
  std::vector<std::string> path;
};

std::recursive_mutex g_mutex;  // the handle table and this process's file access; an error
                               // handler may itself read the registry
std::map<Handle, OpenKey> g_open;
Handle g_next = 0x1000;

bool is_root(Handle h) {
  for (auto& [r, n] : kRoots)
    if (r == h) return true;
  return false;
}

std::optional<OpenKey> resolve(Handle h) {
  if (is_root(h)) return OpenKey{h, {}};
  auto it = g_open.find(h);
  if (it == g_open.end()) return std::nullopt;
  return it->second;
}

// Runs op on the key behind handle h (and subkey below it), loading the file first and
// saving it when op changed something.
template <class Op>
long with_key(Handle h, bool write, Op op) {
  std::lock_guard<std::recursive_mutex> guard(g_mutex);
  std::optional<OpenKey> ok = resolve(h);
  if (!ok) return kInvalidHandle;
  std::string file = file::file_path();
  std::optional<FileLock> lock;
  if (write) lock.emplace(file);
  Store store;
  if (long rc = file::load(file, store); rc != kSuccess) return rc;
  Key* key = find(&store.roots[ok->root], ok->path);
  if (!key) return kKeyDeleted;
  bool changed = false;
  long rc = op(store, *ok, *key, changed);
  if (rc == kSuccess && changed) rc = file::save(file, store);
  return rc;
}

}  // namespace

std::string root_name(Handle root) {
  for (auto& [h, n] : kRoots)
    if (h == root) return n;
  return "";
}

std::string registry_file() { return file::file_path(); }

long open_key(Handle root, std::string_view subkey, std::uint32_t, Handle& key) {
  std::vector<std::string> parts = split_path(subkey);
  std::optional<OpenKey> target;
  long rc = with_key(root, false, [&](Store&, const OpenKey& base, Key& k, bool&) {
    if (!find(&k, parts)) return kFileNotFound;
    OpenKey o = base;
    o.path.insert(o.path.end(), parts.begin(), parts.end());
    target = o;
    return kSuccess;
  });
  if (rc != kSuccess) return rc;
  std::lock_guard<std::recursive_mutex> guard(g_mutex);
  key = g_next;
  g_next += 4;
  g_open[key] = *target;
  return kSuccess;
}

long create_key(Handle root, std::string_view subkey, std::uint32_t, Handle& key, bool* created) {
  std::vector<std::string> parts = split_path(subkey);
  std::optional<OpenKey> target;
  bool made = false;
  long rc = with_key(root, false, [&](Store&, const OpenKey&, Key& k, bool&) {
    return find(&k, parts) ? kSuccess : kFileNotFound;
  });
  if (rc == kFileNotFound) {
    rc = with_key(root, true, [&](Store&, const OpenKey&, Key& k, bool& changed) {
      Key* at = &k;
      for (const auto& p : parts) {
        if (!at->child(p)) made = changed = true;
        at = at->add_child(p);
      }
      return kSuccess;
    });
  }
  if (rc != kSuccess) return rc;
  std::optional<OpenKey> base;
  {
    std::lock_guard<std::recursive_mutex> guard(g_mutex);
    base = resolve(root);
    if (!base) return kInvalidHandle;
    base->path.insert(base->path.end(), parts.begin(), parts.end());
    key = g_next;
    g_next += 4;
    g_open[key] = *base;
  }
  if (created) *created = made;
  return kSuccess;
}

long close_key(Handle key) {
  std::lock_guard<std::recursive_mutex> guard(g_mutex);
  if (is_root(key)) return kSuccess;
  return g_open.erase(key) ? kSuccess : kInvalidHandle;
}

long query_info_key(Handle h, KeyInfo& info) {
  return with_key(h, false, [&](Store& store, const OpenKey&, Key& k, bool&) {
    info = KeyInfo();
    info.subkeys = static_cast<std::uint32_t>(k.children.size());
    for (auto& c : k.children) info.max_subkey_len = std::max(info.max_subkey_len, char_count(c->name));
    info.values = static_cast<std::uint32_t>(k.values.size());
    for (auto& v : k.values) {
      info.max_value_name_len = std::max(info.max_value_name_len, char_count(v.name));
      info.max_value_len = std::max(info.max_value_len, static_cast<std::uint32_t>(v.data.size()));
    }
    info.last_write_time = store.mtime;
    return kSuccess;
  });
}

long enum_key(Handle h, std::uint32_t index, std::string& name) {
  return with_key(h, false, [&](Store&, const OpenKey&, Key& k, bool&) {
    if (index >= k.children.size()) return kNoMoreItems;
    name = k.children[index]->name;
    return kSuccess;
  });
}

long enum_value(Handle h, std::uint32_t index, std::string& name, std::uint32_t& type,
                std::vector<std::uint8_t>& data) {
  return with_key(h, false, [&](Store&, const OpenKey&, Key& k, bool&) {
    if (index >= k.values.size()) return kNoMoreItems;
    name = k.values[index].name;
    type = k.values[index].type;
    data = k.values[index].data;
    return kSuccess;
  });
}

long query_value(Handle h, std::string_view name, std::uint32_t& type, std::vector<std::uint8_t>& data) {
  return with_key(h, false, [&](Store&, const OpenKey&, Key& k, bool&) {
    Value* v = k.value(name);
    if (!v) return kFileNotFound;
    type = v->type;
    data = v->data;
    return kSuccess;
  });
}

long set_value(Handle h, std::string_view name, std::uint32_t type, const std::vector<std::uint8_t>& data) {
  return with_key(h, true, [&](Store&, const OpenKey&, Key& k, bool& changed) {
    Value* v = k.value(name);
    if (!v) {
      k.values.push_back(Value{std::string(name), type, {}});
      v = &k.values.back();
    }
    v->type = type;
    v->data = data;
    changed = true;
    return kSuccess;
  });
}

long delete_key(Handle parent, std::string_view subkey) {
  std::vector<std::string> parts = split_path(subkey);
  if (parts.empty()) return kInvalidParameter;
  return with_key(parent, true, [&](Store&, const OpenKey&, Key& k, bool& changed) {
    std::string last = parts.back();
    std::vector<std::string> up(parts.begin(), parts.end() - 1);
    Key* at = find(&k, up);
    Key* victim = at ? at->child(last) : nullptr;
    if (!victim) return kFileNotFound;
    if (!victim->children.empty()) return kAccessDenied;
    auto& ch = at->children;
    ch.erase(std::remove_if(ch.begin(), ch.end(), [&](const std::unique_ptr<Key>& c) { return c.get() == victim; }),
             ch.end());
    changed = true;
    return kSuccess;
  });
}

long delete_value(Handle h, std::string_view name) {
  return with_key(h, true, [&](Store&, const OpenKey&, Key& k, bool& changed) {
    auto& vs = k.values;
    auto it = std::find_if(vs.begin(), vs.end(), [&](const Value& v) { return same_name(v.name, name); });
    if (it == vs.end()) return kFileNotFound;
    vs.erase(it);
    changed = true;
    return kSuccess;
  });
}

}  // namespace zuv::os::reg
