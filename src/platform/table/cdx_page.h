// The pages of a compact compound index, in memory and on disk.
//
// A file is a sequence of 512-byte pages. A tag header takes two pages (key length,
// options, the key expression); the compound header at offset 0 is the header of a
// directory tag whose keys are the tag names and whose record numbers are the offsets
// of the tags' headers. A tag's tree has interior pages (full keys with record number
// and child page, both big-endian) and leaf pages whose entries are bit-packed
// (record number, count of bytes shared with the previous key, count of trailing
// pad bytes) at the front while the key bytes that remain grow from the page's end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/table/index_key.h"

namespace zuv::table::cdx {

constexpr uint32_t kPageSize = 512;
constexpr uint32_t kHeaderSize = 1024;
constexpr uint32_t kNoPage = 0xFFFFFFFFu;
constexpr int kDirectoryKeyLength = 10;
constexpr int kMaxKeyLength = 240;

enum : uint16_t { kAttrRoot = 1, kAttrLeaf = 2 };
enum : uint8_t { kOptUnique = 0x01, kOptFor = 0x08, kOptCompact = 0x20, kOptCompound = 0x40, kOptStructure = 0x80 };

struct TagHeader {
  uint32_t root = 0;
  uint32_t free_list = 0;
  uint32_t counter = 0;
  uint16_t key_length = 0;
  uint8_t options = kOptCompact | kOptCompound;
  uint8_t signature = 1;
  bool descending = false;
  std::string expression;  // without its terminating zero
  std::string for_expression;
};

// Throws IndexError when the header cannot be a tag header.
TagHeader decode_header(const uint8_t* bytes /* kHeaderSize */);
void encode_header(const TagHeader& h, uint8_t* bytes /* kHeaderSize */);

struct Entry {
  std::string key;  // full key length, padded
  uint32_t recno = 0;
  uint32_t child = 0;  // interior pages only
};

struct Node {
  uint16_t attr = 0;
  uint32_t left = kNoPage;
  uint32_t right = kNoPage;
  std::vector<Entry> entries;
  bool leaf() const { return attr & kAttrLeaf; }
  bool root() const { return attr & kAttrRoot; }
};

// What the leaf header of a page declares; kept for the checker.
struct LeafLayout {
  uint16_t free_space = 0;
  uint32_t recno_mask = 0;
  uint8_t dup_mask = 0, trail_mask = 0;
  uint8_t recno_bits = 0, dup_bits = 0, trail_bits = 0, entry_bytes = 0;
};

// Decodes one page; throws IndexError naming what is wrong (a damaged page never
// reads outside its 512 bytes).
Node decode_node(const uint8_t* page, int key_length, KeyType type, LeafLayout* layout = nullptr);

// Lays out one leaf page entry by entry: the key bytes left after the shared prefix and
// the trailing pad grow down from the page's end; the packed fields go to the front
// once the page's largest record number, and so their width, is known.
class LeafPacker {
 public:
  LeafPacker(int key_length, KeyType type);
  // False, with nothing changed, when the entry does not fit at entry_bytes bytes per
  // entry. key: key_length bytes.
  bool add(const uint8_t* key, uint32_t recno, size_t entry_bytes);
  size_t count() const { return count_; }
  // The page with its entries; the packer is then empty for the next page.
  void write(uint16_t attr, uint32_t left, uint32_t right, uint8_t* page);

 private:
  size_t kl_;
  char pad_;
  uint8_t keys_[kPageSize];
  size_t key_end_ = kPageSize;
  // An entry takes at least 3 bytes of the page's 488.
  static constexpr size_t kMaxEntries = (kPageSize - 24) / 3;
  size_t count_ = 0;
  uint32_t recnos_[kMaxEntries];
  uint8_t dups_[kMaxEntries], trails_[kMaxEntries];
  uint8_t prev_[kMaxKeyLength];
  uint32_t max_recno_ = 0;
};

// False when the entries do not fit one leaf page.
bool encode_leaf(const Node& node, int key_length, KeyType type, uint8_t* page);
void encode_interior(const Node& node, int key_length, uint8_t* page);
inline size_t interior_capacity(int key_length) { return (kPageSize - 12) / size_t(key_length + 8); }

// Bit widths a leaf uses for keys of this length and records up to max_recno.
LeafLayout leaf_layout(int key_length, uint32_t max_recno);

}  // namespace zuv::table::cdx
