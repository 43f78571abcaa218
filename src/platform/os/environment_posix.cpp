#include <unistd.h>

#include <cstdlib>

#include "platform/os/environment.h"

namespace zuv::os {

std::string get_env(std::string_view name) {
  const char* v = std::getenv(std::string(name).c_str());
  return v ? std::string(v) : std::string();
}

bool set_env(std::string_view name, std::string_view value) {
  std::string n(name);
  if (n.empty() || n.find('=') != std::string::npos) return false;
  if (value.empty()) return ::unsetenv(n.c_str()) == 0;
  return ::setenv(n.c_str(), std::string(value).c_str(), 1) == 0;
}

std::string host_name() {
  char buf[256] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) return "";
  return buf;
}

}  // namespace zuv::os
