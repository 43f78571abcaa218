// The bytes a file had where it is written over, kept in a journal beside it so that
// the file can be put back as it was. A file of which only a few records change costs
// those records, not a copy of the whole file. What is saved reaches the disk (sync)
// before the writes it covers may: a handle holds its writes back until then.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/os/file_handle.h"

namespace zuv::os {

class UndoJournal {
 public:
  // Makes the journal file (empty) for a file of original_size bytes whose identity
  // (see FileHandle::identity) is id.
  static std::shared_ptr<UndoJournal> create(const std::string& journal_native, std::uint64_t original_size,
                                             const FileIdentity& id, int& rc);

  std::uint64_t original_size() const { return original_size_; }
  const FileIdentity& identity() const { return id_; }
  // Bytes saved so far.
  std::uint64_t bytes() const { return end_ + buffer_.size(); }

  // Reads n bytes of the file at offset as they are now (before the change).
  using Reader = std::function<int(std::uint64_t offset, char* data, std::size_t n)>;
  // Saves the parts of [from, to) below the original size not saved before.
  int save(std::uint64_t from, std::uint64_t to, const Reader& read);
  // What save took reaches the disk.
  int sync();

  // Puts what the journal saved back into the file, cuts it to the original size and
  // syncs it. An entry torn by a cut is left out: the writes it covers never began.
  static int apply(const std::string& journal_native, const std::string& file_native, std::uint64_t original_size);

 private:
  FileHandle file_;
  FileIdentity id_;
  std::uint64_t original_size_ = 0;
  std::uint64_t end_ = 0;   // bytes of the journal file on the disk
  std::string buffer_;      // entries not written yet
  std::map<std::uint64_t, std::uint64_t> saved_;  // start -> end, merged
};

}  // namespace zuv::os
