#include "platform/os/file_handle.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/os/fault.h"
#include "platform/os/held_writes.h"

namespace zuv::os {

int FileHandle::read_at(std::uint64_t offset, void* data, std::size_t n, std::size_t& got) const {
  if (!holding()) return read_raw(offset, data, n, got);
  const held_writes::HeldFile& h = *held_;
  got = 0;
  if (offset >= h.size) return 0;
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(n, h.size - offset));
  auto* out = static_cast<char*>(data);
  std::size_t from_disk = 0;
  if (offset < h.disk_valid) {
    const std::size_t d = static_cast<std::size_t>(std::min<std::uint64_t>(want, h.disk_valid - offset));
    if (int rc = read_raw(offset, out, d, from_disk)) return rc;
  }
  std::memset(out + from_disk, 0, want - from_disk);
  const std::uint64_t end = offset + want;
  for (auto it = h.pages.lower_bound(offset / held_writes::kPage); it != h.pages.end(); ++it) {
    const std::uint64_t page_start = it->first * held_writes::kPage;
    if (page_start >= end) break;
    const std::uint64_t a = std::max(page_start, offset), b = std::min(page_start + held_writes::kPage, end);
    std::memcpy(out + (a - offset), it->second.get() + (a - page_start), static_cast<std::size_t>(b - a));
  }
  got = want;
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
  if (holding()) return write_held(offset, data, n);
  return write_told(offset, data, n);
}

int FileHandle::size(std::uint64_t& out) const {
  if (!holding()) return size_raw(out);
  out = held_->size;
  return 0;
}

int FileHandle::truncate(std::uint64_t length) {
  if (int code = before_change()) return code;
  if (int code = fault::check(fault::Op::Write)) return code;
  if (!holding()) return truncate_raw(length);
  truncate_held(length);
  return 0;
}

bool FileHandle::held_live() const { return held_->live && !held_->bypass; }

bool FileHandle::start_holding() {
  if (!writable_ || !exclusive_ || held_writes::budget() == 0) return false;
  ChangeWatcher* watcher = change_guard::current();
  if (!watcher || !watcher->may_hold(path_)) return false;
  std::uint64_t disk = 0;
  if (size_raw(disk) != 0 || disk < held_writes::smallest()) return false;
  held_ = held_writes::start(path_, disk);
  held_->handles.push_back(this);
  return true;
}

void FileHandle::attach_held(const std::string& path) {
  // A watcher keeps what the disk has, which held writes never touched.
  if (change_guard::telling()) return;
  held_ = held_writes::find(path);
  if (held_) held_->handles.push_back(this);
}

void FileHandle::detach_held() {
  if (!held_) return;
  auto& handles = held_->handles;
  handles.erase(std::remove(handles.begin(), handles.end(), this), handles.end());
  held_.reset();
}

int FileHandle::write_held(std::uint64_t offset, const void* data, std::size_t n) {
  held_writes::HeldFile& h = *held_;
  const std::uint64_t end = offset + n;
  if (n == 0) return 0;
  // Pages not yet held start from what the file has there; past the file, or past a
  // truncation, from zeros.
  for (std::uint64_t page = offset / held_writes::kPage; page * held_writes::kPage < end; ++page) {
    if (h.pages.count(page)) continue;
    char* bytes = held_writes::add_page(h, page);
    if (!bytes) {
      // Over the budget: this file goes to the disk in place, and so does this write.
      if (int rc = settle_held()) return rc;
      return write_told(offset, data, n);
    }
    const std::uint64_t start = page * held_writes::kPage;
    std::size_t got = 0;
    if (start < h.disk_valid) {
      const std::size_t d =
          static_cast<std::size_t>(std::min<std::uint64_t>(held_writes::kPage, h.disk_valid - start));
      if (int rc = read_raw(start, bytes, d, got)) return rc;
    }
    std::memset(bytes + got, 0, held_writes::kPage - got);
  }
  const auto* in = static_cast<const char*>(data);
  for (auto it = h.pages.lower_bound(offset / held_writes::kPage); it != h.pages.end(); ++it) {
    const std::uint64_t page_start = it->first * held_writes::kPage;
    if (page_start >= end) break;
    const std::uint64_t a = std::max(page_start, offset), b = std::min(page_start + held_writes::kPage, end);
    std::memcpy(it->second.get() + (a - page_start), in + (a - offset), static_cast<std::size_t>(b - a));
  }
  h.size = std::max(h.size, end);
  return 0;
}

void FileHandle::truncate_held(std::uint64_t length) {
  held_writes::HeldFile& h = *held_;
  h.size = length;
  h.disk_valid = std::min(h.disk_valid, length);
  const std::uint64_t first_gone = (length + held_writes::kPage - 1) / held_writes::kPage;
  held_writes::drop_pages_from(h, first_gone);
  if (length % held_writes::kPage) {
    auto it = h.pages.find(length / held_writes::kPage);
    if (it != h.pages.end())
      std::memset(it->second.get() + length % held_writes::kPage, 0,
                  held_writes::kPage - length % held_writes::kPage);
  }
}

int FileHandle::settle_held() {
  const std::shared_ptr<held_writes::HeldFile> h = held_;
  if (!h || !h->live) return 0;
  if (h->linked) return oscode::kSharingViolation;
  // The watchers keep what the disk has, which the held pages never touched.
  h->bypass = true;
  const change_guard::Answer answer = change_guard::ask(path_, Change::Write, this);
  h->bypass = false;
  if (answer.code) return answer.code;
  std::uint64_t disk = 0;
  if (int rc = size_raw(disk)) return rc;
  // Bytes past a truncation read as zeros, whatever the disk still has there.
  if (h->disk_valid < disk)
    if (int rc = truncate_raw(h->disk_valid)) return rc;
  for (const auto& [page, bytes] : h->pages) {
    const std::uint64_t start = page * held_writes::kPage;
    if (start >= h->size) break;
    const std::size_t len = static_cast<std::size_t>(std::min<std::uint64_t>(held_writes::kPage, h->size - start));
    if (int rc = write_told(start, bytes.get(), len)) return rc;
  }
  if (int rc = size_raw(disk)) return rc;
  if (disk != h->size)
    if (int rc = truncate_raw(h->size)) return rc;
  held_writes::retire(*h);
  watched_ = change_guard::generation();
  kept_ = answer.kept;
  return 0;
}

int FileHandle::copy_from(const FileHandle& source, std::uint64_t& copied) {
  copied = 0;
  if (int code = before_change()) return code;
  constexpr std::size_t kChunk = 1 << 20;
  bool inside = !holding();
  std::vector<char> buffer;
  for (;;) {
    std::size_t moved = 0;
    if (int code = fault::check(fault::Op::Write)) return code;
    if (inside)
      if (int rc = copy_inside_os(source, copied, kChunk, moved, inside)) return rc;
    if (!inside) {
      buffer.resize(kChunk);
      // The source's bytes on the disk: the watchers copy a file before its held
      // writes reach it.
      if (int rc = source.read_raw(copied, buffer.data(), buffer.size(), moved)) return rc;
      if (moved) {
        const int rc = holding() ? write_held(copied, buffer.data(), moved) : write_told(copied, buffer.data(), moved);
        if (rc) return rc;
      }
    }
    if (moved == 0) return 0;
    copied += moved;
  }
}

}  // namespace zuv::os
