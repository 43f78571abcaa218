#include "platform/table/index_sort.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>

#include "platform/table/index_file.h"

namespace zuv::table {

struct KeySorter::Run {
  std::string path;  // empty: the run is held whole in block
  BlockFile file;
  uint64_t file_pos = 0;
  std::vector<uint8_t> block;
  size_t pos = 0, end = 0;
  const uint8_t* head = nullptr;
  bool given = false;
  size_t fill() {
    if (path.empty()) {
      if (given) return 0;
      given = true;
      return block.size();
    }
    uint64_t left = file.size() - file_pos;
    size_t n = size_t(std::min<uint64_t>(left, block.size()));
    if (n) file.read(file_pos, block.data(), n);
    file_pos += n;
    return n;
  }
  ~Run() {
    if (path.empty()) return;
    file.close();
    remove_file_quietly(path);
  }
};

namespace {

std::atomic<unsigned> g_run_counter{0};

// memcmp(a, b, n) > 0 for the merge's short records, without a library call per
// comparison.
bool bytes_greater(const uint8_t* a, const uint8_t* b, size_t n) {
  const size_t i = first_difference(a, b, n);
  return i < n && a[i] > b[i];
}

// Byte b (0-15) of a record as its slot holds it.
template <class Slot>
uint8_t slot_byte(const Slot& s, size_t b) {
  return uint8_t(b < 8 ? s.prefix >> (56 - 8 * b) : s.next >> (120 - 8 * b));
}

// Sorts slots that agree in their first `digit` bytes: spread by the next byte in place,
// then each bucket on; a bucket no larger than a few dozen (or one whose 16 bytes are
// all equal) goes to std::sort. Keys of one table share long stretches (leading zeros,
// the same month), which a comparison sort would go over again at every step.
template <class Slot, class Less>
void radix_sort(Slot* a, size_t n, int digit, const Less& less) {
  auto byte_of = [](const Slot& s, int d) { return unsigned(slot_byte(s, size_t(d))); };
  for (;;) {
    if (n <= 64 || digit == 16) {
      std::sort(a, a + n, less);
      return;
    }
    size_t count[256] = {};
    for (size_t i = 0; i < n; ++i) ++count[byte_of(a[i], digit)];
    if (count[byte_of(a[0], digit)] == n) {
      ++digit;
      continue;
    }
    size_t next[256], end[256];
    size_t pos = 0;
    for (int b = 0; b < 256; ++b) {
      next[b] = pos;
      pos += count[b];
      end[b] = pos;
    }
    for (unsigned b = 0; b < 256; ++b) {
      while (next[b] < end[b]) {
        Slot v = a[next[b]];
        unsigned vb = byte_of(v, digit);
        while (vb != b) {
          std::swap(v, a[next[vb]++]);
          vb = byte_of(v, digit);
        }
        a[next[b]++] = v;
      }
    }
    for (unsigned b = 0; b < 256; ++b) {
      if (count[b] > 1) radix_sort(a + end[b] - count[b], count[b], digit + 1, less);
    }
    return;
  }
}

// Stable sort of the slots on their first key_bytes bytes (at most 12, so that they lie
// in the slot's 16 bytes beside the record number); slots in ascending record numbers so
// come out in the order of their whole records. Keys of one table differ in few of their
// bits (digits, the same year): those bits, packed in order into the slot's index, are
// sorted a few at a time; a byte that is the same in every key costs nothing. False,
// with nothing done, when more than the index's 32 bits differ.
// tmp: scratch of a's size.
template <class Slot>
bool stable_radix_sort(std::vector<Slot>& a, std::vector<Slot>& tmp, size_t key_bytes) {
  const size_t n = a.size();
  if (n < 2) return true;
  Slot any{0, 0, 0}, all{~uint64_t(0), ~uint64_t(0), 0};
  for (const Slot& s : a) {
    any.prefix |= s.prefix, all.prefix &= s.prefix;
    any.next |= s.next, all.next &= s.next;
  }
  // The bits in which the keys differ, byte by byte.
  const Slot differ{any.prefix ^ all.prefix, any.next ^ all.next, 0};
  int bits = 0;
  for (size_t b = 0; b < key_bytes; ++b) bits += std::popcount(slot_byte(differ, b));
  if (bits == 0) return true;
  if (bits > 32) return false;
  // Each varying byte's bits, gathered and placed where they go in the packed key.
  struct Part {
    size_t byte;
    uint32_t packed[256];
  };
  std::vector<Part> parts;
  int below = bits;
  for (size_t b = 0; b < key_bytes; ++b) {
    const uint8_t varying = slot_byte(differ, b);
    if (!varying) continue;
    Part p{b, {}};
    below -= std::popcount(varying);
    for (unsigned v = 0; v < 256; ++v) {
      uint32_t x = 0;
      for (int bit = 7; bit >= 0; --bit)
        if (varying >> bit & 1) x = (x << 1) | (v >> bit & 1);
      p.packed[v] = x << below;
    }
    parts.push_back(p);
  }
  // As few passes as digits of at most 13 bits allow, the digits as even as they go.
  const int passes = (bits + 12) / 13;
  const int digit = (bits + passes - 1) / passes;
  const uint32_t mask = (1u << digit) - 1;
  std::vector<uint32_t> count(size_t(passes) << digit);
  for (Slot& s : a) {
    uint32_t key = 0;
    for (const Part& p : parts) key |= p.packed[slot_byte(s, p.byte)];
    s.index = key;
    for (int d = 0; d < passes; ++d) ++count[(size_t(d) << digit) + ((key >> (d * digit)) & mask)];
  }
  tmp.resize(n);
  std::vector<size_t> pos(size_t(1) << digit);
  for (int d = 0; d < passes; ++d) {
    const uint32_t* c = count.data() + (size_t(d) << digit);
    const int shift = d * digit;
    if (c[(a[0].index >> shift) & mask] == n) continue;
    size_t sum = 0;
    for (size_t v = 0; v < pos.size(); ++v) pos[v] = sum, sum += c[v];
    Slot* to = tmp.data();
    for (const Slot& s : a) to[pos[(s.index >> shift) & mask]++] = s;
    a.swap(tmp);
  }
  return true;
}

}  // namespace

KeySorter::KeySorter(KeyType type, int key_length, size_t budget, std::string temp_dir)
    : type_(type),
      key_length_(size_t(key_length)),
      record_size_(size_t(key_length) + 4),
      budget_(budget),
      temp_dir_(std::move(temp_dir)) {
  // The buffer and its order vector share the budget.
  // Runs sorted in a buffer of at most 16 MB and merged beat one sort of everything
  // in a large buffer (measured: a quarter less time for 1,000,000 keys), as the sorted
  // records are then read from the buffer at random. Records held whole in their slots
  // are not: for them one sort in half the budget saves the merge, and the other half
  // keeps the runs of a larger table in memory.
  const size_t buffer_budget = in_slots() ? budget / 2 : std::min<size_t>(budget, size_t(16) << 20);
  capacity_ = std::max<size_t>(buffer_budget / held_record_bytes(), 1024);
  // The buffer grows with the keys (see add): most tags are of small tables, and
  // clearing 16 MB for each of them cost more than building them.
}

KeySorter::~KeySorter() = default;

size_t KeySorter::runs_on_disk() const {
  return size_t(std::count_if(runs_.begin(), runs_.end(), [](const auto& r) { return !r->path.empty(); }));
}

void KeySorter::encode(std::string_view key, uint32_t recno, uint8_t* out) const {
  const uint8_t* w = weights_;
  const char pad = key_pad(type_);
  const size_t n = std::min(key.size(), key_length_);
  const uint8_t* k = reinterpret_cast<const uint8_t*>(key.data());
  if (type_ == KeyType::Character) {
    for (size_t i = 0; i < n; ++i) out[i] = w[k[i]];
  } else {
    std::memcpy(out, k, n);
  }
  for (size_t i = n; i < key_length_; ++i) out[i] = type_ == KeyType::Character ? w[uint8_t(pad)] : uint8_t(pad);
  // Big-endian so that ties sort by record number under memcmp.
  for (int i = 0; i < 4; ++i) out[key_length_ + i] = uint8_t(recno >> (24 - 8 * i));
}

void KeySorter::decode(const uint8_t* in, std::string& key, uint32_t& recno) const {
  const uint8_t* codes = codes_;
  key.resize(key_length_);
  char* k = key.data();
  if (type_ == KeyType::Character) {
    for (size_t i = 0; i < key_length_; ++i) k[i] = char(codes[in[i]]);
  } else {
    std::memcpy(k, in, key_length_);
  }
  recno = (uint32_t(in[key_length_]) << 24) | (uint32_t(in[key_length_ + 1]) << 16) |
          (uint32_t(in[key_length_ + 2]) << 8) | in[key_length_ + 3];
}

void KeySorter::expect(uint64_t keys) {
  const size_t records = size_t(std::min<uint64_t>(keys, capacity_));
  if (in_slots())
    order_.reserve(records);
  else if (records * record_size_ > buffer_.size())
    buffer_.resize(records * record_size_);
}

namespace {
// Slot fields from a record's first 16 bytes (zeros past its end), big-endian.
uint64_t big_endian64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}
template <class Slot>
Slot slot_of(const uint8_t* r, size_t size, uint32_t index) {
  if (size >= 16) return Slot{big_endian64(r), big_endian64(r + 8), index};
  uint8_t whole[16] = {};
  std::memcpy(whole, r, size);
  return Slot{big_endian64(whole), big_endian64(whole + 8), index};
}
}  // namespace

