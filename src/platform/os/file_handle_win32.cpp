#include "platform/os/file_handle.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "platform/os/codepage.h"
#include "platform/os/durable.h"
#include "platform/os/fault.h"
#include "platform/os/held_writes.h"

namespace zuv::os {
namespace {

HANDLE as_handle(void* h) { return h ? static_cast<HANDLE>(h) : INVALID_HANDLE_VALUE; }

int last_error() {
  DWORD e = GetLastError();
  return e == 0 ? 1000 : static_cast<int>(e);
}

DWORD share_flags(Share share) { return share == Share::Exclusive ? 0 : (FILE_SHARE_READ | FILE_SHARE_WRITE); }

OVERLAPPED at(std::uint64_t offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

}  // namespace

FileHandle::~FileHandle() { close(); }
FileHandle::FileHandle(FileHandle&& o) noexcept
    : path_(std::move(o.path_)),
      watched_(o.watched_),
      kept_(o.kept_),
      exclusive_(o.exclusive_),
      held_(std::move(o.held_)),
      h_(std::exchange(o.h_, nullptr)),
      writable_(o.writable_) {
  if (held_) held_writes::replace_handle(*held_, &o, this);
}
FileHandle& FileHandle::operator=(FileHandle&& o) noexcept {
  if (this != &o) {
    close();
    h_ = std::exchange(o.h_, nullptr);
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

bool FileHandle::is_open() const { return h_ != nullptr; }

void FileHandle::close() {
  detach_held();
  if (h_) CloseHandle(as_handle(h_));
  h_ = nullptr;
  writable_ = false;
  path_.clear();
}

int FileHandle::open(const std::string& path, Access access, Share share) {
  close();
  DWORD want = GENERIC_READ | (access == Access::ReadWrite ? GENERIC_WRITE : 0);
  HANDLE h = CreateFileW(widen(path).c_str(), want, share_flags(share), nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return last_error();
  h_ = h;
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
  HANDLE h = CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, share_flags(share), nullptr,
                         fail_if_exists ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return last_error();
  h_ = h;
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
    OVERLAPPED ov = at(offset + got);
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n - got, 1u << 30));
    DWORD r = 0;
    if (!ReadFile(as_handle(h_), p + got, chunk, &r, &ov)) {
      DWORD e = GetLastError();
      if (e == ERROR_HANDLE_EOF) break;
      return static_cast<int>(e);
    }
    if (r == 0) break;
    got += r;
  }
  return 0;
}

int FileHandle::write_told(std::uint64_t offset, const void* data, std::size_t n) {
  const auto* p = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < n) {
    OVERLAPPED ov = at(offset + done);
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 30));
    DWORD w = 0;
    if (!WriteFile(as_handle(h_), p + done, chunk, &w, &ov)) return last_error();
    if (w == 0) return oscode::kDiskFull;
    done += w;
  }
  return 0;
}

int FileHandle::copy_inside_os(const FileHandle&, std::uint64_t, std::size_t, std::size_t& moved, bool& possible) {
  moved = 0;
  possible = false;
  return 0;
}

int FileHandle::size_raw(std::uint64_t& out) const {
  LARGE_INTEGER li;
  if (!GetFileSizeEx(as_handle(h_), &li)) return last_error();
  out = static_cast<std::uint64_t>(li.QuadPart);
  return 0;
}

int FileHandle::truncate_raw(std::uint64_t length) {
  FILE_END_OF_FILE_INFO info;
  info.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
  if (!SetFileInformationByHandle(as_handle(h_), FileEndOfFileInfo, &info, sizeof info)) return last_error();
  return 0;
}

int FileHandle::flush() {
  if (kept_by_watcher()) return 0;
  if (int code = fault::check(fault::Op::Sync)) return code;
  return FlushFileBuffers(as_handle(h_)) ? 0 : last_error();
}

int FileHandle::lock(std::uint64_t offset, std::uint64_t length) {
  OVERLAPPED ov = at(offset);
  if (LockFileEx(as_handle(h_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                 static_cast<DWORD>(length & 0xFFFFFFFFu), static_cast<DWORD>(length >> 32), &ov))
    return 0;
  DWORD e = GetLastError();
  return e == ERROR_LOCK_VIOLATION || e == ERROR_IO_PENDING ? oscode::kLockViolation : static_cast<int>(e);
}

int FileHandle::unlock(std::uint64_t offset, std::uint64_t length) {
  OVERLAPPED ov = at(offset);
  if (UnlockFileEx(as_handle(h_), 0, static_cast<DWORD>(length & 0xFFFFFFFFu), static_cast<DWORD>(length >> 32), &ov))
    return 0;
  return last_error();
}

int detail::rename_told(const std::string& from, const std::string& to) {
  if (int code = fault::check(fault::Op::Rename)) return code;
  if (!MoveFileExW(widen(from).c_str(), widen(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return last_error();
  held_writes::gone(to);
  return 0;
}

int remove_file(const std::string& path) {
  if (int code = change_guard::notify(path, Change::Unlink)) return code;
  if (int code = fault::check(fault::Op::Delete)) return code;
  if (!DeleteFileW(widen(path).c_str())) return last_error();
  held_writes::gone(path);
  return 0;
}

int sync_file(const std::string& path) {
  if (int code = fault::check(fault::Op::Sync)) return code;
  // FlushFileBuffers needs write access; other readers may keep the file open meanwhile.
  // A read-only file (a copy keeps its source's flag) is writable for that moment.
  const std::wstring wide = widen(path);
  const DWORD attrs = GetFileAttributesW(wide.c_str());
  const bool read_only = attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY);
  if (read_only && !SetFileAttributesW(wide.c_str(), attrs & ~DWORD(FILE_ATTRIBUTE_READONLY))) return last_error();
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  int rc = h == INVALID_HANDLE_VALUE ? last_error() : 0;
  if (h != INVALID_HANDLE_VALUE) {
    if (!FlushFileBuffers(h)) rc = last_error();
    CloseHandle(h);
  }
  if (read_only && !SetFileAttributesW(wide.c_str(), attrs) && rc == 0) rc = last_error();
  return rc;
}

// Windows writes a directory's entries through with MOVEFILE_WRITE_THROUGH.
int sync_directory(const std::string&) { return fault::check(fault::Op::Sync); }

void leave_cache(const std::string&) noexcept {}

int link_file(const std::string& existing, const std::string& new_name) {
  // The new name is a file created as far as a watcher is concerned.
  if (int code = change_guard::notify(new_name, Change::Write)) return code;
  if (int code = fault::check(fault::Op::Create)) return code;
  if (!CreateHardLinkW(widen(new_name).c_str(), widen(existing).c_str(), nullptr)) return last_error();
  held_writes::gone(new_name);
  // A second name the watcher makes for itself keeps the bytes on the disk; any other
  // shares the writes held for the first.
  if (!change_guard::telling()) held_writes::linked(existing, new_name);
  return 0;
}

bool native_file_exists(const std::string& path) {
  DWORD a = GetFileAttributesW(widen(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace zuv::os
