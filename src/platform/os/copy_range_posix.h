// Copying between two open files inside the kernel, where the file system allows it.
#pragma once

#include <errno.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

namespace zuv::os::detail {

// Copies up to n bytes at offset of in to the same offset of out. Answers the bytes
// moved (0 at the end of in), or -1 with errno; possible turns false, with nothing
// moved, where the kernel cannot copy between these two files.
inline long long copy_range(int in, int out, std::uint64_t offset, std::size_t n, bool& possible) {
  for (;;) {
    off_t from = static_cast<off_t>(offset), to = static_cast<off_t>(offset);
    ssize_t r = ::copy_file_range(in, &from, out, &to, n, 0);
    if (r >= 0) return r;
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF) {
      possible = false;
      return 0;
    }
    return -1;
  }
}

}  // namespace zuv::os::detail
