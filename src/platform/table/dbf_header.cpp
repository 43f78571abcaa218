#include "platform/table/dbf_header.h"

#include <ctime>

#include "platform/base/coding.h"

namespace zuv::table {

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
  std::time_t now = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &now);
#else
  localtime_r(&now, &tm);
#endif
  year = static_cast<std::uint8_t>(tm.tm_year);
  month = static_cast<std::uint8_t>(tm.tm_mon + 1);
  day = static_cast<std::uint8_t>(tm.tm_mday);
}

}  // namespace zuv::table
