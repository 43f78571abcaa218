// A raw file handle with the sharing rules the tables need. Every failure is answered
// with a Windows error code (0 = success) on both targets, so the error records and the
// callers see the same numbers everywhere:
//   2 file not found, 3 path not found, 5 access denied, 32 sharing violation,
//   33 lock violation, 80 file exists, 112 disk full, 38 end of file (short read).
//
// Sharing between processes:
//   Windows: the share mode of CreateFileW (exclusive = deny all, shared = read+write)
//   and LockFileEx for byte ranges.
//   Linux: flock() on the whole file stands for the share mode (LOCK_EX for exclusive,
//   LOCK_SH for shared), taken without waiting; byte-range locks are open-file-
//   description fcntl locks (F_OFD_SETLK), so two opens in one process exclude each
//   other exactly as two processes do, and every lock ends with its handle or process.
//   Only programs that follow the same rules are excluded on Linux.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/os/change_guard.h"
#include "platform/os/status.h"
#include "platform/os/unchanged_files.h"

namespace zuv::os {
namespace held_writes {
struct HeldFile;
}

enum class Access { Read, ReadWrite };
enum class Share { Exclusive, Shared };

class FileHandle {
 public:
  FileHandle() = default;
  ~FileHandle();
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  // Opens an existing file. path is an OS path (UTF-8).
  [[nodiscard]] int open(const std::string& path, Access access, Share share);
  // Creates a file (replacing an existing one unless fail_if_exists), opened for
  // reading and writing under the given share mode. Consults the fault switch.
  [[nodiscard]] int create(const std::string& path, Share share, bool fail_if_exists = false);
  void close();
  bool is_open() const;
  bool writable() const { return writable_; }

  // Reads up to n bytes at offset; got receives the count (short at end of file).
  [[nodiscard]] int read_at(std::uint64_t offset, void* data, std::size_t n, std::size_t& got) const;
  // Reads exactly n bytes or fails with kHandleEof.
  [[nodiscard]] int read_exact(std::uint64_t offset, void* data, std::size_t n) const;
  // Writes all n bytes at offset. Consults the fault switch.
  [[nodiscard]] int write_at(std::uint64_t offset, const void* data, std::size_t n);
  // Writes the whole of source from offset 0 (inside the OS where it can). copied
  // receives the bytes. Consults the fault switch as a write, once a megabyte.
  [[nodiscard]] int copy_from(const FileHandle& source, std::uint64_t& copied);
  [[nodiscard]] int size(std::uint64_t& out) const;
  [[nodiscard]] int truncate(std::uint64_t length);  // consults the fault switch as a write
  [[nodiscard]] int flush();                         // to the disk, not just the OS

  // Tells the change watcher now of a change about to come through this handle.
  int announce_change() { return before_change(); }
  // Whether the present watcher, when told of this handle's first change, answered
  // that it keeps the file: it is then synced, and put back after a cut, by the
  // watcher. A firm step's tables are synced once, when the step ends.
  bool kept_by_watcher() const { return holding() || (kept_ && watched_ == change_guard::generation()); }
  // Whether this handle's writes wait in memory (held_writes.h).
  bool holding() const { return held_ && held_live(); }
  // Puts the held writes of its file on the disk in place, the watcher told first.
  [[nodiscard]] int settle_held();

  // Byte-range locks, never waiting: kLockViolation when another handle holds any
  // byte of the range.
  int lock(std::uint64_t offset, std::uint64_t length);
  int unlock(std::uint64_t offset, std::uint64_t length);

 private:
  // The OS copies up to n bytes of source at offset to the same offset here without
  // passing them through this process; moved 0 at the end. possible turns false, with
  // nothing moved, where it cannot.
  int copy_inside_os(const FileHandle& source, std::uint64_t offset, std::size_t n, std::size_t& moved,
                     bool& possible);
  // write_at without telling the watcher or asking the fault switch (the caller did).
  int write_told(std::uint64_t offset, const void* data, std::size_t n);
  // The OS's own answers, of the bytes on the disk.
  int read_raw(std::uint64_t offset, void* data, std::size_t n, std::size_t& got) const;
  int size_raw(std::uint64_t& out) const;
  int truncate_raw(std::uint64_t length);
  // The first change through this handle under a watcher goes to it first, unless the
  // watcher lets its writes wait in memory. Every change forgets the file as unchanged.
  int before_change() {
    if (unchanged_files::any()) unchanged_files::forget_native(path_);
    if (holding()) return 0;
    if (!change_guard::watching() || watched_ == change_guard::generation()) return 0;
    if (start_holding()) return 0;
    return told(change_guard::ask(path_, Change::Write, this));
  }
  bool start_holding();
  bool held_live() const;
  void attach_held(const std::string& path);
  void detach_held();
  int write_held(std::uint64_t offset, const void* data, std::size_t n);
  void truncate_held(std::uint64_t length);
  // Keeps the watcher's answer to this handle's first change.
  int told(change_guard::Answer answer) {
    if (answer.code) return answer.code;
    watched_ = change_guard::generation();
    kept_ = answer.kept;
    return 0;
  }

  std::string path_;  // for the change watcher; only of a handle that may write
  unsigned watched_ = 0;  // the watcher's generation that was told; 0 none
  bool kept_ = false;     // its answer
  bool exclusive_ = false;
  std::shared_ptr<held_writes::HeldFile> held_;
#ifdef _WIN32
  void* h_ = nullptr;  // HANDLE; INVALID_HANDLE_VALUE kept as nullptr
#else
  int fd_ = -1;
#endif
  bool writable_ = false;
};

// replace_durably (durable.h) answering only the code, for callers not yet moved over.
[[nodiscard]] int replace_file(const std::string& from, const std::string& to);
// Deletes a file. Consults the fault switch (Delete).
[[nodiscard]] int remove_file(const std::string& path);
// A second name for an existing file's bytes (a hard link), where the file system has
// them; nothing is copied.
[[nodiscard]] int link_file(const std::string& existing, const std::string& new_name);
// Brings a file's contents to the disk (it is opened for the purpose), so that a power
// cut after a later step cannot leave it older than what depends on it. This and the
// directory sync consult the fault switch (Sync), as flush() does.
[[nodiscard]] int sync_file(const std::string& path);
// Brings a directory's entries (files created, renamed or deleted in it) to the disk.
// Windows writes them through on its own (renames ask for it); there it only consults
// the fault switch.
[[nodiscard]] int sync_directory(const std::string& path);
// Lets the cache drop a file's pages that are on the disk: bytes kept for much later,
// which nobody reads meanwhile, should not crowd out the work's own. A hint: Windows
// and any failure leave the cache as it is.
void leave_cache(const std::string& path) noexcept;
// Whether a native path names an existing file (not a directory). Windows path text
// goes to file_exists of files.h instead.
bool native_file_exists(const std::string& path);

}  // namespace zuv::os
