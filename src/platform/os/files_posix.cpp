#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "platform/os/change_guard.h"
#include "platform/os/clock.h"
#include "platform/os/copy_range_posix.h"
#include "platform/os/dir_listing_posix.h"
#include "platform/os/fault.h"
#include "platform/os/held_writes.h"
#include "platform/os/files.h"
#include "platform/os/names.h"
#include "platform/os/path.h"
#include "platform/os/power_cut.h"
#include "platform/os/write_tally.h"

namespace zuv::os {
namespace {

constexpr const char* kAttrName = "user.zuv.attrib";

Status from_errno() { return Status::failure(code_from_errno(errno)); }

// ENOENT is either Windows' "file not found" (2) or, when a directory on the way is
// missing, "path not found" (3).
int missing_code(const std::string& native) {
  size_t slash = native.find_last_of('/', native.size() > 1 ? native.size() - 2 : 0);
  if (slash == std::string::npos) return oscode::kFileNotFound;
  std::string parent = slash == 0 ? "/" : native.substr(0, slash);
  struct stat st;
  return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? oscode::kFileNotFound
                                                                   : oscode::kPathNotFound;
}

Status from_errno(const std::string& native) {
  if (errno == ENOENT) return Status::failure(missing_code(native));
  return from_errno();
}

// Closes a descriptor on every path out.
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

bool read_only(const struct stat& st) { return !S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) == 0; }

// Hidden and System as kept in the extended attribute ("H", "S", "HS").
unsigned emulated_flags(const std::string& native) {
  char buf[8] = {};
  ssize_t n = ::getxattr(native.c_str(), kAttrName, buf, sizeof buf - 1);
  unsigned bits = 0;
  for (ssize_t i = 0; i < n; ++i) {
    if (buf[i] == 'H') bits |= kHidden;
    if (buf[i] == 'S') bits |= kSystem;
  }
  return bits;
}

unsigned attributes_of(const std::string& native, std::string_view name, const struct stat& st) {
  unsigned a = 0;
  if (S_ISDIR(st.st_mode)) a |= kDirectory;
  if (read_only(st)) a |= kReadOnly;
  if (!name.empty() && name[0] == '.' && name != "." && name != "..") a |= kHidden;
  return a | emulated_flags(native);
}

// Our exclusive open takes flock(LOCK_EX) on Linux and a shared one takes LOCK_SH (the
// convention every instance of the program keeps). A copy needs the source readable
// (no exclusive holder); a delete or a replace needs no holder at all. Windows gives
// sharing violation (32) in both cases.
bool held_elsewhere(int fd, bool for_exclusive) {
  if (::flock(fd, (for_exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) return errno == EWOULDBLOCK;
  ::flock(fd, LOCK_UN);
  return false;
}

bool held_elsewhere(const std::string& native, bool for_exclusive) {
  Fd fd(::open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  return fd.fd >= 0 && held_elsewhere(fd.fd, for_exclusive);
}

bool write_all(int fd, const char* data, size_t size, size_t& written) {
  written = 0;
  while (written < size) {
    ssize_t n = ::write(fd, data + written, size - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    written += static_cast<size_t>(n);
  }
  return true;
}

std::string two(int v) {
  char b[3] = {static_cast<char>('0' + v / 10 % 10), static_cast<char>('0' + v % 10), 0};
  return b;
}

std::string join(const std::string& dir, const std::string& name) {
  return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

}  // namespace

std::vector<DirEntry> list_directory(std::string_view pattern, std::string_view filter) {
  std::string dir = native_path(directory_part(pattern));
  if (dir.empty()) dir = ".";
  std::string mask(file_name_part(pattern));
  if (mask.empty()) mask = "*.*";
  unsigned allowed = 0;
  for (char c : filter) {
    if (c == 'D' || c == 'd') allowed |= kDirectory;
    if (c == 'H' || c == 'h') allowed |= kHidden;
    if (c == 'S' || c == 's') allowed |= kSystem;
  }

  std::vector<DirEntry> out;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return out;
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (!mask_matches(mask, name)) continue;
    std::string full = join(dir, name);
    struct stat st;
    if (::stat(full.c_str(), &st) != 0) continue;  // a dangling link or a file just gone
    unsigned a = attributes_of(full, name, st);
    if ((a & (kDirectory | kHidden | kSystem)) & ~allowed) continue;
    DirEntry entry;
    entry.name = name;
    entry.size = S_ISDIR(st.st_mode) ? 0 : held_writes::size_of(full).value_or(static_cast<std::uint64_t>(st.st_size));
    const std::tm tm = local_time(st.st_mtime);
    entry.date = std::to_string(tm.tm_year + 1900) + two(tm.tm_mon + 1) + two(tm.tm_mday);
    entry.time = two(tm.tm_hour) + ":" + two(tm.tm_min) + ":" + two(tm.tm_sec);
    entry.attributes = attribute_letters(a);
    out.push_back(std::move(entry));
  }
  ::closedir(d);
  auto rank = [](const std::string& n) { return n == "." ? 0 : n == ".." ? 1 : 2; };
  std::sort(out.begin(), out.end(), [&](const DirEntry& x, const DirEntry& y) {
    if (rank(x.name) != rank(y.name)) return rank(x.name) < rank(y.name);
    std::string ux = upper_name(x.name), uy = upper_name(y.name);
    return ux != uy ? ux < uy : x.name < y.name;
  });
  return out;
}

bool file_exists(std::string_view path) {
  struct stat st;
  return ::stat(native_path(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool directory_exists(std::string_view path) {
  struct stat st;
  return ::stat(native_path(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Result<std::uint64_t> file_size(std::string_view path) {
  std::string native = native_path(path);
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return {0, from_errno(native).code};
  if (S_ISDIR(st.st_mode)) return {0, oscode::kAccessDenied};
  return {held_writes::size_of(native).value_or(static_cast<std::uint64_t>(st.st_size)), 0};
}

Result<std::uint64_t> free_disk_space(std::string_view directory) {
  std::string native = native_path(directory);
  struct statvfs vfs;
  if (::statvfs(native.c_str(), &vfs) != 0) return {0, from_errno(native).code};
  return {static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize, 0};
}

Result<unsigned> get_attributes(std::string_view path) {
  std::string native = native_path(path);
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return {0, from_errno(native).code};
  std::string_view name = file_name_part(path);
  if (name.empty()) name = file_name_part(std::string_view(path).substr(0, path.size() - 1));
  return {attributes_of(native, name, st), 0};
}

Status change_attributes(std::string_view path, AttrChange change) {
  std::string native = native_path(path);
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return from_errno(native);
  // Read-only lives in the permission bits; a directory keeps its own, as on Windows
  // where the flag does not stop files being made in it.
  if (!S_ISDIR(st.st_mode) && ((change.set | change.clear) & kReadOnly)) {
    mode_t mode = st.st_mode & 07777;
    if (change.set & kReadOnly) mode &= ~(S_IWUSR | S_IWGRP | S_IWOTH);
    if (change.clear & kReadOnly) mode |= S_IWUSR;
    if (mode != (st.st_mode & 07777) && ::chmod(native.c_str(), mode) != 0) return from_errno();
  }
  if ((change.set | change.clear) & (kHidden | kSystem)) {
    unsigned before = emulated_flags(native);
    unsigned after = (before | (change.set & (kHidden | kSystem))) & ~change.clear;
    if (after != before) {
      std::string value;
      if (after & kHidden) value += 'H';
      if (after & kSystem) value += 'S';
      int rc = value.empty() ? ::removexattr(native.c_str(), kAttrName)
                             : ::setxattr(native.c_str(), kAttrName, value.data(), value.size(), 0);
      if (rc != 0) return Status::failure(errno == ENOTSUP ? oscode::kNotSupported : code_from_errno(errno));
    }
  }
  return {};
}

Status copy_file(std::string_view from, std::string_view to) {
  if (int code = fault::check(fault::Op::Copy)) return Status::failure(code);
  std::string src = native_path(from), dst = native_path(to);
  if (int code = held_writes::settle(src)) return Status::failure(code);
  if (int code = change_guard::notify(dst, Change::Write)) return Status::failure(code);
  Fd in(::open(src.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.fd < 0) return from_errno(src);
  struct stat sst;
  if (::fstat(in.fd, &sst) != 0) return from_errno();
  if (S_ISDIR(sst.st_mode)) return Status::failure(oscode::kAccessDenied);
  if (held_elsewhere(in.fd, false)) return Status::failure(oscode::kSharingViolation);

  struct stat dst_st;
  if (::stat(dst.c_str(), &dst_st) == 0) {
    if (S_ISDIR(dst_st.st_mode) || read_only(dst_st)) return Status::failure(oscode::kAccessDenied);
    // Copying a file onto itself: Windows refuses it, as the source is open.
    if (dst_st.st_dev == sst.st_dev && dst_st.st_ino == sst.st_ino)
      return Status::failure(oscode::kSharingViolation);
    if (held_elsewhere(dst, true)) return Status::failure(oscode::kSharingViolation);
  }

  dir_listing::NameChange made = dir_listing::name_added(dst);
  Fd out(::open(dst.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (out.fd < 0) return from_errno(dst);
  made.done();
  auto fail = [&](int err) {
    ::close(out.fd);
    out.fd = -1;
    ::unlink(dst.c_str());
    return Status::failure(code_from_errno(err));
  };
  // Inside the kernel where it can; else through a buffer, from where it stopped.
  bool inside = true;
  std::uint64_t done = 0;
  while (inside) {
    long long n = detail::copy_range(in.fd, out.fd, done, std::size_t(1) << 20, inside);
    if (n < 0) return fail(errno);
    if (n == 0 && inside) break;
    done += static_cast<std::uint64_t>(n);
  }
  if (!inside && ::lseek(in.fd, static_cast<off_t>(done), SEEK_SET) < 0) return fail(errno);
  if (!inside && ::lseek(out.fd, static_cast<off_t>(done), SEEK_SET) < 0) return fail(errno);
  char buf[1 << 16];
  for (; !inside;) {
    ssize_t n = ::read(in.fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    if (n == 0) break;
    size_t written;
    if (!write_all(out.fd, buf, static_cast<size_t>(n), written)) return fail(errno);
    done += static_cast<std::uint64_t>(n);
  }
  power_cut::after_rewrite(out.fd);
  write_tally::wrote(done, dst);
  // The copy carries the source's permissions (its read-only flag), emulated flags and
  // time of last write, as the Windows copy does.
  if (::fchmod(out.fd, sst.st_mode & 07777) != 0) return fail(errno);
  char flags[8];
  ssize_t fl = ::fgetxattr(in.fd, kAttrName, flags, sizeof flags);
  if (fl > 0) ::fsetxattr(out.fd, kAttrName, flags, static_cast<size_t>(fl), 0);
  struct timespec times[2] = {sst.st_atim, sst.st_mtim};
  ::futimens(out.fd, times);
  int fd = out.fd;
  out.fd = -1;
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(dst.c_str());
    return Status::failure(code_from_errno(err));
  }
  held_writes::gone(dst);
  return {};
}

Status delete_file(std::string_view path) {
  if (int code = fault::check(fault::Op::Delete)) return Status::failure(code);
  std::string native = native_path(path);
  struct stat st;
  if (::lstat(native.c_str(), &st) != 0) return from_errno(native);
  if (S_ISDIR(st.st_mode) || read_only(st)) return Status::failure(oscode::kAccessDenied);
  if (int code = change_guard::notify(native, Change::Unlink)) return Status::failure(code);
  if (S_ISREG(st.st_mode) && held_elsewhere(native, true)) return Status::failure(oscode::kSharingViolation);
  dir_listing::NameChange removed = dir_listing::name_removed(native);
  if (::unlink(native.c_str()) != 0) return from_errno();
  removed.done();
  held_writes::gone(native);
  return {};
}

Status rename_file(std::string_view from, std::string_view to) {
  if (int code = fault::check(fault::Op::Rename)) return Status::failure(code);
  std::string src = native_path(from), dst = native_path(to);
  if (int code = change_guard::notify(dst, Change::Unlink)) return Status::failure(code);
  if (int code = change_guard::notify(src, Change::Move)) return Status::failure(code);
  struct stat sst, dst_st;
  if (::lstat(src.c_str(), &sst) != 0) return from_errno(src);
  if (::stat(dst.c_str(), &dst_st) == 0) {
    if (dst_st.st_dev == sst.st_dev && dst_st.st_ino == sst.st_ino && src != dst) {
      // Only the case of the name changes ("abc.dbf" -> "ABC.DBF").
    } else if (S_ISDIR(dst_st.st_mode) || read_only(dst_st)) {
      return Status::failure(oscode::kAccessDenied);
    } else if (held_elsewhere(dst, true)) {
      return Status::failure(oscode::kAccessDenied);  // what Windows answers for a held target
    }
  }
  if (S_ISREG(sst.st_mode) && held_elsewhere(src, true)) return Status::failure(oscode::kSharingViolation);
  dir_listing::NameChange moved = dir_listing::name_moved(src, dst);
  if (::rename(src.c_str(), dst.c_str()) != 0) return from_errno(dst);
  moved.done();
  held_writes::gone(dst);
  return {};
}

Status make_directory(std::string_view path) {
  if (int code = fault::check(fault::Op::Create)) return Status::failure(code);
  std::string native = native_path(path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  dir_listing::NameChange made = dir_listing::name_added(native);
  if (::mkdir(native.c_str(), 0777) != 0) return from_errno(native);
  made.done();
  return {};
}

Status remove_directory(std::string_view path) {
  if (int code = fault::check(fault::Op::Delete)) return Status::failure(code);
  std::string native = native_path(path);
  dir_listing::NameChange removed = dir_listing::name_removed(native);
  if (::rmdir(native.c_str()) != 0) {
    if (errno == ENOTDIR) return Status::failure(267);  // ERROR_DIRECTORY
    return from_errno(native);
  }
  removed.done();
  return {};
}

namespace {

// Native names; lstat, so that a link is unlinked and what it points at stays.
Status remove_tree_native(const std::string& dir) {
  Status first;
  auto note = [&](Status st) {
    if (first.ok() && !st.ok()) first = std::move(st);
  };
  if (DIR* d = ::opendir(dir.c_str())) {
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d))
      if (std::string_view(e->d_name) != "." && std::string_view(e->d_name) != "..") names.push_back(e->d_name);
    ::closedir(d);
    for (const std::string& name : names) {
      const std::string full = join(dir, name);
      struct stat st;
      if (::lstat(full.c_str(), &st) != 0) continue;  // gone meanwhile
      if (S_ISDIR(st.st_mode)) {
        note(remove_tree_native(full));
        continue;
      }
      if (int code = fault::check(fault::Op::Delete)) {
        note(Status::failure(code, "Nie można usunąć pliku", full));
        continue;
      }
      if (int code = change_guard::notify(full, Change::Unlink)) {
        note(Status::failure(code, "Nie można usunąć pliku", full));
        continue;
      }
      dir_listing::NameChange removed = dir_listing::name_removed(full);
      if (::unlink(full.c_str()) != 0) {
        note(Status::failure(code_from_errno(errno), "Nie można usunąć pliku", full));
        continue;
      }
      removed.done();
      held_writes::gone(full);
    }
  }
  if (!first.ok()) return first;
  if (int code = fault::check(fault::Op::Delete)) return Status::failure(code, "Nie można usunąć katalogu", dir);
  dir_listing::NameChange removed = dir_listing::name_removed(dir);
  if (::rmdir(dir.c_str()) != 0) return Status::failure(from_errno(dir).code, "Nie można usunąć katalogu", dir);
  removed.done();
  return {};
}

}  // namespace

Status remove_tree(std::string_view path) {
  std::string native = native_path(path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  return remove_tree_native(native);
}

std::vector<std::pair<std::string, int>> drives() { return {{"\\", 3}}; }
std::string current_drive_root() { return "\\"; }

Result<std::size_t> write_file(std::string_view path, std::string_view data) {
  if (int code = fault::check(fault::Op::Create)) return {0, code};
  std::string native = native_path(path);
  if (int code = change_guard::notify(native, Change::Write)) return {0, code};
  struct stat st;
  if (::stat(native.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode) || read_only(st)) return {0, oscode::kAccessDenied};
    if (held_elsewhere(native, true)) return {0, oscode::kSharingViolation};
  }
  dir_listing::NameChange made = dir_listing::name_added(native);
  Fd fd(::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (fd.fd < 0) return {0, from_errno(native).code};
  made.done();
  held_writes::gone(native);
  if (data.empty()) {
    power_cut::after_rewrite(fd.fd);
    return {0, 0};
  }
  if (int code = fault::check(fault::Op::Write)) return {0, code};
  size_t written = 0;
  if (!write_all(fd.fd, data.data(), data.size(), written)) return {written, code_from_errno(errno)};
  power_cut::after_rewrite(fd.fd);
  write_tally::wrote(written, native);
  int f = fd.fd;
  fd.fd = -1;
  if (::close(f) != 0) return {written, code_from_errno(errno)};
  return {written, 0};
}

}  // namespace zuv::os
