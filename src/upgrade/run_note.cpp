#include "upgrade/run_note.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "platform/error/error.h"
#include "upgrade/firm_records.h"
#include "upgrade/recovery_files.h"

namespace zuv::upgrade {
namespace {

// In the database directory itself: its deletion is the run's last file operation,
// so a run cut off anywhere before it is carried on, never taken for a new one.
constexpr const char* kRunNote = "odzysk.txt";

// The database's own identifier, in its directory while a run of it is unfinished: the
// run note names it, so that a note that came with another database's files is told
// apart, whatever path either is reached by.
constexpr const char* kDatabaseId = "baza_id.txt";
constexpr const char* kNoteDatabase = "baza=";
constexpr const char* kNoteRelease = "wydanie=";

std::string database_identity(const std::string& database_dir) {
  std::string text;
  if (!kept::read_small_file(database_dir + kDatabaseId, text)) return "";
  return kept::bare(text);
}

// Gives the database its identifier when it has none; "" when it cannot be written.
std::string make_database_identity(const std::string& database_dir) {
  std::string id = database_identity(database_dir);
  if (!id.empty()) return id;
  std::random_device random;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08x%08x%08x%08x", random(), random(), random(),
                static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count()));
  id = buf;
  return kept::write_synced(database_dir + kDatabaseId, id + "\r\n") ? id : "";
}

bool write_note(const std::string& database_dir, const RunNote& note) {
  std::string text = note.version + "\r\n";
  text += kNoteDatabase + database_identity(database_dir) + "\r\n";
  text += kNoteRelease + note.release + "\r\n";
  for (long long nr : note.finished) text += std::to_string(nr) + "\r\n";
  return kept::write_synced(database_dir + kRunNote, text);
}

bool all_digits(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

bool firm_brought_through(const std::string& recorded_version, std::span<const steps::FirmStep> firm_steps) {
  if (firm_steps.empty()) return true;
  if (recorded_version >= firm_steps.back().version) return true;
  return firm_steps.size() >= 2 && recorded_version > firm_steps[firm_steps.size() - 2].version;
}

bool listed_as_brought_through(const RunNote& note, long long nr, const std::string& recorded_version,
                               std::span<const steps::FirmStep> firm_steps) {
  return note.finished.count(nr) != 0 && firm_brought_through(recorded_version, firm_steps);
}

std::optional<RunNote> read_run_note(const std::string& database_dir, const std::string& release_version) {
  std::string text;
  if (!kept::read_small_file(database_dir + kRunNote, text)) return std::nullopt;
  return read_run_note_text(text, database_identity(database_dir), release_version);
}

std::optional<RunNote> read_run_note_text(const std::string& text, const std::string& database_id,
                                          const std::string& release_version) {
  const std::vector<std::string> lines = kept::lines_of(text);
  if (lines.empty() || database_id.empty()) return std::nullopt;
  RunNote note;
  note.version = lines.front();
  note.release = release_version;
  bool same_database = false, same_release = false;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    long long nr = 0;
    if (line.rfind(kNoteDatabase, 0) == 0)
      same_database = line.substr(std::string_view(kNoteDatabase).size()) == database_id;
    else if (line.rfind(kNoteRelease, 0) == 0)
      same_release = line.substr(std::string_view(kNoteRelease).size()) == release_version;
    // A number beyond any register number is no firm of it (a damaged line).
    else if (all_digits(line) &&
             std::from_chars(line.data(), line.data() + line.size(), nr).ec == std::errc())
      note.finished.insert(nr);
  }
  if (!same_database || !same_release) return std::nullopt;
  return note;
}

bool carries_on(const std::optional<RunNote>& note, const std::string& recorded_version, bool marked_finished) {
  if (marked_finished && note && recorded_version == note->release) return false;
  return note && note->version <= recorded_version;
}

RunNote note_run_start(const std::string& database_dir, const std::string& database_version,
                       const std::string& release_version, bool marked_finished) {
  kept::CostTimer timer;
  const std::string path = database_dir + kRunNote;
  if (std::optional<RunNote> cut = read_run_note(database_dir, release_version); carries_on(cut, database_version, marked_finished))
    return *cut;
  if (make_database_identity(database_dir).empty())
    firm_error(gencode::kWrite, 0, "Nie można zapisać identyfikatora bazy danych", database_dir + kDatabaseId,
               "ZAPISZ");
  RunNote fresh;
  fresh.version = database_version;
  fresh.release = release_version;
  if (!write_note(database_dir, fresh))
    firm_error(gencode::kWrite, 0, "Nie można zapisać znacznika aktualizacji bazy danych", path, "ZAPISZ");
  return fresh;
}

bool note_firm_finished(const std::string& database_dir, RunNote& note, long long nr) {
  kept::CostTimer timer;
  note.finished.insert(nr);
  return write_note(database_dir, note);
}

bool note_run_end(const std::string& database_dir) {
  kept::CostTimer timer;
  // The identifier serves the note alone: a finished database carries neither. Left by
  // a cut between the two, it is taken up by the next run and goes at its end.
  return kept::remove_synced(database_dir + kRunNote) && kept::remove_synced(database_dir + kDatabaseId);
}

}  // namespace zuv::upgrade
