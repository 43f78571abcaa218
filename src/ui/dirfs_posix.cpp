#include <string>
#include <utility>
#include <vector>

namespace zuv::ui {

// One tree on POSIX systems: its root, written "\\" as a rooted Windows path, stands in
// for the drives.
std::vector<std::pair<std::string, int>> system_drives() { return {{"\\", 3}}; }
std::string system_current_drive() { return "\\"; }

}  // namespace zuv::ui
