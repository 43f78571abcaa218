#include "platform/os/undo_journal.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace zuv::os {
namespace {

// An entry: magic, offset (8), length (4), checksum (8) of the three before it and the
// bytes, then the bytes. Little-endian.
constexpr char kMagic[4] = {'Z', 'U', 'V', 'J'};
constexpr std::size_t kHead = 4 + 8 + 4 + 8;

std::uint64_t fnv(std::uint64_t h, const char* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    h ^= static_cast<unsigned char>(p[i]);
    h *= 1099511628211ull;
  }
  return h;
}

void put_le(char* at, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::uint64_t get_le(const char* at, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(at[i]);
  return v;
}

std::uint64_t checksum(const char* head_without_sum, const char* data, std::size_t n) {
  return fnv(fnv(14695981039346656037ull, head_without_sum, 16), data, n);
}

}  // namespace

std::shared_ptr<UndoJournal> UndoJournal::create(const std::string& journal_native, std::uint64_t original_size,
                                                 const FileIdentity& id, int& rc) {
  auto j = std::shared_ptr<UndoJournal>(new UndoJournal());
  rc = j->file_.create(journal_native, Share::Exclusive);
  if (rc) return nullptr;
  j->id_ = id;
  j->original_size_ = original_size;
  return j;
}

int UndoJournal::save(std::uint64_t from, std::uint64_t to, const Reader& read) {
  to = std::min(to, original_size_);
  while (from < to) {
    // The next part not saved yet, up to the next saved range.
    auto next = saved_.upper_bound(from);
    if (next != saved_.begin()) {
      auto before = std::prev(next);
      if (before->second > from) {
        from = before->second;
        continue;
      }
    }
    std::uint64_t end = to;
    if (next != saved_.end()) end = std::min(end, next->first);
    end = std::min(end, from + (1u << 20));
    const std::size_t n = static_cast<std::size_t>(end - from);
    const std::size_t at = buffer_.size();
    buffer_.resize(at + kHead + n);
    char* head = buffer_.data() + at;
    std::memcpy(head, kMagic, 4);
    put_le(head + 4, from, 8);
    put_le(head + 12, n, 4);
    if (int rc = read(from, head + kHead, n)) {
      buffer_.resize(at);
      return rc;
    }
    put_le(head + 16, checksum(head, head + kHead, n), 8);
    // Merge with the ranges it touches.
    std::uint64_t lo = from, hi = end;
    auto it = saved_.lower_bound(lo);
    if (it != saved_.begin() && std::prev(it)->second >= lo) --it;
    while (it != saved_.end() && it->first <= hi) {
      lo = std::min(lo, it->first);
      hi = std::max(hi, it->second);
      it = saved_.erase(it);
    }
    saved_[lo] = hi;
    from = end;
  }
  return 0;
}

int UndoJournal::sync() {
  if (buffer_.empty()) return 0;
  if (int rc = file_.write_at(end_, buffer_.data(), buffer_.size())) return rc;
  end_ += buffer_.size();
  buffer_.clear();
  return file_.flush();
}

int UndoJournal::apply(const std::string& journal_native, const std::string& file_native,
                       std::uint64_t original_size) {
  FileHandle journal;
  if (int rc = journal.open(journal_native, Access::Read, Share::Shared)) return rc;
  FileHandle file;
  if (int rc = file.open(file_native, Access::ReadWrite, Share::Exclusive)) return rc;
  std::uint64_t size = 0;
  if (int rc = journal.size(size)) return rc;
  std::vector<char> data;
  char head[kHead];
  for (std::uint64_t at = 0; at + kHead <= size;) {
    if (journal.read_exact(at, head, kHead) != 0 || std::memcmp(head, kMagic, 4) != 0) break;
    const std::uint64_t offset = get_le(head + 4, 8);
    const std::size_t n = static_cast<std::size_t>(get_le(head + 12, 4));
    if (at + kHead + n > size || offset + n > original_size) break;
    data.resize(n);
    if (journal.read_exact(at + kHead, data.data(), n) != 0) break;
    if (checksum(head, data.data(), n) != get_le(head + 16, 8)) break;
    if (int rc = file.write_at(offset, data.data(), n)) return rc;
    at += kHead + n;
  }
  if (int rc = file.truncate(original_size)) return rc;
  return file.flush();
}

}  // namespace zuv::os
