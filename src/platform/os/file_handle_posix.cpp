#include "platform/os/file_handle.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

#include "platform/os/copy_range_posix.h"
#include "platform/os/dir_listing_posix.h"
#include "platform/os/durable.h"
#include "platform/os/fault.h"
#include "platform/os/held_writes.h"
#include "platform/os/power_cut.h"
#include "platform/os/write_tally.h"

namespace zuv::os {
namespace {

int from_errno(int e) {
  switch (e) {
    case 0: return 0;
    case ENOENT: return oscode::kFileNotFound;
    case ENOTDIR: return oscode::kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return oscode::kAccessDenied;
    case EEXIST: return oscode::kFileExists;
    case ENOSPC:
    case EDQUOT: return oscode::kDiskFull;
    case EWOULDBLOCK: return oscode::kSharingViolation;
    case EINVAL: return oscode::kInvalidParameter;
    default: return 1000 + e;  // outside the Windows codes the callers tell apart
  }
}

// The share mode is a whole-file flock(); it is independent of the fcntl byte-range
// locks used for records.
int take_share(int fd, Share share) {
  if (::flock(fd, (share == Share::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return 0;
  return errno == EWOULDBLOCK ? oscode::kSharingViolation : from_errno(errno);
}

}  // namespace

FileHandle::~FileHandle() { close(); }
FileHandle::FileHandle(FileHandle&& o) noexcept
    : path_(std::move(o.path_)),
      watched_(o.watched_),
      kept_(o.kept_),
      exclusive_(o.exclusive_),
      held_(std::move(o.held_)),
      fd_(std::exchange(o.fd_, -1)),
      writable_(o.writable_) {
  if (held_) held_writes::replace_handle(*held_, &o, this);
}
FileHandle& FileHandle::operator=(FileHandle&& o) noexcept {
  if (this != &o) {
    close();
    fd_ = std::exchange(o.fd_, -1);
    writable_ = o.writable_;
    path_ = std::move(o.path_);
    watched_ = o.watched_;
    kept_ = o.kept_;
    exclusive_ = o.exclusive_;
    held_ = std::move(o.held_);
    if (held_) held_writes::replace_handle(*held_, &o, this);
  }
  return *this;
}

bool FileHandle::is_open() const { return fd_ >= 0; }

void FileHandle::close() {
  detach_held();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  writable_ = false;
  path_.clear();
}

int FileHandle::open(const std::string& path, Access access, Share share) {
  close();
  int fd = ::open(path.c_str(), (access == Access::Read ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (fd < 0) return from_errno(errno);
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return oscode::kAccessDenied;
  }
  if (int rc = take_share(fd, share)) {
    ::close(fd);
    return rc;
  }
  fd_ = fd;
  writable_ = access == Access::ReadWrite;
  if (writable_) path_ = path;
  watched_ = 0;
  kept_ = false;
  exclusive_ = share == Share::Exclusive;
  attach_held(path);
  return 0;
}

int FileHandle::create(const std::string& path, Share share, bool fail_if_exists) {
  close();
  const change_guard::Answer told = change_guard::ask(path, Change::Write);
  if (told.code) return told.code;
  if (int code = fault::check(fault::Op::Create)) return code;
  // Truncation waits until the share lock is ours: a file someone else holds must not
  // be emptied under them.
  dir_listing::NameChange made = dir_listing::name_added(path);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | (fail_if_exists ? O_EXCL : 0), 0666);
  if (fd < 0) return from_errno(errno);
  made.done();
  power_cut::after_create(fd);
  if (int rc = take_share(fd, share)) {
    ::close(fd);
    return rc;
  }
  power_cut::before_truncate(fd, 0);
  if (::ftruncate(fd, 0) != 0) {
    int rc = from_errno(errno);
    ::close(fd);
    return rc;
  }
  fd_ = fd;
  writable_ = true;
  path_ = path;
  watched_ = change_guard::generation();  // the creation was told already
  kept_ = told.kept;
  exclusive_ = share == Share::Exclusive;
  held_writes::gone(path);
  return 0;
}

int FileHandle::read_raw(std::uint64_t offset, void* data, std::size_t n, std::size_t& got) const {
  got = 0;
  auto* p = static_cast<char*>(data);
  while (got < n) {
    ssize_t r = ::pread(fd_, p + got, n - got, static_cast<off_t>(offset + got));
    if (r < 0) {
      if (errno == EINTR) continue;
      return from_errno(errno);
    }
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  return 0;
}

int FileHandle::write_told(std::uint64_t offset, const void* data, std::size_t n) {
  power_cut::before_write(fd_, offset, data, n);
  write_tally::wrote(n, path_);
  const auto* p = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < n) {
    ssize_t r = ::pwrite(fd_, p + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return from_errno(errno);
    }
    done += static_cast<std::size_t>(r);
  }
  return 0;
}

int FileHandle::copy_inside_os(const FileHandle& source, std::uint64_t offset, std::size_t n, std::size_t& moved,
                               bool& possible) {
  long long r = detail::copy_range(source.fd_, fd_, offset, n, possible);
  if (r < 0) return from_errno(errno);
  moved = static_cast<std::size_t>(r);
  power_cut::after_copy(fd_, offset, moved);
  write_tally::wrote(moved, path_);
  return 0;
}

int FileHandle::size_raw(std::uint64_t& out) const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return from_errno(errno);
  out = static_cast<std::uint64_t>(st.st_size);
  return 0;
}

int FileHandle::truncate_raw(std::uint64_t length) {
  power_cut::before_truncate(fd_, length);
  return ::ftruncate(fd_, static_cast<off_t>(length)) == 0 ? 0 : from_errno(errno);
}

int FileHandle::flush() {
  if (kept_by_watcher()) {
    // Synced when the watch ends; its way to the disk starts now, so that sync has
    // little left to wait for.
    ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
    return 0;
  }
  if (int code = fault::check(fault::Op::Sync)) return code;
  power_cut::before_sync(fd_);
  write_tally::synced();
  return ::fdatasync(fd_) == 0 ? 0 : from_errno(errno);
}

int FileHandle::lock(std::uint64_t offset, std::uint64_t length) {
  struct flock fl {};
  // A handle opened for reading cannot hold a write lock; a read lock still keeps
  // every writer's lock off the range.
  fl.l_type = writable_ ? F_WRLCK : F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  if (::fcntl(fd_, F_OFD_SETLK, &fl) == 0) return 0;
  if (errno == EAGAIN || errno == EACCES) return oscode::kLockViolation;
  return from_errno(errno);
}

int FileHandle::unlock(std::uint64_t offset, std::uint64_t length) {
  struct flock fl {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  return ::fcntl(fd_, F_OFD_SETLK, &fl) == 0 ? 0 : from_errno(errno);
}

int detail::rename_told(const std::string& from, const std::string& to) {
  if (int code = fault::check(fault::Op::Rename)) return code;
  dir_listing::NameChange moved = dir_listing::name_moved(from, to);
  if (::rename(from.c_str(), to.c_str()) != 0) return from_errno(errno);
  moved.done();
  held_writes::gone(to);
  return 0;
}

int sync_file(const std::string& path) {
  if (int code = fault::check(fault::Op::Sync)) return code;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return from_errno(errno);
  power_cut::before_sync(fd);
  write_tally::synced();
  int rc = ::fsync(fd) == 0 ? 0 : from_errno(errno);
  ::close(fd);
  return rc;
}

void leave_cache(const std::string& path) noexcept {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

int sync_directory(const std::string& path) {
  if (int code = fault::check(fault::Op::Sync)) return code;
  power_cut::before_directory_sync(path);
  write_tally::synced();
  int d = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (d < 0) return from_errno(errno);
  int rc = ::fsync(d) == 0 ? 0 : from_errno(errno);
  ::close(d);
  return rc;
}

int remove_file(const std::string& path) {
  if (int code = change_guard::notify(path, Change::Unlink)) return code;
  if (int code = fault::check(fault::Op::Delete)) return code;
  dir_listing::NameChange removed = dir_listing::name_removed(path);
  if (::unlink(path.c_str()) != 0) return from_errno(errno);
  removed.done();
  held_writes::gone(path);
  return 0;
}

int link_file(const std::string& existing, const std::string& new_name) {
  // The new name is a file created as far as a watcher is concerned.
  if (int code = change_guard::notify(new_name, Change::Write)) return code;
  if (int code = fault::check(fault::Op::Create)) return code;
  dir_listing::NameChange made = dir_listing::name_added(new_name);
  if (::link(existing.c_str(), new_name.c_str()) != 0) return from_errno(errno);
  made.done();
  held_writes::gone(new_name);
  // A second name the watcher makes for itself keeps the bytes on the disk; any other
  // shares the writes held for the first.
  if (!change_guard::telling()) held_writes::linked(existing, new_name);
  return 0;
}

bool native_file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace zuv::os
