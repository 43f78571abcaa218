#include "platform/os/file_handle.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "platform/os/dir_listing_posix.h"
#include "platform/os/fault.h"
#include "platform/os/undo_journal.h"

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

int read_all(int fd, std::uint64_t offset, char* p, std::size_t n, std::size_t& got) {
  got = 0;
  while (got < n) {
    ssize_t r = ::pread(fd, p + got, n - got, static_cast<off_t>(offset + got));
    if (r < 0) {
      if (errno == EINTR) continue;
      return from_errno(errno);
    }
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  return 0;
}

int write_all(int fd, std::uint64_t offset, const char* p, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    ssize_t r = ::pwrite(fd, p + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return from_errno(errno);
    }
    done += static_cast<std::size_t>(r);
  }
  return 0;
}

// Held writes beyond this go out, so that a long step does not hold a table in memory.
constexpr std::size_t kMostHeld = 8u << 20;

}  // namespace

// A handle's writes to the part of its file a journal covers: held until what they
// write over is saved in the journal and synced (or, for a shared handle, whose writes
// others may read at once, saved and synced before each write).
struct HeldWrites {
  std::shared_ptr<UndoJournal> journal;
  int fd = -1;
  bool hold = true;
  bool active = true;
  std::uint64_t below = 0;  // writes below this go through the journal
  std::map<std::uint64_t, std::string> pending;
  std::size_t bytes = 0;

  int save(std::uint64_t from, std::uint64_t to) {
    return journal->save(from, to, [this](std::uint64_t offset, char* p, std::size_t n) {
      std::size_t got = 0;
      if (int rc = read_all(fd, offset, p, n, got)) return rc;
      return got == n ? 0 : static_cast<int>(oscode::kHandleEof);
    });
  }

  void put(std::uint64_t offset, const char* p, std::size_t n) {
    auto it = pending.upper_bound(offset);
    if (it != pending.begin()) {
      auto before = std::prev(it);
      const std::uint64_t end = before->first + before->second.size();
      // Records written one after another grow one piece.
      if (end == offset && (it == pending.end() || it->first >= offset + n)) {
        before->second.append(p, n);
        bytes += n;
        return;
      }
      if (end > offset) it = before;
    }
    // The pieces it touches, with the ones that touch those, become one.
    std::uint64_t lo = offset, hi = offset + n;
    std::vector<std::pair<std::uint64_t, std::string>> taken;
    while (it != pending.end() && it->first <= hi) {
      lo = std::min(lo, it->first);
      hi = std::max<std::uint64_t>(hi, it->first + it->second.size());
      bytes -= it->second.size();
      taken.emplace_back(it->first, std::move(it->second));
      it = pending.erase(it);
    }
    std::string merged(static_cast<std::size_t>(hi - lo), '\0');
    for (const auto& [at, piece] : taken) std::memcpy(merged.data() + (at - lo), piece.data(), piece.size());
    std::memcpy(merged.data() + (offset - lo), p, n);
    bytes += merged.size();
    pending.emplace(lo, std::move(merged));
  }

  // The held bytes over what was read from the file at offset.
  void overlay(std::uint64_t offset, char* p, std::size_t got) const {
    if (pending.empty() || got == 0) return;
    const std::uint64_t end = offset + got;
    auto it = pending.upper_bound(offset);
    if (it != pending.begin()) --it;
    for (; it != pending.end() && it->first < end; ++it) {
      const std::uint64_t a = std::max(offset, it->first);
      const std::uint64_t b = std::min<std::uint64_t>(end, it->first + it->second.size());
      if (a < b) std::memcpy(p + (a - offset), it->second.data() + (a - it->first), static_cast<std::size_t>(b - a));
    }
  }

  int write_out() {
    if (pending.empty()) return 0;
    for (const auto& [offset, piece] : pending)
      if (int rc = save(offset, offset + piece.size())) return rc;
    if (int rc = journal->sync()) return rc;
    // A cut here leaves the journal saved and none of what it covers written.
    if (int code = fault::check(fault::Op::Write)) return code;
    for (const auto& [offset, piece] : pending)
      if (int rc = write_all(fd, offset, piece.data(), piece.size())) return rc;
    pending.clear();
    bytes = 0;
    return 0;
  }
};

