// Sorting keys for an index build in bounded memory: keys are gathered in a buffer;
// a full buffer is sorted and written to a temporary run file; the runs are merged
// at the end. Character keys are sorted on their collation weights, so the sort and
// the merge compare plain bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/table/index_key.h"

namespace zuv::table {

// A source of (key, record number) pairs.
class KeyStream {
 public:
  virtual ~KeyStream() = default;
  // False when there are no more.
  virtual bool next(std::string& key, uint32_t& recno) = 0;
  // True when the pairs come in order by their own making, so a reader need not check.
  virtual bool ordered() const { return false; }
};

// Pairs from a vector already in order (tests, small builds).
class VectorKeyStream : public KeyStream {
 public:
  explicit VectorKeyStream(std::vector<std::pair<std::string, uint32_t>> items) : items_(std::move(items)) {}
  bool next(std::string& key, uint32_t& recno) override {
    if (pos_ >= items_.size()) return false;
    key = items_[pos_].first;
    recno = items_[pos_].second;
    ++pos_;
    return true;
  }

 private:
  std::vector<std::pair<std::string, uint32_t>> items_;
  size_t pos_ = 0;
};

class KeySorter : public KeyStream {
 public:
  // temp_dir: OS path of a directory for run files; budget: bytes of keys held at once.
  KeySorter(KeyType type, int key_length, size_t budget_bytes, std::string temp_dir);
  ~KeySorter() override;
  KeySorter(const KeySorter&) = delete;
  KeySorter& operator=(const KeySorter&) = delete;

  // How many keys are coming, when known: the buffer is sized once, not grown.
  void expect(uint64_t keys);
  void add(std::string_view key, uint32_t recno);
  // Call once after the last add; then read with next().
  void finish();
  bool next(std::string& key, uint32_t& recno) override;
  bool ordered() const override { return true; }
  size_t runs() const { return runs_.size(); }
  // Of those, written to run files (the rest stayed in memory).
  size_t runs_on_disk() const;
  uint64_t count() const { return count_; }

 private:
  struct Run;
  void spill();
  void encode(std::string_view key, uint32_t recno, uint8_t* out) const;
  void decode(const uint8_t* in, std::string& key, uint32_t& recno) const;

  KeyType type_;
  const uint8_t* weights_ = collation_weights();
  const uint8_t* codes_ = collation_codes();
  size_t key_length_;
  size_t record_size_;
  size_t capacity_;
  size_t budget_;
  size_t held_ = 0;  // bytes of the runs kept in memory
  std::string temp_dir_;
  std::vector<uint8_t> buffer_;
  size_t used_ = 0;
  uint64_t count_ = 0;
  std::vector<std::unique_ptr<Run>> runs_;
  std::vector<size_t> heap_;
  bool finished_ = false;
  bool ascending_ = true;  // every record number added was above the one before
  uint32_t last_recno_ = 0;
  size_t memory_pos_ = 0;
  struct Slot {
    // The record's first 16 bytes, big-endian: most comparisons end here, also among
    // keys that share their first 8 bytes (dates, numbers of one document).
    uint64_t prefix, next;
    uint32_t index;  // where the record lies in the buffer; the sort's own for one held here
  };
  // A record of up to 16 bytes is kept in its slot alone, without the buffer.
  bool in_slots() const { return record_size_ <= 16; }
  // What a record waiting for the sort takes: its slot, and its bytes unless in the slot.
  size_t held_record_bytes() const { return (in_slots() ? 0 : record_size_) + sizeof(Slot); }
  void sort_buffer();
  // The i-th record of the sorted buffer; scratch holds it when it comes from its slot.
  const uint8_t* sorted_record(size_t i, uint8_t* scratch) const;
  std::vector<Slot> order_;
};

}  // namespace zuv::table
