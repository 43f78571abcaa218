// The registry file of the Linux target: the tree of keys and values it holds, its
// export form ("Windows Registry Editor Version 5.00", UTF-16LE with BOM, CR LF), and
// reading it afresh and replacing it whole (new file beside it, then rename over). The
// key handles of registry_posix.cpp work on this tree; docs/registry.md describes it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/os/registry.h"

namespace zuv::os::reg::file {

struct Value {
  std::string name;
  std::uint32_t type = kNone;
  std::vector<std::uint8_t> data;  // string types: UTF-8 with terminating zero
};

struct Key {
  std::string name;
  std::vector<Value> values;                 // in order of creation, as Windows lists them
  std::vector<std::unique_ptr<Key>> children;  // sorted case-insensitively

  // Children and values are found by name in any letter case.
  Key* child(std::string_view n);
  Key* add_child(std::string_view n);
  Value* value(std::string_view n);
};

inline constexpr std::pair<Handle, const char*> kRoots[] = {
    {kClassesRoot, "HKEY_CLASSES_ROOT"}, {kCurrentUser, "HKEY_CURRENT_USER"},
    {kLocalMachine, "HKEY_LOCAL_MACHINE"}, {kUsers, "HKEY_USERS"},
    {kCurrentConfig, "HKEY_CURRENT_CONFIG"}, {kDynData, "HKEY_DYN_DATA"}};

struct Store {
  std::map<Handle, Key> roots;
  std::uint64_t mtime = 0;
  Store() {
    for (auto& [h, n] : kRoots) roots[h].name = n;
  }
};

// "a\b\c" as its key names; empty parts (a doubled or an outer '\') are dropped.
std::vector<std::string> split_path(std::string_view path);
// The key below from along path, or null.
Key* find(Key* from, const std::vector<std::string>& path);
bool is_string_type(std::uint32_t type);

// The file: $ZUV_REGISTRY_FILE, else under $XDG_CONFIG_HOME or ~/.config.
std::string file_path();

// Serialises writers of the same file across processes for one read-modify-write. Held
// once per process: an error handler that writes to the registry while a write waits
// on it must not lock itself out.
class FileLock {
 public:
  explicit FileLock(const std::string& file);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  static inline int depth_ = 0;  // guarded by the caller's registry mutex
  int fd_ = -1;
};

// Reads and parses the file. A file that cannot be parsed goes to the error handler,
// which may have it read again (after the administrator repaired it); it is never
// overwritten.
long load(const std::string& file, Store& store);
// Writes store as the new file beside it, syncs it and renames it over the old one.
long save(const std::string& file, const Store& store);

}  // namespace zuv::os::reg::file