namespace {

std::mutex g_holding_lock;
std::set<HeldWrites*> g_holding;

void stop_holding(HeldWrites& h) {
  if (!h.active) return;
  change_guard::note_held_error(h.write_out());
  h.active = false;
  h.journal.reset();
  std::lock_guard<std::mutex> lock(g_holding_lock);
  g_holding.erase(&h);
}

}  // namespace

void release_held_writes() {
  std::set<HeldWrites*> all;
  {
    std::lock_guard<std::mutex> lock(g_holding_lock);
    all.swap(g_holding);
  }
  for (HeldWrites* h : all) {
    change_guard::note_held_error(h->write_out());
    h->active = false;
    h->journal.reset();
  }
}

FileHandle::~FileHandle() { close(); }
FileHandle::FileHandle(FileHandle&& o) noexcept
    : path_(std::move(o.path_)),
      watched_(o.watched_),
      exclusive_(o.exclusive_),
      held_(std::move(o.held_)),
      fd_(std::exchange(o.fd_, -1)),
      writable_(o.writable_) {}
FileHandle& FileHandle::operator=(FileHandle&& o) noexcept {
  if (this != &o) {
    close();
    fd_ = std::exchange(o.fd_, -1);
    writable_ = o.writable_;
    path_ = std::move(o.path_);
    watched_ = o.watched_;
    exclusive_ = o.exclusive_;
    held_ = std::move(o.held_);
  }
  return *this;
}

bool FileHandle::is_open() const { return fd_ >= 0; }

void FileHandle::close() {
  if (held_) {
    // Nobody is there to be told of a failure now: the watcher learns of it.
    stop_holding(*held_);
    held_.reset();
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  writable_ = false;
  path_.clear();
}

int FileHandle::identity(FileIdentity& out) const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return from_errno(errno);
  out.device = static_cast<std::uint64_t>(st.st_dev);
  out.number = static_cast<std::uint64_t>(st.st_ino);
  return 0;
}

int FileHandle::watch_change() {
  if (held_) {
    stop_holding(*held_);
    held_.reset();
  }
  if (std::shared_ptr<UndoJournal> journal = change_guard::journal_for(path_, *this)) {
    std::uint64_t now = 0;
    if (int rc = size(now)) return rc;
    auto h = std::make_shared<HeldWrites>();
    h->journal = std::move(journal);
    h->fd = fd_;
    h->hold = exclusive_;
    h->below = std::min(h->journal->original_size(), now);
    {
      std::lock_guard<std::mutex> lock(g_holding_lock);
      g_holding.insert(h.get());
    }
    held_ = std::move(h);
  } else if (int rc = change_guard::notify(path_, Change::Write, this)) {
    return rc;
  }
  watched_ = change_guard::generation();
  return 0;
}

int FileHandle::write_held() { return held_ && held_->active ? held_->write_out() : 0; }

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
  exclusive_ = share == Share::Exclusive;
  if (writable_) path_ = path;
  watched_ = 0;
  return 0;
}

int FileHandle::create(const std::string& path, Share share, bool fail_if_exists) {
  close();
  if (int code = change_guard::notify(path, Change::Write)) return code;
  if (int code = fault::check(fault::Op::Create)) return code;
  // Truncation waits until the share lock is ours: a file someone else holds must not
  // be emptied under them.
  dir_listing::NameChange made = dir_listing::name_added(path);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | (fail_if_exists ? O_EXCL : 0), 0666);
  if (fd < 0) return from_errno(errno);
  made.done();
  if (int rc = take_share(fd, share)) {
    ::close(fd);
    return rc;
  }
  if (::ftruncate(fd, 0) != 0) {
    int rc = from_errno(errno);
    ::close(fd);
    return rc;
  }
  fd_ = fd;
  writable_ = true;
  exclusive_ = share == Share::Exclusive;
  path_ = path;
  watched_ = change_guard::generation();  // the creation was told already
  return 0;
}

