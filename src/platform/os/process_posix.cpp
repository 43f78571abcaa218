#include <dirent.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <iterator>

#include "platform/os/process.h"

namespace zuv::os {
namespace {

std::string last_component(std::string s) {
  size_t cut = s.find_last_of("/\\");
  return cut == std::string::npos ? s : s.substr(cut + 1);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::optional<std::vector<std::vector<std::string>>> running_process_names() {
  DIR* dir = opendir("/proc");
  if (!dir) return std::nullopt;
  std::vector<std::vector<std::string>> out;
  while (dirent* e = readdir(dir)) {
    std::string pid = e->d_name;
    if (pid.empty() || !std::isdigit(static_cast<unsigned char>(pid[0]))) continue;
    std::string base = "/proc/" + pid;
    std::vector<std::string> names;
    char link[4096];
    ssize_t n = readlink((base + "/exe").c_str(), link, sizeof link - 1);
    if (n > 0) {
      std::string exe(link, static_cast<size_t>(n));
      const std::string deleted = " (deleted)";
      if (exe.size() > deleted.size() && exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0)
        exe.resize(exe.size() - deleted.size());
      names.push_back(last_component(exe));
    }
    std::string cmdline = read_file(base + "/cmdline");
    std::string argv0 = last_component(cmdline.substr(0, cmdline.find('\0')));
    if (!argv0.empty() && (names.empty() || names[0] != argv0)) names.push_back(argv0);
    if (names.empty()) {  // another user's process: only the short name is readable
      std::string comm = read_file(base + "/comm");
      while (!comm.empty() && comm.back() == '\n') comm.pop_back();
      if (!comm.empty()) names.push_back(comm);
    }
    if (!names.empty()) out.push_back(std::move(names));
  }
  closedir(dir);
  return out;
}

}  // namespace zuv::os

namespace zuv::os {
unsigned long current_process_id() { return static_cast<unsigned long>(::getpid()); }
}  // namespace zuv::os
