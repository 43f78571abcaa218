#include "platform/table/index_file.h"
#include "platform/base/coding.h"

#include <algorithm>
#include <cstring>

#include "platform/base/discard.h"
#include "platform/os/durable.h"
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
  exclusive_ = share == os::Share::Exclusive;
  if (int rc = file_.size(size_)) fail("Błąd odczytu pliku indeksu", rc);
  disk_size_ = size_;
}

void BlockFile::open_image(std::string bytes, const std::string& name) {
  close();
  path_ = name;
  image_ = std::move(bytes);
  from_image_ = true;
  writable_ = false;
  size_ = image_.size();
}

void BlockFile::refresh_size() {
  ahead_len_ = 0;  // another process may have changed what was read ahead
  if (!file_.is_open() || !waiting_.empty()) return;
  uint64_t s = 0;
  if (file_.size(s) == 0) size_ = disk_size_ = s;
}

namespace {
// A journal speaks of the file it was written beside: put back into a new file of the
// same name, its old pages would damage that one.
void drop_journal_of(const std::string& path) {
  const std::string journal = path + ".zuvundo";
  if (!os::native_file_exists(journal)) return;
  if (int rc = os::remove_file(journal)) throw IndexError("Nie mogę usunąć dziennika zmian indeksu: " + journal, rc);
}
}  // namespace

void BlockFile::create(const std::string& path, os::Share share) {
  close();
  path_ = path;
  if (int rc = file_.create(path, share)) fail("Nie mogę utworzyć pliku indeksu", rc);
  writable_ = true;
  exclusive_ = share == os::Share::Exclusive;
  size_ = disk_size_ = 0;
  drop_journal_of(path);
}

void BlockFile::close() {
  ahead_len_ = 0;
  read_ahead_ = false;
  if (!waiting_.empty()) {
    // Only a table closed by an error's unwinding has writes waiting here: the watcher
    // puts the whole file back when its firm fails.
    try {
      write_waiting();
    } catch (const IndexError&) {
    }
    waiting_.clear();
  }
  file_.close();
  image_.clear();
  from_image_ = false;
  undo_.clear();
  undo_active_ = false;
  if (journal_.is_open()) {
    // Empty by now (every change ended); it goes with the last user of the file.
    journal_.close();
    base::let_go(os::remove_file(journal_path()), "an empty journal left behind undoes nothing");
  }
}

namespace {
constexpr char kJournalMagic[8] = {'Z', 'U', 'V', 'U', 'N', 'D', 'O', '1'};
constexpr uint64_t kJournalEnd = ~uint64_t(0);
constexpr auto put64 = base::put_le64;
constexpr auto get64 = base::le64;
}  // namespace

// The journal: the magic, the file's size before the change, then records of an
// offset (8 bytes), a length (4) and the old bytes, each written before its range is
// overwritten, with an end mark (an offset of all ones) after the last. A journal whose
// magic is blanked is empty.
void BlockFile::journal(uint64_t off, const std::vector<uint8_t>& old) {
  // A file the change watcher keeps whole is put back by it after a cut: a journal of
  // its own would only repeat that (and cost a file made and deleted at every use).
  if (int rc = file_.announce_change()) fail("Błąd zapisu pliku indeksu", rc);
  if (file_.kept_by_watcher()) return;
  if (!journal_.is_open()) {
    int rc = journal_.open(journal_path(), os::Access::ReadWrite, os::Share::Shared);
    if (rc == os::oscode::kFileNotFound) rc = journal_.create(journal_path(), os::Share::Shared);
    if (rc) fail("Nie mogę utworzyć dziennika zmian indeksu", rc);
  }
  std::vector<uint8_t> rec;
  if (journal_size_ == 0) {
    rec.assign(kJournalMagic, kJournalMagic + 8);
    rec.resize(16);
    put64(rec.data() + 8, undo_size_);
  }
  size_t at = rec.size();
  rec.resize(at + 12 + old.size());
  put64(rec.data() + at, off);
  base::put_le32(rec.data() + at + 8, static_cast<uint32_t>(old.size()));
  std::copy(old.begin(), old.end(), rec.begin() + long(at + 12));
  // The end mark goes with the record (the next record writes over it): what an
  // earlier change left further on in the file is never read as part of this one.
  const size_t length = rec.size();
  rec.resize(length + 12);
  put64(rec.data() + length, kJournalEnd);
  if (int rc = journal_.write_at(journal_size_, rec.data(), rec.size())) fail("Błąd zapisu dziennika zmian indeksu", rc);
  journal_size_ += length;
}

