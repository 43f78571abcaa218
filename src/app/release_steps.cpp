// The release's step tables as the program links them. The routines live in
// src/steps; until every one of them is there, the program is linked without them
// and the headless upgrade refuses to run (ZUV_RELEASE_STEPS_LINKED 0).
#define ZUV_RELEASE_STEPS_LINKED 1

#include "app/headless_upgrade.h"

#if ZUV_RELEASE_STEPS_LINKED
#include "steps/step_routines.h"
#endif

namespace zuv::app {

ReleaseSteps release_steps() {
  ReleaseSteps r;
#if ZUV_RELEASE_STEPS_LINKED
  r.tables.structure = steps::structure_steps();
  r.tables.firm = steps::firm_steps();
  r.tables.release_files = &steps::release_files();
  r.shared = steps::PUB_26_01_001;
  r.available = true;
#endif
  return r;
}

}  // namespace zuv::app
