// The headless upgrade on a Samba file server. Samba keeps Windows share modes in its
// own database and takes no lock our local open would meet, so workstations working
// through a share are invisible to the semaphore check. When the database lies under
// a share, the run holds the semaphore through the share as a workstation does (deny
// all, for the whole run), and then asks Samba for any other open under the database.
#pragma once

#include <memory>
#include <ostream>
#include <string>

namespace zuv::app {

struct SambaOptions {
  bool disabled = false;         // --no-samba-check: the administrator closed the share
  std::string credentials_file;  // --smb-credentials FILE
};

// Held for the whole run; letting it go closes the semaphore on the share.
class SambaHold {
 public:
  virtual ~SambaHold() = default;
};

struct SambaGuardResult {
  std::string refusal;  // "" when the run may go on; ';' breaks its lines
  std::unique_ptr<SambaHold> hold;  // null when the database is not shared
};

// native_database_dir: the database directory as the OS names it. Changes nothing on
// the disk; notes (the check switched off) go to err.
SambaGuardResult guard_samba_share(const std::string& native_database_dir, const SambaOptions& options,
                                   std::ostream& err);

}  // namespace zuv::app
