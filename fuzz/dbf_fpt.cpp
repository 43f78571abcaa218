// Fuzzes the DBF and memo readers: the input is a table image and a memo image
// (the first four bytes, little-endian, give the table's share of the rest; the
// first byte after them that is odd picks a DBT memo over an FPT one by the table's
// own version byte anyway). Every record and field is read, both ways.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/table/table.h"
#include "platform/error/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::uint32_t split = std::uint32_t(data[0]) | (std::uint32_t(data[1]) << 8) | (std::uint32_t(data[2]) << 16) |
                        (std::uint32_t(data[3]) << 24);
  data += 4;
  size -= 4;
  split = static_cast<std::uint32_t>(split % (size + 1));
  std::string dbf(reinterpret_cast<const char*>(data), split);
  std::string memo(reinterpret_cast<const char*>(data) + split, size - split);

  zuv::ScopedHandler quiet([](zuv::ErrorRecord&) { return zuv::HandlerAnswer::Default; });
  auto table = zuv::table::Table::open_image(std::move(dbf), std::move(memo));
  if (!table) return 0;
  zuv::table::Settings shown;
  shown.deleted_hidden = false;
  table->set_settings(&shown);
  (void)table->structure();
  zuv::table::Value v;
  for (table->go_top(); !table->eof(); table->skip(1)) {
    for (int f = 0; f < table->field_count(); ++f) table->read(f, v);
  }
  for (table->go_bottom(); !table->bof(); table->skip(-1)) {
    for (int f = 0; f < table->field_count(); ++f) (void)table->get(f);
  }
  return 0;
}
