// The driver's note of an unfinished run ("odzysk.txt") with the database's identifier
// ("baza_id.txt"), read as a new run reads them: it must end with the note or none,
// never a crash; and a note is only ever answered for this database and release.
// The input is the identifier file, a NUL, then the note.
#include <cstddef>
#include <cstdint>
#include <string>

#include "upgrade/recovery_files.h"
#include "upgrade/run_note.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;  // the reader takes at most 1 MB
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string id = zuv::upgrade::kept::bare(input.substr(0, nul));
  const std::string note_text = nul == std::string::npos ? "" : input.substr(nul + 1);
  const std::string release = "026.01.001";
  const auto note = zuv::upgrade::read_run_note_text(note_text, id, release);
  if (!note) return 0;
  if (id.empty() || note->release != release || note->version.empty()) __builtin_trap();
  if (note_text.find("baza=" + id) == std::string::npos) __builtin_trap();
  for (long long nr : note->finished)
    if (nr < 0) __builtin_trap();
  return 0;
}
