// The driver's note of a run ("odzysk.txt" of the database directory), kept from before
// the run changes anything until its verified end, so that a run cut off anywhere is
// carried on from the version it started from. docs/recovery.md tells the whole story.
#pragma once

#include <optional>
#include <set>
#include <span>
#include <string>

#include "steps/steps.h"

namespace zuv::upgrade {

struct RunNote {
  std::string release;  // the database version the release brings
  // The version the run is treated as starting from: the lower of the recorded one and
  // that of a run cut off before its end (whose release version record may already
  // have replaced the database's), so that it decides every step alike.
  std::string version;
  // Firms (register numbers) the cut-off run had brought through: their closing state
  // is the clean run's, and a step that records one below itself (033) must not meet
  // them a second time.
  std::set<long long> finished;
};
// The note of an unfinished run of this database (by the identifier it keeps, not its
// path) and of this release, read without changing anything; nullopt when there is
// none, or when it belongs to another database or release.
std::optional<RunNote> read_run_note(const std::string& database_dir, const std::string& release_version);
// The same from the note's text and the database's identifier.
std::optional<RunNote> read_run_note_text(const std::string& text, const std::string& database_id,
                                          const std::string& release_version);
// The version a run of a database recording recorded_version starts from, given the
// note an unfinished run left (the same rule for the run and its plan). A note beside
// a version record that says this release's upgrade finished is a leftover of that
// run (a power cut took its removal): the database is carried on from nothing.
bool carries_on(const std::optional<RunNote>& note, const std::string& recorded_version, bool marked_finished);
// Reads the note of an unfinished run, or makes a new one (synced), after giving the
// database its identifier when it has none.
RunNote note_run_start(const std::string& database_dir, const std::string& database_version,
                       const std::string& release_version, bool marked_finished);
// Adds a firm the run brought through, before the firm's own note goes: between the two
// a cut would otherwise meet the firm as new and run 033 on it a second time. False when
// the note cannot be written; the firm's own note must then stay.
[[nodiscard]] bool note_firm_finished(const std::string& database_dir, RunNote& note, long long nr);
// The run came to its verified end: the note goes. A run that ends otherwise keeps it,
// so that the next one carries it on from the version it started from. False when it
// could not be removed.
[[nodiscard]] bool note_run_end(const std::string& database_dir);

// Whether a firm's recorded version says it went through every firm step (the last step
// may record a version below its own, but above every earlier step's).
bool firm_brought_through(const std::string& recorded_version, std::span<const steps::FirmStep> firm_steps);

// Whether a firm the note lists as brought through still records a version that says so:
// a firm is passed over only where both agree.
bool listed_as_brought_through(const RunNote& note, long long nr, const std::string& recorded_version,
                               std::span<const steps::FirmStep> firm_steps);

}  // namespace zuv::upgrade
