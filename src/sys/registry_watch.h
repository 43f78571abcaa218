// A watcher told before the program's registry writes, so that a whole installation can
// keep what it changes there and put it back later.
#pragma once

#include <string>

#include "platform/os/registry.h"

namespace zuv::sys {

// Each answers false when it could not keep what is about to change: the write is then
// refused (1013, cannot write).
class RegistryWatcher {
 public:
  virtual ~RegistryWatcher() = default;
  // The key (with every missing level above it) is about to be made.
  virtual bool before_key_create(os::reg::Handle root, const std::string& key) = 0;
  // The value is about to be set or deleted.
  virtual bool before_value_change(os::reg::Handle root, const std::string& key, const std::string& name) = 0;
  // The key (without subkeys) is about to be deleted with its values.
  virtual bool before_key_delete(os::reg::Handle root, const std::string& key) = 0;
};

// nullptr: none.
void watch_registry(RegistryWatcher* watcher);
RegistryWatcher* registry_watcher();

}  // namespace zuv::sys
