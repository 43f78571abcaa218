// A file read and written in whole blocks at given offsets, for the index formats, on
// the OS layer's file handle: an index opened with its table takes the table's share
// mode, and every write passes the fault switch. Failures throw IndexError carrying
// the OS code.
//
// An undo journal makes a change of many pages all or nothing: between begin_undo()
// and commit_undo() the first write to each byte range below the starting size keeps
// the old bytes, and rollback_undo() puts them back and cuts the file to its old size.
// The old bytes also go to a file beside the index ("name.zuvundo") before the page
// is overwritten, and the journal is emptied when the change is complete: a process
// that dies in the middle of a change leaves the journal, and the next writer that
// opens the file (recover()) puts the pages back, so a crash never leaves half a
// change (a split page without its parent, a tag half entered).
//
// A file opened alone that the change watcher keeps whole is put back by it after a
// cut, so its writes wait in memory until flush() (or a megabyte of them): records
// added one by one then write each changed page once, not once per key.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/file_handle.h"

namespace zuv::table {

class BlockFile {
 public:
  BlockFile() = default;
  ~BlockFile();
  BlockFile(const BlockFile&) = delete;
  BlockFile& operator=(const BlockFile&) = delete;

  // path is the OS path (UTF-8). Throws IndexError with the operator's text on failure.
  void open(const std::string& path, bool writable, os::Share share = os::Share::Shared);
  void create(const std::string& path, os::Share share = os::Share::Shared);  // truncates
  // A file's bytes held in memory, read only (the fuzzer reads damaged files so).
  void open_image(std::string bytes, const std::string& name);
  void close();
  bool is_open() const { return from_image_ || file_.is_open(); }
  bool writable() const { return writable_; }
  const std::string& path() const { return path_; }

  uint64_t size() const { return size_; }
  // Reads the size again (another process may have grown the file).
  void refresh_size();
  // Reads n bytes at off; throws when the range is not inside the file.
  void read(uint64_t off, void* buf, size_t n);
  void write(uint64_t off, const void* buf, size_t n);
  // To the disk (fsync / FlushFileBuffers).
  void flush();
  void truncate(uint64_t length);
  // For a read-only file read record by record in file order (a scan, a check): reads
  // then go to the OS in runs of 64 KB, not one by one. Only for files nobody changes
  // meanwhile.
  void set_read_ahead(bool on) { read_ahead_ = on && !writable_; ahead_len_ = 0; }

  void begin_undo();
  void commit_undo();  // throws when the journal cannot be emptied: roll back then
  // Never throws: answers false when the old bytes could not all be put back.
  bool rollback_undo() noexcept;
  bool in_undo() const { return undo_active_; }
  // Takes back the change of a writer that died (the journal left beside the file).
  // Only for a writer that holds the file alone (exclusive, or under the update lock).
  bool recover();  // true when pages were put back

 private:
  void keep_old(uint64_t off, size_t n);
  bool deferring();
  void read_through(uint64_t off, void* buf, size_t n);
  void put_waiting(uint64_t off, const void* buf, size_t n);
  void write_waiting();
  void journal(uint64_t off, const std::vector<uint8_t>& old);
  void empty_journal() noexcept;
  std::string journal_path() const { return path_ + ".zuvundo"; }
  [[noreturn]] void fail(const std::string& what, int os_code) const;

  os::FileHandle file_;
  std::string image_;
  bool from_image_ = false;
  bool read_ahead_ = false;
  std::vector<uint8_t> ahead_;
  uint64_t ahead_off_ = 0;
  size_t ahead_len_ = 0;
  uint64_t last_end_ = ~uint64_t(0);
  std::string path_;
  uint64_t size_ = 0;
  bool writable_ = false;
  bool undo_active_ = false;
  uint64_t undo_size_ = 0;
  std::map<uint64_t, std::vector<uint8_t>> undo_;  // 512-byte units by offset
  bool exclusive_ = false;
  uint64_t disk_size_ = 0;                            // what the file itself holds
  std::map<uint64_t, std::vector<uint8_t>> waiting_;  // 512-byte units not yet written
  os::FileHandle journal_;
  uint64_t journal_size_ = 0;  // 0: nothing journalled in the change under way
};

// What an undo journal left by a cut puts back: the file's size before the change and
// the old bytes of each range, in the order written. nullopt when it holds no change
// (too short, or blanked once its change was complete). Throws IndexError when it
// cannot belong to a file of file_size bytes (a range beyond the old size, an old size
// beyond the file): putting it back would damage the file.
struct UndoJournal {
  struct Range {
    uint64_t off;
    std::string_view bytes;  // inside the journal's bytes
  };
  uint64_t old_size = 0;
  std::vector<Range> ranges;
};
std::optional<UndoJournal> read_undo_journal(std::string_view journal, uint64_t file_size,
                                             const std::string& name);

// Replaces target by source (a finished file beside it) through os::replace_durably;
// an IndexError when that fails.
void replace_file(const std::string& source, const std::string& target);
void remove_file_quietly(const std::string& path);

}  // namespace zuv::table
