// The directory chooser (QMXDIRSELECT): a lazily loaded tree of drives and
// directories, the path field, OK/cancel, and create/rename/delete on the tree. The
// tree and every rule about it live in DirChooser; a front end shows it and reports
// what the operator did.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/alarm.h"
#include "ui/edtstr.h"

namespace zuv::ui {

// The disk as the chooser sees it; paths are Windows texts ending in "\".
class DirFs {
 public:
  virtual ~DirFs() = default;
  // Each drive root ("C:\") with its Windows drive type (2 removable, 3 fixed, ...).
  virtual std::vector<std::pair<std::string, int>> drives() = 0;
  virtual std::string current_drive_root() = 0;
  // Names of the subdirectories of path ("." and ".." left out), any order.
  virtual std::vector<std::string> subdirs(const std::string& path) = 0;
  virtual bool is_dir(const std::string& path) = 0;
  virtual bool make_dir(const std::string& path) = 0;
  virtual bool rename_dir(const std::string& from, const std::string& to) = 0;
  // Deletes the directory with everything in it; what cannot go, stays.
  virtual void remove_tree(const std::string& path) = 0;
};

// The real disk (Win32 calls on Windows, the POSIX tree through native_path elsewhere).
std::unique_ptr<DirFs> make_system_dirfs();

// Orders names as the suite does: case folded, Polish letters after their base letter.
bool collate_less(const std::string& a, const std::string& b);

struct DirNode {
  std::string caption;
  std::string path;  // ends in "\"
  int image_closed = 2105, image_open = 2106;
  bool loaded = false;  // children listed
  bool expanded = false;
  DirNode* parent = nullptr;
  std::vector<std::unique_ptr<DirNode>> children;
  bool is_drive() const { return parent == nullptr; }
};

// The tree's context menu (CHECK_MENU), in order: "~" marks an entry's hot letter, an
// empty label the separator.
enum class MenuAction { Choose, Toggle, Separator, New, Rename, Delete };
struct MenuEntry {
  std::string label;
  MenuAction action;
};
// The second entry collapses an expanded item and expands a collapsed one.
std::vector<MenuEntry> context_menu(bool expanded);

using EntryAsk = std::function<std::string(const std::string& proposal, int length,
                                           const std::string& title, const std::string& prompt,
                                           EntryCheck check)>;

class DirChooser {
 public:
  DirChooser(DirFs& fs, MessageDialog& msg, EntryAsk ask, std::function<void()> tone);

  // Window geometry of the chooser at its initial size (bottom-left origin).
  static constexpr int kUnit = 12;
  static constexpr int kWidth = 19 * 12 + 8;
  static int height_for(int parent_height) { return std::min(24 * 12 + 34, parent_height - 24); }

  void create();  // the drive items and their first level
  void getTree(DirNode* item);
  void getDownTree(DirNode* item);
  DirNode* FindDir(DirNode* under, const std::string& path);  // under == nullptr: drives
  void StartDir(std::string path);

  void mark(DirNode* item);      // marked (cursor): load its children, follow in the field
  void select(DirNode* item);    // selected or expanded: load the grandchildren, expand
  void collapse(DirNode* item);
  void toggle();                 // Space on the marked item
  void set_path_text(const std::string& text) { edt_path_ = text; }

  // "OK": true when a path was chosen (done() then holds).
  bool check_kat();
  void cancel();
  void NodeEdit(bool create_new);
  void NodeDelete();

  void reset() { done_ = false; result_.clear(); }
  bool done() const { return done_; }
  const std::string& result() const { return result_; }
  const std::string& path_text() const { return edt_path_; }
  DirNode* marked() const { return marked_; }
  const std::vector<std::unique_ptr<DirNode>>& drives() const { return drives_; }
  // Bumped whenever the tree's shape changes, so a front end knows to rebuild.
  int generation() const { return generation_; }

 private:
  void ZMIANA_NAZWY(DirNode* item, const std::string& old_path, const std::string& new_path);
  bool KAT_JEST_OK(const std::string& name, DirNode* item, bool create_new);
  void show_path(const std::string& path);

  DirFs& fs_;
  MessageDialog& msg_;
  EntryAsk ask_;
  std::function<void()> tone_;
  std::vector<std::unique_ptr<DirNode>> drives_;
  DirNode* marked_ = nullptr;
  std::string edt_path_;
  bool done_ = false;
  std::string result_;
  int generation_ = 0;
};

}  // namespace zuv::ui
