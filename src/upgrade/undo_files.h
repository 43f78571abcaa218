// The undo area's own files and the walk of the trees, shared by the keeping and the
// undo. Paths are Windows text; relative paths use '\'.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace zuv::upgrade {
// The undo area inside the database directory and inside the program directory.
inline constexpr const char* kUndoDir = "cofnij\\";
}  // namespace zuv::upgrade

namespace zuv::upgrade::undo {

// Inside an area.
inline constexpr const char* kReleaseFile = "wydanie.txt";   // the release; last made
inline constexpr const char* kDirsFile = "katalogi.txt";     // the directories before
inline constexpr const char* kFingerprint = "odcisk.txt";    // the trees at the run's end
// In the database directory itself, outside the areas: an undo under way, to the end.
inline constexpr const char* kUndoing = "cofnij.txt";
inline constexpr const char* kRegistryFile = "rejestr.txt";  // registry values before
inline constexpr const char* kKept = "stan\\";               // bytes before, by path
inline constexpr const char* kAbsent = "brak\\";             // empty: did not exist
inline constexpr const char* kTemp = "tmp\\";                // copies on their way in
inline constexpr const char* kOutside = "poza\\";            // files outside the trees

// One entry of a tree: a directory ("name\") or a file with its size, time and checksum.
struct TreeEntry {
  std::string rel;
  bool directory = false;
  std::uint64_t size = 0;
  std::string stamp;  // date and time of the last write
  std::uint32_t crc = 0;
  bool operator==(const TreeEntry&) const = default;
};

// Every directory and file below root, in a fixed order, leaving out the directories
// in skip (Windows text, with '\' at the end, compared without regard to case).
// checksums: read every file. A file that cannot be read fails the walk (ok false,
// failed names it).
struct TreeWalk {
  std::vector<TreeEntry> entries;
  bool ok = true;
  std::string failed;
};
TreeWalk walk_tree(const std::string& root, const std::set<std::string>& skip, bool checksums);

// The fingerprint's text and back.
std::string fingerprint_text(const std::vector<TreeEntry>& entries);
bool read_fingerprint(const std::string& text, std::vector<TreeEntry>& entries);

// The directories (relative, ending in '\') of a walk.
std::string directory_list(const std::vector<TreeEntry>& entries);

// The directories to leave out of a root's walk: every undo area, and the other root
// where one lies inside the other.
std::set<std::string> skipped_in(const std::string& root, const std::string& other_root);

// Makes every missing directory from base (existing) down to base + rel's directory
// part, each one's entry synced in its parent. False when one cannot be made.
// With to_sync, the parents (native) are added there for the caller to sync after its
// own change: the syncs then follow one another, and all after the first find their
// changes on the disk already.
bool make_directories(const std::string& base, const std::string& rel_dir,
                      std::set<std::string>* to_sync = nullptr);

}  // namespace zuv::upgrade::undo
