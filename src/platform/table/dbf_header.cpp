#include "platform/table/dbf_header.h"

#include <cctype>
#include <ctime>

#include "platform/base/coding.h"
#include "platform/base/text.h"
#include "platform/os/clock.h"

namespace zuv::table {
namespace {

bool is_visual(std::uint8_t v) { return v == 0x30 || v == 0x31 || v == 0x32; }

bool type_known(char t, std::uint8_t version) {
  switch (t) {
    case 'C': case 'N': case 'D': case 'L': case 'M': case 'F': return true;
    case 'G': case 'P': return version != 0x03 && version != 0x83;
    case 'I': case 'B': case 'Y': case 'T': case '0': case 'V': case 'Q': case 'W': return is_visual(version);
    default: return false;
  }
}

// The width rules a stored field must satisfy before its bytes are trusted.
bool length_valid(const FieldDescriptor& f) {
  switch (f.type) {
    case 'N': case 'F': return f.length >= 1 && f.length <= 20;
    case 'D': return f.length == 8;
    case 'L': return f.length == 1;
    case 'M': case 'G': case 'P': return f.length == 10 || f.length == 4;
    case 'I': return f.length == 4;
    case 'B': case 'Y': case 'T': return f.length == 8;
    default: return f.length >= 1;
  }
}

bool decimals_valid(const FieldDescriptor& f) {
  switch (f.type) {
    case 'N': case 'F': return f.decimals < f.length;
    // Other writers take a text field's decimals byte for the high byte of a long
    // width: a text field with one would be read with another record layout.
    case 'C': return f.decimals == 0;
    default: return true;
  }
}

}  // namespace

bool dbf_version_known(std::uint8_t v) {
  return v == 0x03 || v == 0x83 || v == 0xF5 || v == 0x30 || v == 0x31 || v == 0x32;
}

std::string decode_dbf_fields(const std::uint8_t* head, std::size_t header_length, std::uint8_t version,
                              std::vector<FieldDescriptor>& fields) {
  fields.clear();
  std::uint32_t offset = 1;
  for (std::size_t pos = 32; pos < header_length; pos += 32) {
    if (head[pos] == 0x0D) return fields.empty() ? "tabela bez pól" : "";
    if (pos + 32 > header_length) break;
    const std::uint8_t* d = head + pos;
    FieldDescriptor f;
    std::size_t name_len = 0;
    while (name_len < 11 && d[name_len] != 0) ++name_len;
    f.name = base::upper_ascii(base::trim(std::string_view(reinterpret_cast<const char*>(d), name_len)));
    f.type = static_cast<char>(std::toupper(d[11]));
    f.length = d[16];
    f.decimals = d[17];
    f.flags = d[18];
    f.offset = offset;
    if (f.name.empty()) return "pole bez nazwy";
    if (!type_known(f.type, version)) return "pole " + f.name + " nieznanego typu";
    if (!length_valid(f)) return "błędna długość pola " + f.name;
    if (!decimals_valid(f)) return "błędna liczba miejsc dziesiętnych pola " + f.name;
    offset += f.length;
    fields.push_back(std::move(f));
  }
  return "brak znacznika końca opisu pól (0x0D) w długości nagłówka";
}

DbfHeader DbfHeader::decode(const std::uint8_t* b) {
  DbfHeader h;
  h.version = b[0];
  h.year = b[1];
  h.month = b[2];
  h.day = b[3];
  h.count = base::le32(b + 4);
  h.header_length = base::le16(b + 8);
  h.record_length = base::le16(b + 10);
  h.flags = b[28];
  return h;
}

void DbfHeader::encode(std::uint8_t* b) const {
  b[0] = version;
  b[1] = year;
  b[2] = month;
  b[3] = day;
  base::put_le32(b + 4, count);
  base::put_le16(b + 8, header_length);
  base::put_le16(b + 10, record_length);
  b[28] = flags;
}

void DbfHeader::stamp_today() {
  const std::tm tm = os::local_time(std::time(nullptr));
  year = static_cast<std::uint8_t>(tm.tm_year);
  month = static_cast<std::uint8_t>(tm.tm_mon + 1);
  day = static_cast<std::uint8_t>(tm.tm_mday);
}

}  // namespace zuv::table