void BlockFile::empty_journal() noexcept {
  if (journal_size_ && journal_.truncate(0) == 0) journal_size_ = 0;
}

std::optional<UndoJournal> read_undo_journal(std::string_view journal, uint64_t file_size, const std::string& name) {
  const auto* data = reinterpret_cast<const uint8_t*>(journal.data());
  if (journal.size() < 16 || !std::equal(kJournalMagic, kJournalMagic + 8, journal.begin())) return std::nullopt;
  UndoJournal j;
  j.old_size = get64(data + 8);
  // The file only grows during a change: a journal of a larger file is another file's.
  const auto damaged = [&] { return IndexError("Uszkodzony dziennik zmian indeksu: " + name); };
  if (j.old_size > file_size) throw damaged();
  // Records whose old bytes were not all written never had their range overwritten.
  for (size_t at = 16; at + 12 <= journal.size();) {
    const uint64_t off = get64(data + at);
    if (off == kJournalEnd) break;
    const size_t n = base::le32(data + at + 8);
    if (n > journal.size() - at - 12) break;
    // Old bytes are only ever kept from below the size before the change.
    if (off > j.old_size || n > j.old_size - off) throw damaged();
    j.ranges.push_back({off, journal.substr(at + 12, n)});
    at += 12 + n;
  }
  return j;
}

bool BlockFile::recover() {
  if (!writable_ || !os::native_file_exists(journal_path())) return false;
  os::FileHandle j;
  if (int rc = j.open(journal_path(), os::Access::ReadWrite, os::Share::Shared)) fail("Nie mogę otworzyć dziennika zmian indeksu", rc);
  uint64_t size = 0;
  if (j.size(size) != 0 || size < 16) return false;
  std::string data(static_cast<size_t>(size), '\0');
  if (int rc = j.read_exact(0, data.data(), data.size())) fail("Błąd odczytu dziennika zmian indeksu", rc);
  const std::optional<UndoJournal> undo = read_undo_journal(data, size_, journal_path());
  if (!undo) return false;
  for (const UndoJournal::Range& r : undo->ranges)
    if (int rc = file_.write_at(r.off, r.bytes.data(), r.bytes.size())) fail("Błąd zapisu pliku indeksu", rc);
  if (int rc = file_.truncate(undo->old_size)) fail("Błąd zapisu pliku indeksu", rc);
  if (int rc = file_.flush()) fail("Błąd zapisu pliku indeksu", rc);
  size_ = disk_size_ = undo->old_size;
  base::let_go(j.truncate(0), "the undone changes are in the file; the journal replays them again harmlessly");
  return true;
}

bool BlockFile::deferring() {
  if (!exclusive_ || !writable_) return false;
  if (int rc = file_.announce_change()) fail("Błąd zapisu pliku indeksu", rc);
  return file_.kept_by_watcher();
}