void KeySorter::add(std::string_view key, uint32_t recno) {
  if (used_ == capacity_) spill();
  if (count_ > 0 && recno <= last_recno_) ascending_ = false;
  last_recno_ = recno;
  if (in_slots()) {
    uint8_t record[16];
    encode(key, recno, record);
    order_.push_back(slot_of<Slot>(record, record_size_, uint32_t(used_)));
    ++used_;
    ++count_;
    return;
  }
  if ((used_ + 1) * record_size_ > buffer_.size())
    buffer_.resize(std::min(capacity_, std::max<size_t>(used_ * 2, 1024)) * record_size_);
  encode(key, recno, buffer_.data() + used_ * record_size_);
  ++used_;
  ++count_;
}

void KeySorter::sort_buffer() {
  const uint8_t* base = buffer_.data();
  const size_t rs = record_size_;
  if (!in_slots()) {
    order_.resize(used_);
    for (size_t i = 0; i < used_; ++i) order_[i] = slot_of<Slot>(base + i * rs, rs, uint32_t(i));
  }
  const size_t rest = rs > 16 ? rs - 16 : 0;
  auto less = [&](const Slot& a, const Slot& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    if (a.next != b.next) return a.next < b.next;
    return rest && std::memcmp(base + size_t(a.index) * rs + 16, base + size_t(b.index) * rs + 16, rest) < 0;
  };
  // Records of up to 16 bytes that came in ascending record numbers: a few passes over
  // the slots without a comparison, when a second array of them fits the budget.
  if (in_slots() && ascending_ && held_ + 2 * order_.size() * sizeof(Slot) <= budget_) {
    std::vector<Slot> tmp;
    if (stable_radix_sort(order_, tmp, key_length_)) return;
  }
  radix_sort(order_.data(), order_.size(), 0, less);
}


