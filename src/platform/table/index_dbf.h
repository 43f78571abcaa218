// A plain DBF reader for the index layer and its checker: header, field list and raw
// records, nothing else. It validates the header against the file size and lets key
// expressions read the fields of one record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/table/index_build.h"
#include "platform/table/index_file.h"
#include "platform/table/keyexpr.h"

namespace zuv::table {

struct DbfField {
  std::string name;  // as stored (capitals)
  char type = 'C';
  int length = 0;
  int decimals = 0;
  size_t offset = 0;  // in the record, after the deletion flag
};

class DbfRecords : public FieldResolver, public RecordSource {
 public:
  // Throws IndexError when the file is missing or its header does not fit the file.
  void open(const std::string& path, bool writable = false);
  const std::vector<DbfField>& fields() const { return fields_; }
  uint8_t version() const { return version_; }
  uint32_t record_count() const { return count_; }
  uint32_t header_length() const { return header_length_; }
  uint32_t record_length() const { return record_length_; }
  uint64_t file_size() const { return file_.size(); }
  const std::string& path() const { return file_.path(); }

  // Reads record recno (1-based) into the current buffer.
  void read(uint32_t recno);
  const std::string& record() const { return record_; }
  bool deleted() const { return !record_.empty() && record_[0] == '*'; }
  // Appends a record (the bytes after the deletion flag, padded) and updates the
  // header's count; answers its number.
  uint32_t append(const std::string& data);
  // Rewrites the current record in place.
  void write(uint32_t recno, const std::string& record);
  void flush() { file_.flush(); }

  std::optional<FieldRef> resolve(std::string_view alias, std::string_view field) const override;

  // A view of the current buffer for key expressions.
  class View : public RecordView {
   public:
    explicit View(const DbfRecords& t) : t_(t) {}
    std::string_view field_bytes(int slot) const override;

   private:
    const DbfRecords& t_;
  };
  View view() const { return View(*this); }

  uint32_t source_count() const override { return count_; }
  // Reads the records a block at a time and points the view into the block: a build
  // goes through them in file order.
  void source_load(uint32_t recno) override;
  const RecordView& source_view() const override { return view_; }
  const FieldResolver& source_fields() const override { return *this; }

 private:
  BlockFile file_;
  std::vector<DbfField> fields_;
  uint8_t version_ = 0;
  uint32_t count_ = 0;
  uint32_t header_length_ = 0;
  uint32_t record_length_ = 0;
  std::string record_;
  const char* current_ = nullptr;  // the record the view reads: in record_ or in block_
  std::vector<char> block_;
  uint32_t block_first_ = 0, block_count_ = 0;
  View view_{*this};
};

}  // namespace zuv::table