// The file's bytes with the writes still waiting laid over them.
void BlockFile::read_through(uint64_t off, void* buf, size_t n) {
  auto* out = static_cast<uint8_t*>(buf);
  const uint64_t end = off + n;
  const uint64_t on_disk = std::min(end, std::max(off, disk_size_));
  if (on_disk > off)
    if (int rc = file_.read_exact(off, out, size_t(on_disk - off))) fail("Błąd odczytu pliku indeksu", rc);
  std::memset(out + (on_disk - off), 0, size_t(end - on_disk));
  for (auto it = waiting_.lower_bound(off - off % kUnit); it != waiting_.end() && it->first < end; ++it) {
    const uint64_t from = std::max(off, it->first), to = std::min(end, it->first + kUnit);
    std::memcpy(out + (from - off), it->second.data() + (from - it->first), size_t(to - from));
  }
}

void BlockFile::put_waiting(uint64_t off, const void* buf, size_t n) {
  const auto* in = static_cast<const uint8_t*>(buf);
  for (uint64_t u = off - off % kUnit; u < off + n; u += kUnit) {
    const uint64_t from = std::max(off, u), to = std::min(off + n, u + kUnit);
    auto it = waiting_.find(u);
    if (it == waiting_.end()) {
      std::vector<uint8_t> unit(kUnit, 0);
      // A unit written in part keeps the rest of what it held.
      if (from > u || to < u + kUnit) read_through(u, unit.data(), kUnit);
      it = waiting_.emplace(u, std::move(unit)).first;
    }
    std::memcpy(it->second.data() + (from - u), in + (from - off), size_t(to - from));
  }
  constexpr size_t kWaitingLimit = 1 << 20;
  if (waiting_.size() * kUnit >= kWaitingLimit) write_waiting();
}

// The waiting units go to the file in runs of adjacent ones; they stay waiting until
// all are written, so a failure loses none of them.
void BlockFile::write_waiting() {
  std::vector<uint8_t> run;
  uint64_t start = 0;
  auto write_run = [&] {
    if (run.empty()) return;
    const size_t length = size_t(std::min<uint64_t>(run.size(), size_ - start));
    if (int rc = file_.write_at(start, run.data(), length)) fail("Błąd zapisu pliku indeksu", rc);
    disk_size_ = std::max(disk_size_, start + length);
    run.clear();
  };
  for (const auto& [u, bytes] : waiting_) {
    if (u >= size_) break;
    if (!run.empty() && (u != start + run.size() || run.size() >= 256 * 1024)) write_run();
    if (run.empty()) start = u;
    run.insert(run.end(), bytes.begin(), bytes.end());
  }
  write_run();
  waiting_.clear();
}

void BlockFile::read(uint64_t off, void* buf, size_t n) {
  if (!is_open() || off > size_ || n > size_ - off)
    fail("Uszkodzony plik indeksu (odwołanie poza koniec pliku)", 0);
  if (from_image_) {
    std::memcpy(buf, image_.data() + off, n);
    return;
  }
  if (!waiting_.empty()) {
    read_through(off, buf, n);
    return;
  }
  constexpr size_t kAhead = 64 * 1024;
  // Only a read that goes on where the last one ended starts a run: a jump (a key
  // search reading its record) reads just what it needs.
  const bool in_run = off >= ahead_off_ && off + n <= ahead_off_ + ahead_len_;
  const bool sequential = off == last_end_;
  last_end_ = off + n;
  if (read_ahead_ && n <= kAhead / 8 && (in_run || sequential)) {
    if (!in_run) {
      ahead_.resize(kAhead);
      size_t want = size_t(std::min<uint64_t>(kAhead, size_ - off)), got = 0;
      ahead_len_ = 0;
      if (int rc = file_.read_at(off, ahead_.data(), want, got)) fail("Błąd odczytu pliku indeksu", rc);
      if (got < n) fail("Błąd odczytu pliku indeksu", os::oscode::kHandleEof);
      ahead_off_ = off;
      ahead_len_ = got;
    }
    std::memcpy(buf, ahead_.data() + (off - ahead_off_), n);
    return;
  }
  if (int rc = file_.read_exact(off, buf, n)) fail("Błąd odczytu pliku indeksu", rc);
}

