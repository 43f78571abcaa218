#include "platform/table/index_dbf.h"

#include <cctype>

#include "platform/base/text.h"

namespace zuv::table {
void DbfRecords::open(const std::string& path, bool writable) {
  file_.open(path, writable);
  uint8_t h[32];
  if (file_.size() < 33) throw IndexError("Uszkodzony nagłówek tabeli: " + path);
  file_.read(0, h, 32);
  version_ = h[0];
  count_ = uint32_t(h[4]) | (uint32_t(h[5]) << 8) | (uint32_t(h[6]) << 16) | (uint32_t(h[7]) << 24);
  header_length_ = uint32_t(h[8] | (h[9] << 8));
  record_length_ = uint32_t(h[10] | (h[11] << 8));
  if (header_length_ < 33 || header_length_ > file_.size() || record_length_ < 1)
    throw IndexError("Uszkodzony nagłówek tabeli: " + path);
  if (uint64_t(header_length_) + uint64_t(count_) * record_length_ > file_.size())
    throw IndexError("Tabela krótsza niż liczba rekordów w nagłówku: " + path);
  std::vector<uint8_t> desc(header_length_ - 32);
  file_.read(32, desc.data(), desc.size());
  fields_.clear();
  size_t offset = 0;
  for (size_t p = 0; p + 32 <= desc.size() && desc[p] != 0x0D; p += 32) {
    DbfField f;
    for (size_t i = 0; i < 11 && desc[p + i]; ++i) f.name.push_back(char(desc[p + i]));
    f.type = char(desc[p + 11]);
    f.length = desc[p + 16];
    f.decimals = desc[p + 17];
    if (f.type == 'C') f.length |= desc[p + 17] << 8, f.decimals = 0;
    f.offset = offset;
    offset += size_t(f.length);
    fields_.push_back(f);
  }
  if (fields_.empty() || offset + 1 > record_length_) throw IndexError("Uszkodzony opis pól tabeli: " + path);
}

void DbfRecords::read(uint32_t recno) {
  if (recno < 1 || recno > count_) throw IndexError("Rekord poza tabelą: " + std::to_string(recno));
  record_.resize(record_length_);
  file_.read(header_length_ + uint64_t(recno - 1) * record_length_, record_.data(), record_length_);
}

uint32_t DbfRecords::append(const std::string& data) {
  std::string rec = " " + data;
  rec.resize(record_length_, ' ');
  uint64_t off = header_length_ + uint64_t(count_) * record_length_;
  file_.write(off, rec.data(), rec.size());
  const char eof = 0x1A;
  file_.write(off + rec.size(), &eof, 1);
  ++count_;
  uint8_t c[4] = {uint8_t(count_), uint8_t(count_ >> 8), uint8_t(count_ >> 16), uint8_t(count_ >> 24)};
  file_.write(4, c, 4);
  record_ = rec;
  return count_;
}

void DbfRecords::write(uint32_t recno, const std::string& record) {
  std::string rec = record;
  rec.resize(record_length_, ' ');
  file_.write(header_length_ + uint64_t(recno - 1) * record_length_, rec.data(), rec.size());
  record_ = rec;
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
  const DbfField& f = t_.fields_[size_t(slot)];
  if (t_.record_.size() < 1 + f.offset + size_t(f.length)) return {};
  return std::string_view(t_.record_).substr(1 + f.offset, size_t(f.length));
}

}  // namespace zuv::table
