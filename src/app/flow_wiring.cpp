#include "app/flow_wiring.h"

#include "app/install_records.h"
#include "flows/first_install.h"
#include "flows/undo_entry.h"
#include "flows/upgrade_entry.h"
#include "lib/files.h"

namespace zuv::app {

flows::FlowEnv flow_env(Program& p, ui::Dialogs& d, table::WorkAreas& areas) {
  flows::Release release{p.wersja_p, p.wersja_b, p.roczek, p.cProgram, p.cBaza, ".\\"};
  flows::FlowEnv env{d, areas, release, upgrade_hooks(p, d, areas), {}, {}, release_template_steps(), {}, {}, {}};
  env.shell.rejestry = [&p](const std::string& program_dir, const std::string& database_dir,
                            const std::string& year) {
    // Read at the moment of writing: the upgrade may have set the workstation name.
    InstallRecordValues v{p.wersja_p, p.wersja_b, p.cPulpit, p.cMenu, p.nazwa_sieciowa};
    REJESTRY(v, program_dir, database_dir, year);
  };
  env.shell.makedir = [](const std::string& path) { return lib::MAKEDIR(path).ok(); };
  return env;
}

void wire_flows(Services& s, table::WorkAreas& areas) {
  s.upgrade = [&areas](Program& p, ui::Dialogs& d) {
    flows::FlowEnv env = flow_env(p, d, areas);
    flows::UPGRADE(env);
  };
  s.first_install = [&areas](Program& p, ui::Dialogs& d) {
    flows::FlowEnv env = flow_env(p, d, areas);
    flows::PIERWSZA_INSTALACJA(env);
  };
  s.undo = [&areas](Program& p, ui::Dialogs& d) {
    flows::FlowEnv env = flow_env(p, d, areas);
    flows::UNDO_INSTALLATION(env);
  };
}

}  // namespace zuv::app
