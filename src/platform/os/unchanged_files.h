// Files known to be as they were when a caller last looked: an index built again from a
// table that nothing touched since its last build would come out the same. Any write,
// truncation or replacement of a file through this layer forgets it (held writes
// included), and so does a file on the disk whose identity, size or times moved.
// One thread uses it.
#pragma once

#include <cstddef>
#include <string>

namespace zuv::os::unchanged_files {

// path: as the layer's other calls take it. A file that cannot be looked at is not
// remembered.
void remember(const std::string& path);
// Whether path was remembered and nothing changed it since.
bool unchanged(const std::string& path);
void forget_all();

// The layer's own hook, before and after every change of a file (native path).
void forget_native(const std::string& native_path);
namespace detail {
extern std::size_t g_count;
}
inline bool any() { return detail::g_count != 0; }

}  // namespace zuv::os::unchanged_files
