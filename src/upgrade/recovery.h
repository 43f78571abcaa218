// Undoing firm steps cut off midway. Before the steps change a firm's file, the file is
// kept in the firm's recovery directory and named in a marker, both synced; once what
// the steps changed is on the disk the marker says so and goes with the copies. A firm
// that starts with a marker that does not say so had its steps cut off: its files are
// put back as they were before them, and the steps run again because the version
// record says they have not. The driver's own note of the run is in run_note.h;
// docs/recovery.md tells the whole story.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "steps/steps.h"
#include "upgrade/recovery_files.h"

namespace zuv::table {
class WorkAreas;
}

namespace zuv::upgrade {


// What the start of a firm found in its recovery directory.
struct FirmRecovery {
  std::string restored_step;     // the step whose files were put back ("" when none)
  // The firm's version once they are back ("" when nothing is put back, or when the
  // marker predates this note).
  std::string restored_version;
  bool finish_pending = false;   // the firm's closing work (backup clean-up) was cut off
  bool reindex_pending = false;  // so was its complete index rebuild
  // Steps the cut-off run brought through: not run again, even where a step records a
  // version below its own.
  std::set<std::string> completed_steps;
};

// A step marker's text as a cut left it. Only lines that reached the disk whole count;
// a file held in its line that was torn inside is left out (its change never began).
struct StepMarker {
  struct File {
    char kind;  // '+' copied beside, '*' held in its line, '-' absent before the step
    std::string name;
    std::string bytes;  // '*' only
  };
  std::string step;            // "" when no line is whole
  std::string version_before;  // "" when the marker predates this note
  bool done = false;           // everything the step changed reached the disk
  std::vector<std::string> noted;  // further steps of the work, done once it stands
  std::vector<File> files;
  // A line naming something other than a file of the firm's own directory: nothing of
  // such a marker is put back.
  bool damaged = false;
};
StepMarker read_step_marker(const std::string& text);

// Settles what an earlier run left in the firm's recovery directory: a step marker
// without its closing line (what the step changed is on the disk) is undone (files
// written beside, synced and renamed in; files the step created are removed), one with
// it only loses its copies. Runs before anything else touches the firm; raises
// a runtime error when a file cannot be put back, and then keeps the marker.
FirmRecovery recover_firm(const std::string& firm_dir);
// What recover_firm would find and do, read without changing anything (the plan).
FirmRecovery peek_firm_recovery(const std::string& firm_dir);

// Records that the firm's steps are under way, with whether its complete index rebuild
// is due: the closing work is then done even by a run that finds the firm current.
void mark_firm_started(const std::string& firm_dir, bool reindex);
// The closing work is done: the firm's recovery directory is left empty.
void mark_firm_finished(const std::string& firm_dir);

// Writes the marker naming the step and the firm's version before it, synced; from then
// until release_step the first change to each file of the firm's directory waits until
// that file is kept (a small one whole in a marker line, a larger one as a synced copy
// beside) or noted absent, and the marker's new line is synced.
void guard_step(const std::string& firm_dir, std::string_view step_name, std::string_view version_before = "");
// After the step returned: syncs the files it changed and the version record, notes
// the step as done in the firm's note (when note_done: its version record does not say
// so), then removes the marker and the copies.
void release_step(const std::string& firm_dir, std::string_view step_name, bool note_done = true);

// One firm step between guard_step and release_step. A step that fails is undone at
// once (its tables closed first, as the driver does after a failed firm), so the suite
// does not meet half-converted tables until the next upgrade; when even that fails the
// marker stays for the next run.
void run_step_recoverably(table::WorkAreas& areas, const std::string& firm_dir, const steps::FirmStep& step,
                          const std::function<void()>& run);

// All of a firm's steps, in order, as one piece of work: a file is kept once, before
// the first of them changes it, and what they changed reaches the disk once, after the
// last. A cut anywhere undoes them all, and the firm starts its steps again. A step that
// fails is undone with the rest, and the steps before it run again each on its own, so
// the firm is left after the last step that succeeded. Answers the work that puts the
// steps' result on the disk for good: until it runs, a cut undoes them, so a caller may
// let the disk catch up meanwhile (the next firm's steps), but must run it before the
// firm counts as done.
[[nodiscard]] std::function<void()> run_firm_steps_recoverably(
    table::WorkAreas& areas, const std::string& firm_dir, const std::vector<const steps::FirmStep*>& steps,
    const std::function<void(const steps::FirmStep&)>& run);

}  // namespace zuv::upgrade
