// The real services of the start-up, the same on both targets: the running-program
// check, the registry reads, the file delete of the support library.
#pragma once

#include "app/program.h"

namespace zuv::app {

// The registry reads of the start-up through XbpReg.
class RegistryStartup : public StartupRegistry {
 public:
  std::optional<ShellFolders> shell_folders() override;
  std::optional<InstallRecord> install_record(const std::string& year) override;
};

void wire_common_services(Services& s);

}  // namespace zuv::app
