// Environment variables of this process and the computer's name, as UTF-8 (wide
// calls on Windows).
#pragma once

#include <string>
#include <string_view>

namespace zuv::os {

// The value, or "" when the variable is not set.
std::string get_env(std::string_view name);
// Sets the variable for this process and the processes it starts; an empty value
// removes it (Windows keeps no empty variables). False when the OS refuses.
bool set_env(std::string_view name, std::string_view value);

// The computer's name as the OS gives it (the host name on Linux); "" when it gives none.
std::string host_name();

}  // namespace zuv::os