const uint8_t* KeySorter::sorted_record(size_t i, uint8_t* scratch) const {
  const Slot& s = order_[i];
  // A record of up to 16 bytes is whole in its slot: no jump into the buffer.
  if (record_size_ > 16) return buffer_.data() + size_t(s.index) * record_size_;
  const uint64_t bytes[2] = {__builtin_bswap64(s.prefix), __builtin_bswap64(s.next)};
  std::memcpy(scratch, bytes, 16);
  return scratch;
}

void KeySorter::spill() {
  sort_buffer();
  const size_t rs = record_size_;
  // The records in sorted order from the i-th on, appended to out while it holds at
  // most limit bytes.
  size_t i = 0;
  auto gather = [&](std::vector<uint8_t>& out, size_t limit) {
    const size_t take = std::min(used_ - i, (limit - out.size()) / rs);
    out.resize(out.size() + take * rs);
    uint8_t* to = out.data() + out.size() - take * rs;
    uint8_t scratch[16];
    for (size_t k = 0; k < take; ++k, ++i, to += rs) std::memcpy(to, sorted_record(i, scratch), rs);
  };
  auto run = std::make_unique<Run>();
  // A run stays in memory while the sorted runs, the buffer and its order fit the
  // budget together: most tags of a large table need no run file at all.
  const size_t bytes = used_ * rs;
  const size_t buffer_bytes = capacity_ * held_record_bytes();
  const bool in_memory = held_ + bytes + buffer_bytes <= budget_;
  if (in_memory) {
    run->block.reserve(bytes);
    gather(run->block, bytes);
    held_ += bytes;
  } else {
    run->path = temp_dir_ + "/zuvsort_" + std::to_string(reinterpret_cast<uintptr_t>(this)) + "_" +
                std::to_string(g_run_counter++) + ".tmp";
    BlockFile out;
    out.create(run->path);
    std::vector<uint8_t> chunk;
    chunk.reserve(1 << 20);
    for (uint64_t off = 0; i < used_; off += chunk.size()) {
      chunk.clear();
      gather(chunk, 1 << 20);
      out.write(off, chunk.data(), chunk.size());
    }
    out.close();
  }
  runs_.push_back(std::move(run));
  used_ = 0;
  order_.clear();
  // A buffer that goes to files frees its order until the next sort.
  if (!in_memory) order_.shrink_to_fit();
}