void BlockFile::keep_old(uint64_t off, size_t n) {
  uint64_t end = std::min<uint64_t>(off + n, undo_size_);
  for (uint64_t u = off - off % kUnit; u < end; u += kUnit) {
    if (undo_.count(u)) continue;
    std::vector<uint8_t> old(static_cast<size_t>(std::min<uint64_t>(kUnit, undo_size_ - u)));
    read_through(u, old.data(), old.size());
    journal(u, old);
    undo_.emplace(u, std::move(old));
  }
}

void BlockFile::write(uint64_t off, const void* buf, size_t n) {
  if (!file_.is_open() || !writable_) fail("Plik indeksu otwarty tylko do odczytu", os::oscode::kAccessDenied);
  if (undo_active_ && off < undo_size_) keep_old(off, n);
  // The journal's header holds the size before the change: written before the file
  // grows, a writer that dies with new pages not yet linked leaves them to be cut off,
  // not lost inside the file for good.
  if (undo_active_ && off + n > undo_size_ && journal_size_ == 0) journal(undo_size_, {});
  if (off + n > size_) size_ = off + n;
  if (deferring()) {
    put_waiting(off, buf, n);
    return;
  }
  write_waiting();
  if (int rc = file_.write_at(off, buf, n)) fail("Błąd zapisu pliku indeksu", rc);
  disk_size_ = std::max(disk_size_, off + n);
}

void BlockFile::flush() {
  if (file_.is_open() && writable_) {
    write_waiting();
    if (int rc = file_.flush()) fail("Błąd zapisu pliku indeksu", rc);
  }
}

void BlockFile::truncate(uint64_t length) {
  write_waiting();
  if (int rc = file_.truncate(length)) fail("Błąd zapisu pliku indeksu", rc);
  size_ = disk_size_ = length;
}

void BlockFile::begin_undo() {
  undo_.clear();
  journal_size_ = 0;
  undo_size_ = size_;
  undo_active_ = true;
}

void BlockFile::commit_undo() {
  // A journal that cannot be emptied would take the finished change back at the next
  // open: the change fails instead (the caller rolls it back, which the journal then
  // matches).
  // Blanking the magic ends the journal at the cost of one small write; cutting the
  // file to nothing would free and take its blocks again at every record changed.
  if (journal_size_) {
    static const uint8_t kBlank[8] = {};
    if (int rc = journal_.write_at(0, kBlank, sizeof kBlank)) fail("Błąd zapisu dziennika zmian indeksu", rc);
    journal_size_ = 0;
  }
  undo_.clear();
  undo_active_ = false;
}

bool BlockFile::rollback_undo() noexcept {
  if (!undo_active_) return true;
  undo_active_ = false;
  bool ok = true;
  // Old bytes of units still waiting are put back there; the rest are in the file.
  for (auto& [off, bytes] : undo_) {
    auto waiting = waiting_.find(off);
    if (waiting != waiting_.end())
      std::copy(bytes.begin(), bytes.end(), waiting->second.begin());
    else
      ok = file_.write_at(off, bytes.data(), bytes.size()) == 0 && ok;
  }
  std::erase_if(waiting_, [&](const auto& unit) { return unit.first >= undo_size_; });
  if (disk_size_ > undo_size_) {
    ok = file_.truncate(undo_size_) == 0 && ok;
    disk_size_ = undo_size_;
  }
  ok = file_.flush() == 0 && ok;
  size_ = undo_size_;
  undo_.clear();
  // The journal stays when the old bytes could not all be put back: the next writer
  // tries again.
  if (ok) empty_journal();
  return ok;
}

void replace_file(const std::string& source, const std::string& target) {
  if (os::Status st = os::replace_durably(source, target); !st)
    throw IndexError("Nie mogę zastąpić pliku indeksu: " + target, st.code);
  drop_journal_of(target);
}

void remove_file_quietly(const std::string& path) {
  base::let_go(os::remove_file(path), "a leftover temporary file is replaced by the next build");
}

}  // namespace zuv::table
