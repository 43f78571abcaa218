// Single-key index files of the classic NTX layout: a 1024-byte header (key size,
// expression, root page) and 1024-byte B-tree pages. A page holds a count, a table of
// item offsets, and items of (left child page, record number, key); the item after
// the last key carries only the rightmost child. Keys live once, in leaves or above.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/table/index_file.h"
#include "platform/table/index_key.h"
#include "platform/table/index_sort.h"

namespace zuv::table::ntx {

constexpr uint32_t kPageSize = 1024;

struct Item {
  uint32_t child = 0;
  uint32_t recno = 0;
  std::string key;
};

struct Page {
  std::vector<Item> items;   // the keys
  uint32_t last_child = 0;   // right of the last key
  bool leaf() const { return last_child == 0 && (items.empty() || items.front().child == 0); }
};

struct Header {
  uint16_t signature = 6;
  uint16_t version = 1;
  uint32_t root = 0;
  uint32_t free_list = 0;
  uint16_t item_size = 0;
  uint16_t key_size = 0;
  uint16_t decimals = 0;
  uint16_t max_items = 0;
  uint16_t half_page = 0;
  std::string expression;
  bool unique = false;
  bool descending = false;
};

// Items a page holds for a key size (an even count, as the classic writer makes it).
uint16_t max_items_for(int key_size);

Header decode_header(const uint8_t* b);
void encode_header(const Header& h, uint8_t* b);
// Throws IndexError naming the fault; never reads outside the page.
Page decode_page(const uint8_t* b, const Header& h);
void encode_page(const Page& p, const Header& h, uint8_t* b);

class NtxFile {
 public:
  static std::unique_ptr<NtxFile> open(const std::string& path, bool writable);
  // A file's bytes in memory, read only (the fuzzer).
  static std::unique_ptr<NtxFile> open_image(std::string bytes, const std::string& name);
  // Writes a new file beside path and swaps it in once complete.
  static std::unique_ptr<NtxFile> create(const std::string& path, const std::string& expression, KeyType type,
                                         int key_size, int decimals, bool unique, KeyStream& sorted);

  const Header& header() const { return header_; }
  KeyType key_type() const { return type_; }
  void set_key_type(KeyType t) { type_ = t; }
  const std::string& path() const { return file_.path(); }

  struct Cursor {
    std::vector<std::pair<uint32_t, int>> stack;  // page and item index, root first
    std::string key;
    uint32_t recno = 0;
    bool valid() const { return !stack.empty(); }
  };
  bool first(Cursor& c);
  bool last(Cursor& c);
  bool next(Cursor& c);
  bool prev(Cursor& c);
  // First entry not less than key (compared on key's length), or with recno and a
  // full key, not less than (key, recno).
  bool seek(std::string_view key, uint32_t recno, Cursor& c);

  void insert(const std::string& key, uint32_t recno);
  bool remove(const std::string& key, uint32_t recno);
  void flush() { file_.flush(); }
  // Runs a change of keys; when it throws, every page is put back as it was.
  void all_or_nothing(const std::function<void()>& change);

 private:
  NtxFile() = default;
  Page load(uint32_t page);
  void store(uint32_t page, const Page& p);
  uint32_t allocate();
  void release(uint32_t page);
  void write_header();
  int compare(const Item& it, std::string_view key, uint32_t recno, bool full) const;
  bool descend_left(Cursor& c, uint32_t page);
  bool descend_right(Cursor& c, uint32_t page);
  bool settle(Cursor& c);
  void fix_underflow(std::vector<std::pair<uint32_t, int>>& path);

  BlockFile file_;
  Header header_;
  KeyType type_ = KeyType::Character;
};

}  // namespace zuv::table::ntx