void KeySorter::finish() {
  if (finished_) return;
  finished_ = true;
  if (runs_.empty()) {
    // Everything fits: sort in memory and read straight from the buffer.
    sort_buffer();
    memory_pos_ = 0;
    return;
  }
  if (used_ > 0) spill();
  buffer_.clear();
  buffer_.shrink_to_fit();
  // Each run on disk reads through a block of its own; the blocks share the budget.
  const size_t on_disk = runs_on_disk();
  const size_t per_run =
      on_disk ? std::max<size_t>((capacity_ * record_size_) / on_disk / record_size_, 64) * record_size_ : 0;
  for (auto& r : runs_) {
    if (r->path.empty()) continue;
    r->file.open(r->path, false);
    r->block.resize(per_run);
  }
  auto refill = [&](Run& r) {
    r.end = r.fill();
    r.end -= r.end % record_size_;
    r.pos = 0;
    return r.end > 0;
  };
  heap_.clear();
  for (size_t i = 0; i < runs_.size(); ++i) {
    if (refill(*runs_[i])) {
      runs_[i]->head = runs_[i]->block.data();
      heap_.push_back(i);
    }
  }
  auto greater = [&](size_t a, size_t b) { return bytes_greater(runs_[a]->head, runs_[b]->head, record_size_); };
  std::make_heap(heap_.begin(), heap_.end(), greater);
}

bool KeySorter::next(std::string& key, uint32_t& recno) {
  if (!finished_) finish();
  if (runs_.empty()) {
    if (memory_pos_ >= order_.size()) return false;
    uint8_t scratch[16];
    decode(sorted_record(memory_pos_++, scratch), key, recno);
    return true;
  }
  if (heap_.empty()) return false;
  auto greater = [&](size_t a, size_t b) { return bytes_greater(runs_[a]->head, runs_[b]->head, record_size_); };
  Run& r = *runs_[heap_.front()];
  decode(r.head, key, recno);
  r.pos += record_size_;
  bool more = true;
  if (r.pos + record_size_ > r.end) {
    r.end = r.fill();
    r.end -= r.end % record_size_;
    r.pos = 0;
    more = r.end > 0;
  }
  if (!more) {
    std::pop_heap(heap_.begin(), heap_.end(), greater);
    heap_.pop_back();
    return true;
  }
  r.head = r.block.data() + r.pos;
  // The run's next record often stays the smallest: it sinks from the top only as far
  // as it must, instead of leaving the heap and coming back.
  const size_t top = heap_.front(), n = heap_.size();
  size_t pos = 0;
  for (size_t child = 1; child < n; child = 2 * pos + 1) {
    if (child + 1 < n && greater(heap_[child], heap_[child + 1])) ++child;
    if (!greater(top, heap_[child])) break;
    heap_[pos] = heap_[child];
    pos = child;
  }
  heap_[pos] = top;
  return true;
}

}  // namespace zuv::table
