#include "platform/table/index_file.h"

#include <algorithm>

#include "platform/table/index_key.h"

namespace zuv::table {
namespace {
constexpr uint64_t kUnit = 512;
}

BlockFile::~BlockFile() { close(); }

void BlockFile::fail(const std::string& what, int os_code) const { throw IndexError(what + ": " + path_, os_code); }

void BlockFile::open(const std::string& path, bool writable, os::Share share) {
  close();
  path_ = path;
  if (int rc = file_.open(path, writable ? os::Access::ReadWrite : os::Access::Read, share))
    fail(rc == os::oscode::kSharingViolation ? "Plik indeksu jest używany przez inny proces"
                                              : "Nie mogę otworzyć pliku indeksu",
         rc);
  writable_ = writable;
  if (int rc = file_.size(size_)) fail("Błąd odczytu pliku indeksu", rc);
}

void BlockFile::refresh_size() {
  if (!file_.is_open()) return;
  uint64_t s = 0;
  if (file_.size(s) == 0) size_ = s;
}

void BlockFile::create(const std::string& path, os::Share share) {
  close();
  path_ = path;
  if (int rc = file_.create(path, share)) fail("Nie mogę utworzyć pliku indeksu", rc);
  writable_ = true;
  size_ = 0;
}

void BlockFile::close() {
  file_.close();
  undo_.clear();
  undo_active_ = false;
}

void BlockFile::read(uint64_t off, void* buf, size_t n) {
  if (!file_.is_open() || off > size_ || n > size_ - off)
    fail("Uszkodzony plik indeksu (odwołanie poza koniec pliku)", 0);
  if (int rc = file_.read_exact(off, buf, n)) fail("Błąd odczytu pliku indeksu", rc);
}

void BlockFile::keep_old(uint64_t off, size_t n) {
  uint64_t end = std::min<uint64_t>(off + n, undo_size_);
  for (uint64_t u = off - off % kUnit; u < end; u += kUnit) {
    if (undo_.count(u)) continue;
    std::vector<uint8_t> old(static_cast<size_t>(std::min<uint64_t>(kUnit, undo_size_ - u)));
    if (int rc = file_.read_exact(u, old.data(), old.size())) fail("Błąd odczytu pliku indeksu", rc);
    undo_.emplace(u, std::move(old));
  }
}

void BlockFile::write(uint64_t off, const void* buf, size_t n) {
  if (!file_.is_open() || !writable_) fail("Plik indeksu otwarty tylko do odczytu", os::oscode::kAccessDenied);
  if (undo_active_ && off < undo_size_) keep_old(off, n);
  if (int rc = file_.write_at(off, buf, n)) fail("Błąd zapisu pliku indeksu", rc);
  if (off + n > size_) size_ = off + n;
}

void BlockFile::flush() {
  if (file_.is_open() && writable_)
    if (int rc = file_.flush()) fail("Błąd zapisu pliku indeksu", rc);
}

void BlockFile::truncate(uint64_t length) {
  if (int rc = file_.truncate(length)) fail("Błąd zapisu pliku indeksu", rc);
  size_ = length;
}

void BlockFile::begin_undo() {
  undo_.clear();
  undo_size_ = size_;
  undo_active_ = true;
}

void BlockFile::commit_undo() {
  undo_.clear();
  undo_active_ = false;
}

bool BlockFile::rollback_undo() noexcept {
  if (!undo_active_) return true;
  undo_active_ = false;
  bool ok = true;
  for (auto& [off, bytes] : undo_) ok = file_.write_at(off, bytes.data(), bytes.size()) == 0 && ok;
  if (size_ != undo_size_) ok = file_.truncate(undo_size_) == 0 && ok;
  ok = file_.flush() == 0 && ok;
  size_ = undo_size_;
  undo_.clear();
  return ok;
}

void replace_file(const std::string& source, const std::string& target) {
  if (int rc = os::replace_file(source, target)) throw IndexError("Nie mogę zastąpić pliku indeksu: " + target, rc);
}

bool file_exists(const std::string& path) { return os::file_exists(path); }

void remove_file_quietly(const std::string& path) { os::remove_file(path); }

}  // namespace zuv::table
