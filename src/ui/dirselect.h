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

using gui::DirNode;

using EntryAsk = std::function<std::string(const std::string& proposal, int length,
                                           const std::string& title, const std::string& prompt,
                                           EntryCheck check)>;

class DirChooser : public gui::DirChooserControl {
 public:
  DirChooser(DirFs& fs, MessageDialog& msg, EntryAsk ask, std::function<void()> tone);

  void create();  // the drive items and their first level
  void getTree(DirNode* item) override;
  void getDownTree(DirNode* item) override;
  DirNode* FindDir(DirNode* under, const std::string& path);  // under == nullptr: drives
  void StartDir(std::string path) override;

  void mark(DirNode* item) override;    // marked (cursor): load its children, follow in the field
  void select(DirNode* item) override;  // selected or expanded: load the grandchildren, expand
  void collapse(DirNode* item);
  void toggle();                 // Space on the marked item
  void set_path_text(const std::string& text) override { edt_path_ = text; }

  // "OK": true when a path was chosen (done() then holds).
  bool check_kat() override;
  void cancel() override;
  void NodeEdit(bool create_new) override;
  void NodeDelete() override;

  void reset() { done_ = false; result_.clear(); }
  bool done() const override { return done_; }
  const std::string& result() const override { return result_; }
  const std::string& path_text() const override { return edt_path_; }
  DirNode* marked() const override { return marked_; }
  const std::vector<std::unique_ptr<DirNode>>& drives() const override { return drives_; }
  // Bumped whenever the tree's shape changes, so a front end knows to rebuild.
  int generation() const override { return generation_; }

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
