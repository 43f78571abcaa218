// Compound index files: a directory of tags, each a tree of 512-byte pages
// (cdx_page.h), read, built from sorted keys and maintained one key at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/file_handle.h"
#include "platform/table/cdx_page.h"
#include "platform/table/index_file.h"
#include "platform/table/index_sort.h"

namespace zuv::table::cdx {

class CdxFile;

// A place in a tag: the leaf page and the entry on it, with that entry's key.
struct Cursor {
  uint32_t page = kNoPage;
  int index = -1;
  std::string key;
  uint32_t recno = 0;
  bool valid() const { return page != kNoPage; }
};

class Tag {
 public:
  Tag(CdxFile& file, uint32_t header_offset, std::string name);

  const std::string& name() const { return name_; }
  uint32_t header_offset() const { return header_offset_; }
  const TagHeader& header() const { return header_; }
  int key_length() const { return header_.key_length; }
  // The type comes from the key expression; the file does not record it.
  KeyType key_type() const { return type_; }
  void set_key_type(KeyType t) { type_ = t; }
  void reload_header();
  // For files other processes write too: when the tag's change counter on disk differs
  // from ours, cached pages and the header are read again.
  void sync_with_file();

  bool first(Cursor& c);
  bool last(Cursor& c);
  bool next(Cursor& c);
  bool prev(Cursor& c);
  // Positions on the first entry not less than key, comparing only key's length
  // (so a shorter text finds its first extension); with recno != 0 and a full-length
  // key, on the first entry not less than (key, recno). False when none is.
  bool seek(std::string_view key, uint32_t recno, Cursor& c);
  // True when (key, recno) is in the tag.
  bool contains(const std::string& key, uint32_t recno);

  void insert(const std::string& key, uint32_t recno);
  // False when the entry was not there.
  bool remove(const std::string& key, uint32_t recno);

 private:
  friend class CdxFile;
  struct Step {
    uint32_t page;
    size_t index;
  };
  std::shared_ptr<const Node> load(uint32_t page);
  int compare(const Entry& e, std::string_view key, uint32_t recno, bool full) const;
  // Descends towards (key, recno); the path ends at a leaf. insert_mode picks the last
  // child when every key is smaller.
  std::vector<Step> descend(std::string_view key, uint32_t recno, bool full, bool insert_mode);
  void rewrite_path(std::vector<Step>& path, Node node);
  std::vector<Entry> store_node(Node node, uint32_t page);
  void unlink_page(const Node& node, uint32_t page);
  void set_root(uint32_t page);
  bool move_right(Cursor& c, const Node& from);
  bool move_left(Cursor& c, const Node& from);
  void touch();

  CdxFile& file_;
  uint32_t header_offset_;
  std::string name_;
  TagHeader header_;
  KeyType type_ = KeyType::Character;
};

class CdxFile {
 public:
  // Throws IndexError with the operator's text when the file is missing or damaged.
  // share: the share mode of the table the file belongs to.
  static std::unique_ptr<CdxFile> open(const std::string& path, bool writable, os::Share share = os::Share::Shared);
  static std::unique_ptr<CdxFile> create(const std::string& path, os::Share share = os::Share::Shared);
  // A file's bytes in memory, read only, through the same page parser (the fuzzer).
  static std::unique_ptr<CdxFile> open_image(std::string bytes, const std::string& name);
  ~CdxFile();

  const std::string& path() const { return file_.path(); }
  bool writable() const { return file_.writable(); }
  // Tags in the order of their headers in the file, which numbers the orders: the
  // order of creation until a tag is deleted. Then the tags after it move up one
  // number, and a tag created later may take the freed pages and a lower number.
  size_t tag_count() const { return tags_.size(); }
  Tag& tag(size_t i) { return *tags_[i]; }
  Tag* find_tag(std::string_view name);
  Tag& directory() { return *directory_; }

  // Builds a tag from keys in order (character keys under the collation, ties by
  // record number) and enters it in the directory, replacing a tag of the same name
  // once the new one is complete. All or nothing: when it throws, the file is as it
  // was, byte for byte. Without sync the tag reaches the disk when the file is closed.
  Tag& create_tag(const std::string& name, const std::string& expression, KeyType type, int key_length,
                  bool descending, bool unique, KeyStream& sorted, uint32_t max_recno, bool sync = true);
  void delete_tag(std::string_view name);
  // Runs a change of the file; when it throws, every byte is put back as it was
  // (sync: to the disk at the end, as for a whole tag).
  void all_or_nothing(const std::function<void()>& change, bool sync = false);
  // To the disk (commit and close).
  void flush() { file_.flush(); }
  // Files that other processes update too: every change of a tag runs under a lock of
  // one byte far beyond the data (taken through a handle of its own), after the
  // tag's pages are read again, and is handed to the OS (seen by every other process)
  // before the lock goes.
  void share_updates();
  class UpdateLock {
   public:
    UpdateLock(CdxFile& f, Tag& t);
    ~UpdateLock();
    UpdateLock(const UpdateLock&) = delete;
    UpdateLock& operator=(const UpdateLock&) = delete;

   private:
    CdxFile& f_;
  };

  void drop_cache() {
    cache_.clear();
    file_.refresh_size();
    ++generation_;
  }

  // Page access for the tags.
  std::shared_ptr<const Node> node(uint32_t page, int key_length, KeyType type);
  void write_page(uint32_t page, const uint8_t* bytes);
  void patch32(uint64_t offset, uint32_t value);
  uint32_t allocate_page();
  uint32_t allocate_header_pages();
  void free_page(uint32_t page);
  void check_page_pointer(uint32_t page) const;
  void read(uint64_t off, void* buf, size_t n) { file_.read(off, buf, n); }
  uint64_t size() const { return file_.size(); }
  // Changes with every write: cursors kept across calls are stale when it moved.
  uint64_t generation() const { return generation_; }

 private:
  CdxFile() = default;
  void load_directory();
  void free_tree(uint32_t root, int key_length);
  void build_tag(const std::string& name, const std::string& expression, KeyType type, int key_length,
                 bool descending, bool unique, KeyStream& sorted, uint32_t max_recno);


  BlockFile file_;
  std::unique_ptr<Tag> directory_;
  std::vector<std::unique_ptr<Tag>> tags_;
  std::map<uint32_t, std::shared_ptr<const Node>> cache_;
  uint64_t generation_ = 0;
  os::FileHandle lock_handle_;
  bool shared_updates_ = false;
};

// Tag names are kept in capitals in the directory.
std::string tag_directory_key(std::string_view name);

}  // namespace zuv::table::cdx
