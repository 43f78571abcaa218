// An index's undo journal as a cut leaves it, read as the next writer's recovery reads
// it: it must end with the ranges to put back or an IndexError, never a crash; and no
// range it answers may reach past the size the file had before the change, nor that
// size past the file (putting such a journal back would grow or damage the index).
// The first four bytes, little-endian, give the index file's size; the rest is the
// journal.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/table/index_file.h"
#include "platform/table/index_key.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::uint64_t file_size = std::uint64_t(data[0]) | (std::uint64_t(data[1]) << 8) |
                                  (std::uint64_t(data[2]) << 16) | (std::uint64_t(data[3]) << 24);
  const std::string_view journal(reinterpret_cast<const char*>(data) + 4, size - 4);
  try {
    auto undo = zuv::table::read_undo_journal(journal, file_size, "fuzz.cdx.zuvundo");
    if (!undo) return 0;
    if (undo->old_size > file_size) __builtin_trap();
    for (const auto& r : undo->ranges) {
      if (r.off > undo->old_size || r.bytes.size() > undo->old_size - r.off) __builtin_trap();
      if (r.bytes.data() < journal.data() || r.bytes.data() + r.bytes.size() > journal.data() + journal.size())
        __builtin_trap();
    }
  } catch (const zuv::table::IndexError&) {
  }
  return 0;
}
