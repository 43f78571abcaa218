#include "platform/os/programs.h"

#include <filesystem>

#include "platform/os/file_handle.h"

namespace zuv::os {

Result<std::string> read_whole_file(const std::string& native_path, std::size_t limit) {
  Result<std::string> r;
  FileHandle h;
  std::uint64_t size = 0;
  if (int code = h.open(native_path, Access::Read, Share::Shared)) return r.code = code, r;
  if (int code = h.size(size)) return r.code = code, r;
  if (size > limit) return r.code = oscode::kNotEnoughMemory, r;
  r.value.assign(static_cast<std::size_t>(size), '\0');
  if (size > 0)
    if (int code = h.read_exact(0, r.value.data(), r.value.size())) r.code = code;
  return r;
}

std::string canonical_native(const std::string& native_path) {
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::path(native_path), ec);
  return ec ? native_path : p.string();
}

}  // namespace zuv::os
