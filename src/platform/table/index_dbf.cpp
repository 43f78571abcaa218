#include "platform/table/index_dbf.h"

#include <algorithm>

#include "platform/base/coding.h"
#include "platform/base/text.h"
#include "platform/table/dbf_header.h"

namespace zuv::table {

void DbfRecords::open(const std::string& path, bool writable) {
  file_.open(path, writable);
  record_.clear();
  current_ = nullptr;
  block_count_ = 0;
  // Builds, checks and scans read the records in file order.
  file_.set_read_ahead(true);
  uint8_t h[32];
  if (file_.size() < 33) throw IndexError("Uszkodzony nagłówek tabeli: " + path);
  file_.read(0, h, 32);
  const DbfHeader header = DbfHeader::decode(h);
  version_ = header.version;
  count_ = header.count;
  header_length_ = header.header_length;
  record_length_ = header.record_length;
  if (!dbf_version_known(version_)) throw IndexError("Nieznana wersja tabeli: " + path);
  if (header_length_ < 65 || header_length_ > file_.size() || record_length_ < 2)
    throw IndexError("Uszkodzony nagłówek tabeli: " + path);
  if (uint64_t(header_length_) + uint64_t(count_) * record_length_ > file_.size())
    throw IndexError("Tabela krótsza niż liczba rekordów w nagłówku: " + path);
  std::vector<uint8_t> head(header_length_);
  file_.read(0, head.data(), head.size());
  std::vector<FieldDescriptor> fields;
  if (std::string fault = decode_dbf_fields(head.data(), head.size(), version_, fields); !fault.empty())
    throw IndexError("Uszkodzony opis pól tabeli (" + fault + "): " + path);
  fields_.clear();
  for (const auto& f : fields) fields_.push_back({f.name, f.type, f.length, f.decimals, size_t(f.offset - 1)});
  if (fields_.back().offset + size_t(fields_.back().length) + 1 > record_length_)
    throw IndexError("Uszkodzony opis pól tabeli: " + path);
}

void DbfRecords::read(uint32_t recno) {
  if (recno < 1 || recno > count_) throw IndexError("Rekord poza tabelą: " + std::to_string(recno));
  record_.resize(record_length_);
  file_.read(header_length_ + uint64_t(recno - 1) * record_length_, record_.data(), record_length_);
  current_ = record_.data();
}

void DbfRecords::source_load(uint32_t recno) {
  if (recno < block_first_ || recno - block_first_ >= block_count_) {
    if (recno < 1 || recno > count_) throw IndexError("Rekord poza tabelą: " + std::to_string(recno));
    const uint32_t per_block = std::max<uint32_t>(uint32_t((256 * 1024) / record_length_), 1);
    block_count_ = std::min(per_block, count_ - recno + 1);
    block_first_ = recno;
    block_.resize(size_t(block_count_) * record_length_);
    file_.read(header_length_ + uint64_t(recno - 1) * record_length_, block_.data(), block_.size());
  }
  current_ = block_.data() + size_t(recno - block_first_) * record_length_;
}

uint32_t DbfRecords::append(const std::string& data) {
  std::string rec = " " + data;
  rec.resize(record_length_, ' ');
  uint64_t off = header_length_ + uint64_t(count_) * record_length_;
  file_.write(off, rec.data(), rec.size());
  const char eof = 0x1A;
  file_.write(off + rec.size(), &eof, 1);
  ++count_;
  uint8_t c[4];
  base::put_le32(c, count_);
  file_.write(4, c, 4);
  record_ = rec;
  current_ = record_.data();
  block_count_ = 0;
  return count_;
}

void DbfRecords::write(uint32_t recno, const std::string& record) {
  std::string rec = record;
  rec.resize(record_length_, ' ');
  file_.write(header_length_ + uint64_t(recno - 1) * record_length_, rec.data(), rec.size());
  record_ = rec;
  current_ = record_.data();
  block_count_ = 0;
}

std::optional<FieldRef> DbfRecords::resolve(std::string_view alias, std::string_view field) const {
  (void)alias;
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (base::iequals_ascii(fields_[i].name, field))
      return FieldRef{int(i), fields_[i].type, fields_[i].length, fields_[i].decimals};
  }
  return std::nullopt;
}

std::string_view DbfRecords::View::field_bytes(int slot) const {
  // open made sure every field lies inside a record.
  if (!t_.current_) return {};
  const DbfField& f = t_.fields_[size_t(slot)];
  return std::string_view(t_.current_ + 1 + f.offset, size_t(f.length));
}

}  // namespace zuv::table
