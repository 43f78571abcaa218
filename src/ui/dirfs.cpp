#include "platform/base/discard.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "ui/dirselect.h"

namespace zuv::ui {

namespace {

class SystemDirFs : public DirFs {
 public:
  std::vector<std::pair<std::string, int>> drives() override { return os::drives(); }
  std::string current_drive_root() override { return os::current_drive_root(); }
  std::vector<std::string> subdirs(const std::string& path) override {
    // DIRECTORY with "D": directories, but no hidden or system ones (the recycle bin,
    // "System Volume Information", a POSIX dot directory).
    std::vector<std::string> out;
    for (const os::DirEntry& e : os::list_directory(path + "*.*", "D"))
      if (e.attributes.find('D') != std::string::npos && e.name != "." && e.name != "..")
        out.push_back(e.name);
    return out;
  }
  bool is_dir(const std::string& path) override { return os::directory_exists(path); }
  bool make_dir(const std::string& path) override { return os::make_directory(path).ok(); }
  bool rename_dir(const std::string& from, const std::string& to) override {
    // Never rename over an existing directory: that would merge or replace it.
    if (os::directory_exists(to) || os::file_exists(to)) return false;
    return os::rename_file(from, to).ok();
  }
  void remove_tree(const std::string& path) override {
    base::let_go(os::remove_tree(path), "the tree shown is read again from the disk, so what stays is seen");
  }
};

}  // namespace

std::unique_ptr<DirFs> make_system_dirfs() { return std::make_unique<SystemDirFs>(); }

}  // namespace zuv::ui
