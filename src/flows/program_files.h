// The release's program files put into a program directory as one change. Each new
// file is first copied beside its place under a temporary name and synced; only then
// are they swapped in by rename, one after another, with the replaced ones kept beside
// until the last is in. A copy that fails, or a file that cannot be replaced (held
// open by a workstation, read-only), puts back what was already swapped: the directory
// holds the old program whole or the new one whole, never a mix and never nothing.
#pragma once

#include <string>
#include <vector>

namespace zuv::flows {

class ProgramFiles {
 public:
  // One file; destination is its full name in the program directory.
  void add(const std::string& source, const std::string& destination);
  // The plain files of source_dir matching mask (hidden and system ones too) into
  // destination_dir, under lower-case names as the release copies always were.
  void add_directory(const std::string& source_dir, const std::string& destination_dir,
                     const std::string& mask = "*.*");
  // The whole tree under source_dir, names kept. Missing directories (here and above)
  // are made when the files are put in place, and removed again if that fails.
  void add_tree(const std::string& source_dir, const std::string& destination_dir);

  // Puts every file in place. "" when all are in; otherwise why not, for the operator
  // (';' breaks the line), naming the file, and every destination is as it was.
  std::string put_in_place();

  // What every installation and upgrade brings from the release directory into the
  // program directory: libraries and programs, help, views, masks and the tree under
  // "ksef\" (the version record and the rest are the caller's).
  void add_release_program(const std::string& release_dir, const std::string& program_dir);

  // Whether destination (compared without regard to letter case) is one of the files.
  bool brings(const std::string& destination) const;

  // A directory (ending in '\') that must exist before the copies; made when missing.
  void needs_directory(std::string directory);

 private:
  struct File {
    std::string source, destination;
  };
  std::vector<File> files_;
  std::vector<std::string> directories_;  // to exist before the copies, parents first
};

// Removes everything below directory (hidden and system entries too), the directory
// itself staying. For undoing an attempt that made the directory's whole content.
void remove_contents(const std::string& directory);

}  // namespace zuv::flows
