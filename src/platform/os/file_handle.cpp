#include "platform/os/file_handle.h"

#include <vector>

#include "platform/os/fault.h"

namespace zuv::os {

int FileHandle::copy_from(const FileHandle& source, std::uint64_t& copied) {
  copied = 0;
  if (int code = before_change()) return code;
  constexpr std::size_t kChunk = 1 << 20;
  bool inside = true;
  std::vector<char> buffer;
  for (;;) {
    std::size_t moved = 0;
    if (int code = fault::check(fault::Op::Write)) return code;
    if (inside)
      if (int rc = copy_inside_os(source, copied, kChunk, moved, inside)) return rc;
    if (!inside) {
      buffer.resize(kChunk);
      if (int rc = source.read_at(copied, buffer.data(), buffer.size(), moved)) return rc;
      if (moved)
        if (int rc = write_told(copied, buffer.data(), moved)) return rc;
    }
    if (moved == 0) return 0;
    copied += moved;
  }
}

}  // namespace zuv::os
