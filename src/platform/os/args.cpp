#include "platform/os/args.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include "platform/os/codepage.h"
#endif

namespace zuv::os {

std::vector<std::string> utf8_args(int argc, char** argv) {
  std::vector<std::string> out;
#ifdef _WIN32
  int n = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n);
  if (wide) {
    for (int i = 0; i < n; ++i) out.push_back(narrow(wide[i]));
    LocalFree(wide);
    return out;
  }
#endif
  for (int i = 0; i < argc; ++i) out.emplace_back(argv[i]);
  return out;
}

}  // namespace zuv::os
