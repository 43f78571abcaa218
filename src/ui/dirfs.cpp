#include <filesystem>
#include <system_error>

#include "platform/os/codepage.h"
#include "platform/os/fault.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "ui/dirselect.h"

namespace zuv::ui {

std::vector<std::pair<std::string, int>> system_drives();
std::string system_current_drive();

namespace {

namespace fs = std::filesystem;

fs::path to_fs(const std::string& p) { return os::fs_path(p); }

// Deletes what it can, deepest first; a file that will not go keeps its directory.
void delete_tree(const fs::path& dir) {
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path p = it->path();
    std::error_code e2;
    if (it->is_directory(e2) && !it->is_symlink(e2)) {
      delete_tree(p);
    } else {
      fs::permissions(p, fs::perms::owner_write, fs::perm_options::add, e2);
      if (os::fault::check(os::fault::Op::Delete) == 0) fs::remove(p, e2);
    }
  }
  if (os::fault::check(os::fault::Op::Delete) == 0) fs::remove(dir, ec);
}

class SystemDirFs : public DirFs {
 public:
  std::vector<std::pair<std::string, int>> drives() override { return system_drives(); }
  std::string current_drive_root() override { return system_current_drive(); }
  std::vector<std::string> subdirs(const std::string& path) override {
    // DIRECTORY with "D": directories, but no hidden or system ones (the recycle bin,
    // "System Volume Information", a POSIX dot directory).
    std::vector<std::string> out;
    for (const os::DirEntry& e : os::list_directory(path + "*.*", "D"))
      if (e.attributes.find('D') != std::string::npos && e.name != "." && e.name != "..")
        out.push_back(e.name);
    return out;
  }
  bool is_dir(const std::string& path) override {
    std::error_code ec;
    return fs::is_directory(to_fs(path), ec);
  }
  bool make_dir(const std::string& path) override {
    if (os::fault::check(os::fault::Op::Create) != 0) return false;
    std::error_code ec;
    return fs::create_directory(to_fs(path), ec);
  }
  bool rename_dir(const std::string& from, const std::string& to) override {
    if (os::fault::check(os::fault::Op::Rename) != 0) return false;
    std::error_code ec;
    // Never rename over an existing directory: that would merge or replace it.
    if (fs::exists(to_fs(to), ec)) return false;
    fs::rename(to_fs(from), to_fs(to), ec);
    return !ec;
  }
  void remove_tree(const std::string& path) override { delete_tree(to_fs(path)); }
};

}  // namespace

std::unique_ptr<DirFs> make_system_dirfs() { return std::make_unique<SystemDirFs>(); }

}  // namespace zuv::ui
