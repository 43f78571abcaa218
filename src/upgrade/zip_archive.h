// A ZIP archive of our own over zlib's deflate: written entry by entry to a file beside
// the target and renamed over it when saved, with the archive comment; read back for
// its comment; repaired by rebuilding the central directory from the local headers.
//
// What is written: per file a local header (version 2.0, deflate, DOS time of the
// file's last write, CRC-32 and both sizes filled in after the data, no data
// descriptor), the deflated data, then the central directory and its end record with
// the comment. Names use '/' and are flagged UTF-8 when they are not plain ASCII.
// Sizes stay below 4 GiB and entries below 65535 (no ZIP64): a file beyond them is
// refused.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/os/file_handle.h"

namespace zuv::upgrade {

// The status codes addfile answers besides zlib's own (Z_ERRNO -1 for a file that
// cannot be read or written, Z_STREAM_ERROR -2, Z_MEM_ERROR -4, Z_BUF_ERROR -5).
inline constexpr int kZipOk = 0;
inline constexpr int kZipTooLarge = -100;  // 4 GiB or 65535 entries reached

// Texts of the deflate failures, for whoever reports them.
std::string zip_status_text(int status);

class ZipWriter {
 public:
  ZipWriter() = default;
  ~ZipWriter();
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  // Starts a new archive that will replace path when saved. False when the file beside
  // it cannot be created.
  bool open(const std::string& path);
  // Adds the file (Windows path text) under the name given (stored with '/' and
  // without a leading ".\"). kZipOk or a failure code; a failure leaves the archive
  // as it was before the call.
  int addfile(const std::string& file, const std::string& name);
  // Writes the central directory with comment, syncs and renames over the target.
  bool save(const std::string& comment);
  // Ends the archive; an unsaved one is thrown away.
  void close();
  std::size_t entries() const { return entries_.size(); }

 private:
  struct Entry {
    std::string name;
    std::uint32_t crc = 0, compressed = 0, size = 0;
    std::uint16_t time = 0, date = 0, flags = 0;
    std::uint32_t offset = 0;
  };
  std::string target_, temp_;
  os::FileHandle out_;
  std::uint64_t end_ = 0;
  std::vector<Entry> entries_;
};

// The name an archive keeps for a path as written: '\' to '/', ".\" and a drive or
// leading separators taken off.
std::string zip_entry_name(const std::string& written);

// What a reader finds: the entries (names) and the comment; nullopt when the end
// record or the central directory is missing or contradicts the file.
struct ZipContents {
  std::vector<std::string> names;
  std::string comment;
};
std::optional<ZipContents> read_zip(const std::string& path);

// Rebuilds the central directory from the local headers: every entry whose header,
// name and data are whole and whose data inflate to the recorded CRC is kept, the
// rest of the file is dropped. The comment of the old end record is kept when it can
// be found, else fallback_comment is written. The repaired file replaces the old one
// only when complete. Answers the number of entries kept, or nullopt on failure.
std::optional<std::size_t> repair_zip(const std::string& path, const std::string& fallback_comment);

}  // namespace zuv::upgrade