int FileHandle::read_at(std::uint64_t offset, void* data, std::size_t n, std::size_t& got) const {
  auto* p = static_cast<char*>(data);
  if (int rc = read_all(fd_, offset, p, n, got)) return rc;
  if (held_ && held_->active) held_->overlay(offset, p, got);
  return 0;
}

int FileHandle::read_exact(std::uint64_t offset, void* data, std::size_t n) const {
  std::size_t got = 0;
  if (int rc = read_at(offset, data, n, got)) return rc;
  return got == n ? 0 : oscode::kHandleEof;
}

int FileHandle::write_at(std::uint64_t offset, const void* data, std::size_t n) {
  if (int code = before_change()) return code;
  if (int code = fault::check(fault::Op::Write)) return code;
  const auto* p = static_cast<const char*>(data);
  if (held_ && held_->active && offset < held_->below) {
    HeldWrites& h = *held_;
    const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(n, h.below - offset));
    if (h.hold) {
      h.put(offset, p, part);
      if (h.bytes > kMostHeld)
        if (int rc = h.write_out()) return rc;
    } else {
      if (int rc = h.save(offset, offset + part)) return rc;
      if (int rc = h.journal->sync()) return rc;
      if (int rc = write_all(fd_, offset, p, part)) return rc;
    }
    if (part == n) return 0;
    offset += part;
    p += part;
    n -= part;
  }
  return write_all(fd_, offset, p, n);
}

int FileHandle::size(std::uint64_t& out) const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return from_errno(errno);
  out = static_cast<std::uint64_t>(st.st_size);
  return 0;
}

int FileHandle::truncate(std::uint64_t length) {
  if (int code = before_change()) return code;
  if (int code = fault::check(fault::Op::Write)) return code;
  if (held_ && held_->active) {
    HeldWrites& h = *held_;
    if (int rc = h.write_out()) return rc;
    // What the cut takes away is saved first.
    if (length < h.below) {
      if (int rc = h.save(length, h.below)) return rc;
      if (int rc = h.journal->sync()) return rc;
      h.below = length;
    }
  }
  return ::ftruncate(fd_, static_cast<off_t>(length)) == 0 ? 0 : from_errno(errno);
}

int FileHandle::flush() {
  if (int rc = write_held()) return rc;
  if (kept_by_watcher()) {
    // Synced when the watch ends; its way to the disk starts now, so that sync has
    // little left to wait for.
    ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
    return 0;
  }
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

int replace_file(const std::string& from, const std::string& to) {
  if (int code = change_guard::notify(to, Change::Unlink)) return code;
  if (int code = change_guard::notify(from, Change::Unlink)) return code;
  if (int code = fault::check(fault::Op::Rename)) return code;
  dir_listing::NameChange moved = dir_listing::name_moved(from, to);
  if (::rename(from.c_str(), to.c_str()) != 0) return from_errno(errno);
  moved.done();
  // The rename itself reaches the disk only with its directory (or with the watcher's
  // sync of it, when the watcher keeps the file).
  if (change_guard::kept_by_watcher(to)) return 0;
  std::string::size_type slash = to.find_last_of('/');
  sync_directory(slash == std::string::npos ? "." : slash == 0 ? "/" : to.substr(0, slash));
  return 0;
}

int sync_file(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return from_errno(errno);
  int rc = ::fsync(fd) == 0 ? 0 : from_errno(errno);
  ::close(fd);
  return rc;
}

int sync_directory(const std::string& path) {
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
  return 0;
}

int link_file(const std::string& existing, const std::string& new_name) {
  if (int code = fault::check(fault::Op::Create)) return code;
  dir_listing::NameChange made = dir_listing::name_added(new_name);
  if (::link(existing.c_str(), new_name.c_str()) != 0) return from_errno(errno);
  made.done();
  return 0;
}

bool native_file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace zuv::os
