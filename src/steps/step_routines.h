// Every routine of the release's three step tables, named as the suite names them.
// Firm data steps live in one file per family (001-013, 015-029, 030 and 033),
// structure steps and template steps in one file each.
#pragma once

#include <string>

#include "steps/steps.h"

namespace zuv::steps {

#define ZUV_FIRM_STEP(n)                                                                            \
  void n(StepContext& ctx, const std::string& firm_dir, const std::string& program_dir, \
         const std::string& database_dir, const std::string& firm_version)
ZUV_FIRM_STEP(I_26_01_001);
ZUV_FIRM_STEP(I_26_01_003);
ZUV_FIRM_STEP(I_26_01_005);
ZUV_FIRM_STEP(I_26_01_006);
ZUV_FIRM_STEP(I_26_01_007);
ZUV_FIRM_STEP(I_26_01_012);
ZUV_FIRM_STEP(I_26_01_013);
ZUV_FIRM_STEP(I_26_01_015);
ZUV_FIRM_STEP(I_26_01_016);
ZUV_FIRM_STEP(I_26_01_017);
ZUV_FIRM_STEP(I_26_01_018);
ZUV_FIRM_STEP(I_26_01_023);
ZUV_FIRM_STEP(I_26_01_024);
ZUV_FIRM_STEP(I_26_01_025);
ZUV_FIRM_STEP(I_26_01_027);
ZUV_FIRM_STEP(I_26_01_029);
ZUV_FIRM_STEP(I_26_01_030);
ZUV_FIRM_STEP(I_26_01_033);
#undef ZUV_FIRM_STEP

#define ZUV_STRUCTURE_STEP(n) \
  void n(StepContext& ctx, const std::string& database_dir, const std::string& second_dir)
ZUV_STRUCTURE_STEP(STR_26_01_001);
ZUV_STRUCTURE_STEP(STR_26_01_003);
ZUV_STRUCTURE_STEP(STR_26_01_005);
ZUV_STRUCTURE_STEP(STR_26_01_006);
ZUV_STRUCTURE_STEP(STR_26_01_007);
ZUV_STRUCTURE_STEP(STR_26_01_008);
ZUV_STRUCTURE_STEP(STR_26_01_015);
ZUV_STRUCTURE_STEP(STR_26_01_027);
ZUV_STRUCTURE_STEP(STR_26_01_030);
ZUV_STRUCTURE_STEP(STR_26_01_032);
#undef ZUV_STRUCTURE_STEP
// The rate index of "str\euro" that STR_26_01_007 builds; the driver builds it again
// when that step does not run, since the reference refresh deletes it.
void BUILD_RATE_INDEX(StepContext& ctx, const std::string& database_dir);
// The shared-data step of the release; it changes nothing.
void PUB_26_01_001(StepContext& ctx, const std::string& database_dir);

#define ZUV_TEMPLATE_STEP(n) \
  void n(StepContext& ctx, const std::string& program_dir, const std::string& database_dir)
ZUV_TEMPLATE_STEP(L26_01_001);
ZUV_TEMPLATE_STEP(L26_01_004);
ZUV_TEMPLATE_STEP(L26_01_005);
ZUV_TEMPLATE_STEP(L26_01_006);
ZUV_TEMPLATE_STEP(L26_01_007);
ZUV_TEMPLATE_STEP(L26_01_008);
ZUV_TEMPLATE_STEP(L26_01_014);
ZUV_TEMPLATE_STEP(L26_01_016);
ZUV_TEMPLATE_STEP(L26_01_024);
ZUV_TEMPLATE_STEP(L26_01_025);
ZUV_TEMPLATE_STEP(L26_01_027);
ZUV_TEMPLATE_STEP(L26_01_028);
ZUV_TEMPLATE_STEP(L26_01_029);
ZUV_TEMPLATE_STEP(L26_01_030);
#undef ZUV_TEMPLATE_STEP

}  // namespace zuv::steps
