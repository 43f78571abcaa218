#include "platform/table/memo_file.h"
#include "platform/base/coding.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstring>
#include <vector>

#include "platform/table/table.h"
#include "platform/error/error.h"

namespace zuv::table {
namespace {

constexpr std::uint32_t kDbtBlock = 512;
constexpr std::uint32_t kMaxMemo = MemoFile::kMaxText;

using base::be32;
using base::le32;
using base::put_be32;
using base::put_le32;

MemoFault corrupt(const std::string& what) { return {gencode::kCorrupt, 0, "Uszkodzony plik memo: " + what}; }
MemoFault io(int gen, int os, const std::string& what) { return {gen, os, what}; }

}  // namespace

int MemoFile::write_empty_fpt(os::FileHandle& file, std::uint16_t block_size) {
  unsigned char header[kHeaderSize] = {};
  put_be32(header, (kHeaderSize + block_size - 1) / block_size);
  header[6] = static_cast<unsigned char>(block_size >> 8);
  header[7] = static_cast<unsigned char>(block_size);
  if (int rc = file.write_at(0, header, sizeof header)) return rc;
  return file.truncate(kHeaderSize);
}

std::unique_ptr<MemoFile> MemoFile::open(const std::string& os_path, Kind kind, os::Access access, os::Share share,
                                         MemoFault& fault) {
  std::unique_ptr<MemoFile> m(new MemoFile);
  m->kind_ = kind;
  m->name_ = os_path;
  if (int rc = m->file_.open(os_path, access, share)) {
    fault = io(gencode::kOpen, rc, "Nie można otworzyć pliku memo");
    return nullptr;
  }
  if (!m->check_header(fault)) return nullptr;
  m->sole_writer_ = access == os::Access::ReadWrite && share == os::Share::Exclusive;
  return m;
}

std::unique_ptr<MemoFile> MemoFile::from_image(std::string image, Kind kind, MemoFault& fault) {
  std::unique_ptr<MemoFile> m(new MemoFile);
  m->kind_ = kind;
  m->image_ = std::move(image);
  m->from_image_ = true;
  if (!m->check_header(fault)) return nullptr;
  return m;
}

int MemoFile::read_at(std::uint64_t offset, void* data, std::size_t n, std::size_t& got) const {
  if (!from_image_) return file_.read_at(offset, data, n, got);
  got = 0;
  if (offset >= image_.size()) return 0;
  got = static_cast<std::size_t>(std::min<std::uint64_t>(n, image_.size() - offset));
  std::memcpy(data, image_.data() + offset, got);
  return 0;
}

bool MemoFile::check_header(MemoFault& fault) {
  if (from_image_) {
    size_ = image_.size();
  } else if (int rc = file_.size(size_)) {
    fault = io(gencode::kRead, rc, "Błąd odczytu pliku memo");
    return false;
  }
  if (size_ < kHeaderSize) {
    fault = corrupt("plik krótszy niż nagłówek");
    return false;
  }
  unsigned char h[8];
  std::size_t got = 0;
  if (int rc = read_at(0, h, sizeof h, got); rc || got != sizeof h) {
    fault = io(gencode::kRead, rc, "Błąd odczytu pliku memo");
    return false;
  }
  if (kind_ == Kind::Dbt) {
    block_size_ = kDbtBlock;
    return true;
  }
  block_size_ = (std::uint32_t(h[6]) << 8) | h[7];
  if (block_size_ == 0) {
    fault = corrupt("zerowy rozmiar bloku");
    return false;
  }
  return true;
}

bool MemoFile::read(std::uint32_t block, std::string& out, MemoFault& fault) const {
  out.clear();
  if (block == 0) return true;
  std::uint64_t offset = std::uint64_t(block) * block_size_;
  if (offset < kHeaderSize || offset >= size_) {
    fault = corrupt("wskaźnik bloku " + std::to_string(block) + " poza plikiem");
    return false;
  }
  std::size_t got = 0;
  if (kind_ == Kind::Fpt) {
    unsigned char h[8];
    if (int rc = read_at(offset, h, 8, got); rc || got != 8) {
      fault = rc ? io(gencode::kRead, rc, "Błąd odczytu pliku memo") : corrupt("nagłówek bloku poza plikiem");
      return false;
    }
    std::uint32_t length = be32(h + 4);
    if (length > kMaxMemo || offset + 8 + length > size_) {
      fault = corrupt("długość tekstu w bloku " + std::to_string(block) + " poza plikiem");
      return false;
    }
    out.resize(length);
    if (int rc = read_at(offset + 8, out.data(), length, got); rc || got != length) {
      fault = io(gencode::kRead, rc, "Błąd odczytu pliku memo");
      return false;
    }
    return true;
  }
  // DBT: the text runs to the first 0x1A (or the end of the file).
  char chunk[kDbtBlock];
  while (offset < size_) {
    if (int rc = read_at(offset, chunk, sizeof chunk, got)) {
      fault = io(gencode::kRead, rc, "Błąd odczytu pliku memo");
      return false;
    }
    if (got == 0) break;
    const char* end = static_cast<const char*>(std::memchr(chunk, 0x1A, got));
    if (end) {
      out.append(chunk, static_cast<std::size_t>(end - chunk));
      return true;
    }
    out.append(chunk, got);
    if (out.size() > kMaxMemo) {
      fault = corrupt("tekst bez znacznika końca");
      return false;
    }
    offset += got;
  }
  return true;
}

bool MemoFile::old_capacity(std::uint32_t old_block, std::uint64_t& capacity) const {
  capacity = 0;
  if (old_block == 0) return false;
  std::uint64_t offset = std::uint64_t(old_block) * block_size_;
  if (offset < kHeaderSize || offset >= size_) return false;
  std::uint64_t used = 0;
  if (kind_ == Kind::Fpt) {
    unsigned char h[8];
    std::size_t got = 0;
    if (read_at(offset, h, 8, got) || got != 8) return false;
    used = 8 + std::uint64_t(be32(h + 4));
    if (used > size_ - offset) return false;
  } else {
    std::string text;
    MemoFault ignored;
    if (!read(old_block, text, ignored)) return false;
    used = text.size() + 2;
  }
  capacity = (used + block_size_ - 1) / block_size_ * block_size_;
  // Blocks past the end of the file belong to nobody yet; count only what exists.
  capacity = std::min<std::uint64_t>(capacity, size_ - offset);
  return true;
}

bool MemoFile::read_next_free(std::uint32_t& block) const {
  unsigned char h[4];
  std::size_t got = 0;
  if (read_at(0, h, 4, got) || got != 4) return false;
  block = kind_ == Kind::Fpt ? be32(h) : le32(h);
  return true;
}

bool MemoFile::load_state(std::uint32_t& next_free) {
  if (known_) {
    next_free = known_next_;
    return true;
  }
  if (file_.size(size_) != 0 || !read_next_free(next_free)) return false;
  keep_state(next_free);
  return true;
}

void MemoFile::keep_state(std::uint32_t next_free) {
  known_ = sole_writer_;
  known_next_ = next_free;
}

bool MemoFile::next_free(std::uint32_t& block, MemoFault& fault) {
  if (!load_state(block)) {
    fault = io(gencode::kRead, 0, "Błąd odczytu pliku memo");
    return false;
  }
  // A next free block past the end of the file means a file cut short or a damaged
  // header: writing there would hide the damage (or grow the file to any size).
  std::uint64_t end_block = (size_ + block_size_ - 1) / block_size_;
  if (block > end_block) {
    fault = corrupt("wskaźnik wolnego bloku " + std::to_string(block) + " poza końcem pliku");
    return false;
  }
  // Never hand out a block inside the header or before the real end of the file:
  // a stale pointer must not make two memos share blocks.
  std::uint32_t first = (kHeaderSize + block_size_ - 1) / block_size_;
  if (block < first) block = first;
  if (block < end_block) block = static_cast<std::uint32_t>(end_block);
  return true;
}

MemoMark MemoFile::mark() {
  MemoMark m;
  if (from_image_ || !file_.writable() || !load_state(m.next_free)) return m;
  m.size = size_;
  m.valid = true;
  return m;
}

void MemoFile::take_back(const MemoMark& m) {
  std::uint64_t now = 0;
  if (!m.valid || file_.size(now) != 0 || now <= m.size) return;
  unsigned char h[4];
  if (kind_ == Kind::Fpt) put_be32(h, m.next_free);
  else put_le32(h, m.next_free);
  known_ = false;
  if (file_.write_at(0, h, 4) == 0 && file_.truncate(m.size) == 0) size_ = m.size;
}

bool MemoFile::write(std::uint32_t old_block, std::string_view text, std::uint32_t& block, bool lock_header,
                     MemoFault& fault) {
  block = 0;
  if (from_image_ || !file_.writable()) {
    fault = io(tablecode::kReadOnly, os::oscode::kAccessDenied, "Plik memo otwarty tylko do odczytu");
    return false;
  }
  if (text.empty()) return true;
  // The reader takes a longer text for a damaged length: it would be stored unreadable.
  if (text.size() > kMaxMemo) {
    fault = io(gencode::kDataWidth, 0, "Tekst memo dłuższy niż 64 MB");
    return false;
  }
  if (int rc = known_ ? 0 : file_.size(size_)) {
    fault = io(gencode::kRead, rc, "Błąd odczytu pliku memo");
    return false;
  }
  std::vector<unsigned char> data;
  if (kind_ == Kind::Fpt) {
    data.resize(8 + text.size());
    put_be32(data.data(), 1);
    put_be32(data.data() + 4, static_cast<std::uint32_t>(text.size()));
    std::memcpy(data.data() + 8, text.data(), text.size());
  } else {
    data.assign(text.begin(), text.end());
    data.push_back(0x1A);
    data.push_back(0x1A);
  }
  std::uint64_t capacity = 0;
  if (old_block != 0 && !old_capacity(old_block, capacity)) {
    // The record points outside the file (or at a memo running past its end).
    fault = corrupt("wskaźnik bloku " + std::to_string(old_block) + " poza plikiem");
    return false;
  }
  if (old_block != 0 && data.size() <= capacity) {
    if (int rc = file_.write_at(std::uint64_t(old_block) * block_size_, data.data(), data.size())) {
      fault = io(gencode::kWrite, rc, "Błąd zapisu pliku memo");
      return false;
    }
    block = old_block;
    return true;
  }
  if (lock_header) {
    // Another workstation may be allocating too: the header lock serialises it.
    int rc = 0;
    for (int attempt = 0; attempt < 200; ++attempt) {
      rc = file_.lock(kLockBase, 1);
      if (rc != os::oscode::kLockViolation) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (rc) {
      fault = io(gencode::kLock, rc, "Nie można zablokować pliku memo");
      return false;
    }
  }
  bool ok = false;
  std::uint32_t start = 0;
  if (next_free(start, fault)) {
    std::uint64_t offset = std::uint64_t(start) * block_size_;
    std::uint64_t blocks = (data.size() + block_size_ - 1) / block_size_;
    // Pad to whole blocks so the next allocation starts on a block boundary.
    data.resize(static_cast<std::size_t>(blocks * block_size_), 0);
    unsigned char h[4];
    std::uint64_t next = start + blocks;
    if (next > 0xFFFFFFFFu) {
      fault = io(gencode::kWrite, os::oscode::kDiskFull, "Plik memo przekroczył największy rozmiar");
    } else if (int rc = file_.write_at(offset, data.data(), data.size())) {
      fault = io(gencode::kWrite, rc, "Błąd zapisu pliku memo");
    } else {
      if (kind_ == Kind::Fpt) put_be32(h, static_cast<std::uint32_t>(next));
      else put_le32(h, static_cast<std::uint32_t>(next));
      if (int rc2 = file_.write_at(0, h, 4)) {
        fault = io(gencode::kWrite, rc2, "Błąd zapisu pliku memo");
      } else {
        size_ = std::max(size_, offset + data.size());
        block = start;
        ok = true;
      }
    }
  }
  // After a failed write the file is read again: it may have grown part of the way.
  if (ok) keep_state(static_cast<std::uint32_t>(start + (data.size() / block_size_)));
  else known_ = false;
  if (lock_header) file_.unlock(kLockBase, 1);
  return ok;
}

bool MemoFile::reset(MemoFault& fault) {
  if (from_image_ || !file_.writable()) {
    fault = io(tablecode::kReadOnly, os::oscode::kAccessDenied, "Plik memo otwarty tylko do odczytu");
    return false;
  }
  int rc = 0;
  if (kind_ == Kind::Fpt) {
    rc = write_empty_fpt(file_, static_cast<std::uint16_t>(block_size_));
  } else {
    unsigned char header[kHeaderSize] = {};
    put_le32(header, 1);
    rc = file_.write_at(0, header, sizeof header);
    if (!rc) rc = file_.truncate(kHeaderSize);
  }
  if (rc) {
    fault = io(gencode::kWrite, rc, "Błąd zapisu pliku memo");
    return false;
  }
  size_ = kHeaderSize;
  known_ = false;
  return true;
}

}  // namespace zuv::table
