// Writes that wait in memory. A firm's steps change some tables in place that a later
// step rebuilds whole, or change the same records again and again; the recovery would
// copy each such file before its first change and then see every change written. While
// the change watcher lets a file be held (ChangeWatcher::may_hold), the writes through
// an exclusive handle stay here as whole pages laid over the file's bytes, which stay
// as they were: nothing needs keeping for a cut, which forgets the pages with the rest of
// the process. When the steps end the file is written once, beside, and swapped in; a
// file rebuilt meanwhile (a new one renamed over it) is never written at all.
//
// Every read, size and truncation through a handle of the file sees the pages, and so do
// the layer's file size and directory listing. Whatever would reach the bytes on the
// disk in another way (a copy of the file, a rename away, a second name) first puts the
// pages on the disk in place, after the watcher was told of that change as of any write;
// so does a file whose pages would pass the memory budget. One thread uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zuv::os {

class FileHandle;

namespace held_writes {

inline constexpr std::size_t kPage = 4096;

struct HeldFile {
  std::vector<std::string> names;  // native; a second name is a hard link made while held
  std::uint64_t size = 0;        // as its readers see it
  std::uint64_t disk_valid = 0;  // bytes of the disk's file that still stand (below any truncation)
  std::map<std::uint64_t, std::unique_ptr<char[]>> pages;  // by page number
  std::vector<FileHandle*> handles;                        // open on it
  bool live = true;
  // Its bytes on the disk have a second name: once the first name is replaced, the
  // watcher keeps them by a third, so they are never written in place.
  bool linked = false;
  // While the watchers keep the file before its pages go to the disk: they read the
  // disk's bytes.
  bool bypass = false;
};

// Memory the pages of all held files may take; 0 holds nothing.
void set_budget(std::size_t bytes);
std::size_t budget();
// A file smaller than this when its first write comes is not held.
void set_smallest(std::uint64_t bytes);
std::uint64_t smallest();
std::size_t held_bytes();
std::size_t held_files();

std::shared_ptr<HeldFile> find(const std::string& native_path);
std::shared_ptr<HeldFile> start(const std::string& native_path, std::uint64_t disk_size);
// A new page for h, counted against the budget; nullptr when it would pass it.
char* add_page(HeldFile& h, std::uint64_t number);
// Forgets the pages from number first on (a truncation).
void drop_pages_from(HeldFile& h, std::uint64_t first);
// A handle on h moved to another object.
void replace_handle(HeldFile& h, const FileHandle* from, FileHandle* to);
// The pages are on the disk, or were never meant for it: h leaves the registry and
// every handle on it writes to the disk from now on.
void retire(HeldFile& h);

// The size readers of a held file see; nothing for a file not held.
std::optional<std::uint64_t> size_of(const std::string& native_path);
// The name now names other bytes, or none: what was held for it is void.
void gone(const std::string& native_path);
// A second name for a held file's bytes was made (a hard link): it reads and writes
// the same held pages.
void linked(const std::string& existing, const std::string& new_name);
// Puts a held file's pages on the disk: a file no handle has open is written beside
// and swapped in; one still open is written in place (kept first, as any write is),
// through a handle that may write (kSharingViolation when only readers have it open).
[[nodiscard]] int settle(const std::string& native_path);
// Before a change of name or bytes the watcher is told of: a file renamed away, or one
// still open, is settled first; one replaced or deleted keeps its pages until the
// change is done (gone), as a failed change leaves the file as it was.
[[nodiscard]] int before_told_change(const std::string& native_path, bool renamed_away);

// Every held file written beside and swapped in (or, when still open, in place).
[[nodiscard]] int write_out_all();
// Forgets every held file: the work is being undone.
void drop_all();

}  // namespace held_writes
}  // namespace zuv::os
