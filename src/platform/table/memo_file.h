// Memo files: FPT (FoxPro: 512-byte header with the next free block and the block size,
// both big-endian; each memo a block header of type and length, big-endian, then the
// text) and DBT (dBase III: 512-byte blocks, a text ends at 0x1A).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/os/file_handle.h"
#include "platform/table/table.h"

namespace zuv::table {

struct MemoFault {
  int gen_code = 0;  // 0: no fault
  int os_code = 0;
  std::string description;
};

class MemoFile {
 public:
  enum class Kind { Fpt, Dbt };
  static constexpr std::uint32_t kHeaderSize = 512;
  static constexpr std::uint16_t kDefaultBlockSize = 64;
  // A memo longer than this is taken for a damaged length field, not read.
  static constexpr std::uint32_t kMaxText = 64u << 20;

  // Opens and checks the header; nullptr with fault filled on failure.
  static std::unique_ptr<MemoFile> open(const std::string& os_path, Kind kind, os::Access access, os::Share share,
                                        MemoFault& fault);
  static std::unique_ptr<MemoFile> from_image(std::string image, Kind kind, MemoFault& fault);
  // Writes an empty FPT file (header only) into an open handle.
  static int write_empty_fpt(os::FileHandle& file, std::uint16_t block_size = kDefaultBlockSize);

  Kind kind() const { return kind_; }
  std::uint32_t block_size() const { return block_size_; }

  // The text at a block; block 0 is the empty memo.
  bool read(std::uint32_t block, std::string& out, MemoFault& fault) const;
  // Stores text for a record whose memo was at old_block (0: none): in place when the
  // text fits the blocks the old memo occupies, else in new blocks at the end, so no
  // other record's memo is ever touched. An empty text answers block 0.
  bool write(std::uint32_t old_block, std::string_view text, std::uint32_t& block, bool lock_header,
             MemoFault& fault);
  // Where the file ends now, and taking back every block allocated since (a record
  // write that failed; only for files nobody else writes meanwhile).
  MemoMark mark();
  void take_back(const MemoMark& mark);
  // Back to an empty file (zap).
  bool reset(MemoFault& fault);
  int flush() { return file_.is_open() ? file_.flush() : 0; }

 private:
  MemoFile() = default;
  bool check_header(MemoFault& fault);
  int read_at(std::uint64_t offset, void* data, std::size_t n, std::size_t& got) const;
  bool old_capacity(std::uint32_t old_block, std::uint64_t& capacity) const;
  bool next_free(std::uint32_t& block, MemoFault& fault);
  bool read_next_free(std::uint32_t& block) const;
  bool load_state(std::uint32_t& next_free);
  void keep_state(std::uint32_t next_free);

  Kind kind_ = Kind::Fpt;
  os::FileHandle file_;
  std::string image_;
  bool from_image_ = false;
  std::string name_;
  std::uint32_t block_size_ = kDefaultBlockSize;
  std::uint64_t size_ = 0;
  // A file only this handle writes is as the handle left it: its size and header's
  // next free block need not be read again for every memo.
  bool sole_writer_ = false;
  bool known_ = false;
  std::uint32_t known_next_ = 0;
};

}  // namespace zuv::table
