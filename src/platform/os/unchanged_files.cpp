#include "platform/os/unchanged_files.h"

#include <map>

#include "platform/os/codepage.h"
#include "platform/os/path.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace zuv::os::unchanged_files {
namespace detail {
std::size_t g_count = 0;
}

namespace {

// What the disk says of a file: a file put in its place, or written by someone the
// hooks do not see, differs in one of these.
struct Look {
  unsigned long long volume = 0, id = 0, size = 0, written = 0, changed = 0;
  bool operator==(const Look& o) const {
    return volume == o.volume && id == o.id && size == o.size && written == o.written && changed == o.changed;
  }
};

std::map<std::string, Look> g_files;  // by native_key

bool look_at(const std::string& native, Look& out) {
#ifdef _WIN32
  HANDLE h = CreateFileW(widen(native).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  if (!ok) return false;
  auto join = [](DWORD high, DWORD low) { return (static_cast<unsigned long long>(high) << 32) | low; };
  out.volume = info.dwVolumeSerialNumber;
  out.id = join(info.nFileIndexHigh, info.nFileIndexLow);
  out.size = join(info.nFileSizeHigh, info.nFileSizeLow);
  out.written = join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
  out.changed = join(info.ftCreationTime.dwHighDateTime, info.ftCreationTime.dwLowDateTime);
  return true;
#else
  struct stat st;
  if (::stat(native.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  out.volume = static_cast<unsigned long long>(st.st_dev);
  out.id = static_cast<unsigned long long>(st.st_ino);
  out.size = static_cast<unsigned long long>(st.st_size);
  out.written = static_cast<unsigned long long>(st.st_mtim.tv_sec) * 1000000000ull +
                static_cast<unsigned long long>(st.st_mtim.tv_nsec);
  out.changed = static_cast<unsigned long long>(st.st_ctim.tv_sec) * 1000000000ull +
                static_cast<unsigned long long>(st.st_ctim.tv_nsec);
  return true;
#endif
}

}  // namespace

void remember(const std::string& path) {
  const std::string native = native_path(path);
  Look look;
  if (!look_at(native, look)) return forget_native(native);
  g_files[native_key(native)] = look;
  detail::g_count = g_files.size();
}

bool unchanged(const std::string& path) {
  const std::string native = native_path(path);
  const auto it = g_files.find(native_key(native));
  if (it == g_files.end()) return false;
  Look now;
  return look_at(native, now) && now == it->second;
}

void forget_all() {
  g_files.clear();
  detail::g_count = 0;
}

void forget_native(const std::string& native_path) {
  if (g_files.empty()) return;
  g_files.erase(native_key(native_path));
  detail::g_count = g_files.size();
}

}  // namespace zuv::os::unchanged_files
