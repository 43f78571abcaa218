// The release's conversion steps as data: three tables in version order, each row
// naming the version it brings and the routine that does it. The runners that walk
// the tables (the upgrade driver, the per-firm dispatcher and the program deployment)
// decide which rows apply; a routine raises a runtime error (through the current
// handler) when it cannot finish, and never records a version it did not reach.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zuv::table {
class WorkAreas;
}

namespace zuv::steps {

// The values the upgrade driver makes once per run for the steps, and the report
// lines of the firm being converted.
struct RunValues {
  std::vector<std::string> pdane = std::vector<std::string>(10);  // entries 1 and 2 hold "0"
  std::vector<std::string> tlist;  // firm directories with significant changes
  std::string kraje_ue;            // ",AT,BE,...,"
  int num_fir = 0;                 // the current firm's number
  std::vector<std::string> terr;   // the current firm's report lines (code page 852)
};

// What every step is run with. release_dir is the distribution directory (".\" in the
// program; tests give their own), ending in "\" like every directory here.
struct StepContext {
  table::WorkAreas& areas;
  std::string release_dir = ".\\";
  RunValues* values = nullptr;
};

// A firm data step: firm directory, program directory, database directory and the
// firm's version as the dispatcher read it.
using FirmStepFn = void (*)(StepContext&, const std::string& firm_dir, const std::string& program_dir,
                            const std::string& database_dir, const std::string& firm_version);
struct FirmStep {
  std::string_view version;  // "026.01.001"
  std::string_view name;     // "I_26_01_001"
  FirmStepFn run;
};
std::span<const FirmStep> firm_steps();

// A structure step: database directory and the directory under which "temp\" lies.
using StructureStepFn = void (*)(StepContext&, const std::string& database_dir, const std::string& second_dir);
struct StructureStep {
  std::string_view version;  // "026.01.001"
  std::string_view name;     // "STR_26_01_001"
  StructureStepFn run;
};
std::span<const StructureStep> structure_steps();

// The files of the release (relative to its directory) that the structure steps and the
// driver copy or read: a release without any of them is not the release.
const std::vector<std::string>& release_files();

// A template and screen-mask step: program directory and database directory. Its
// version is in the program's form ("26.01.001").
using TemplateStepFn = void (*)(StepContext&, const std::string& program_dir, const std::string& database_dir);
struct TemplateStep {
  std::string_view version;  // "26.01.001"
  std::string_view name;     // "L26_01_001"
  TemplateStepFn run;
};
std::span<const TemplateStep> template_steps();

}  // namespace zuv::steps
