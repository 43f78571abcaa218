// Environment variables of this process, as UTF-8 (wide calls on Windows).
#pragma once

#include <string>
#include <string_view>

namespace zuv::os {

// The value, or "" when the variable is not set.
std::string get_env(std::string_view name);
// Sets the variable for this process and the processes it starts; an empty value
// removes it (Windows keeps no empty variables). False when the OS refuses.
bool set_env(std::string_view name, std::string_view value);

}  // namespace zuv::os
