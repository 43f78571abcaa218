#include "platform/table/cdx_page.h"
#include "platform/base/coding.h"

#include <algorithm>
#include <cstring>

namespace zuv::table::cdx {
namespace {

constexpr auto get16 = base::le16;
constexpr auto get32 = base::le32;
constexpr auto get32be = base::be32;
constexpr auto put16 = base::put_le16;
constexpr auto put32 = base::put_le32;
constexpr auto put32be = base::put_be32;

int bits_for(uint32_t v) {
  int n = 0;
  while (v) { ++n; v >>= 1; }
  return n;
}

[[noreturn]] void bad(const char* what) { throw IndexError(std::string("Uszkodzona strona indeksu: ") + what); }

}  // namespace

TagHeader decode_header(const uint8_t* b) {
  TagHeader h;
  h.root = get32(b);
  h.free_list = get32(b + 4);
  h.counter = get32(b + 8);
  h.key_length = get16(b + 12);
  h.options = b[14];
  h.signature = b[15];
  h.descending = get16(b + 502) != 0;
  uint16_t for_pos = get16(b + 504), for_len = get16(b + 506);
  uint16_t key_pos = get16(b + 508), key_len = get16(b + 510);
  if (h.key_length == 0 || h.key_length > kMaxKeyLength) bad("niemożliwa długość klucza");
  if (h.root == 0 || h.root % kPageSize != 0) bad("wskaźnik korzenia");
  auto pool_text = [&](uint16_t pos, uint16_t len) {
    if (pos > 512 || len > 512 - pos) bad("wyrażenie poza nagłówkiem");
    std::string s(reinterpret_cast<const char*>(b + 512 + pos), len);
    size_t z = s.find('\0');
    if (z != std::string::npos) s.resize(z);
    return s;
  };
  h.expression = pool_text(key_pos, key_len);
  h.for_expression = pool_text(for_pos, for_len);
  return h;
}

void encode_header(const TagHeader& h, uint8_t* b) {
  std::memset(b, 0, kHeaderSize);
  put32(b, h.root);
  put32(b + 4, h.free_list);
  put32(b + 8, h.counter);
  put16(b + 12, h.key_length);
  b[14] = h.options;
  b[15] = h.signature;
  put16(b + 16, kHeaderSize);
  put16(b + 18, kPageSize);
  put16(b + 502, h.descending ? 1 : 0);
  size_t klen = h.expression.size() + 1, flen = h.for_expression.size() + 1;
  if (klen + flen > 512) throw IndexError("Wyrażenie klucza jest za długie");
  std::memcpy(b + 512, h.expression.data(), h.expression.size());
  std::memcpy(b + 512 + klen, h.for_expression.data(), h.for_expression.size());
  put16(b + 504, uint32_t(klen));
  put16(b + 506, uint32_t(flen));
  put16(b + 508, 0);
  put16(b + 510, uint32_t(klen));
}

LeafLayout leaf_layout(int key_length, uint32_t max_recno) {
  LeafLayout l;
  int kb = bits_for(uint32_t(key_length));
  int need = bits_for(max_recno) + 2 * kb;
  int bytes = (need + 7) / 8;
  if (bytes < 3) bytes = 3;
  l.entry_bytes = uint8_t(bytes);
  l.dup_bits = l.trail_bits = uint8_t(kb);
  l.recno_bits = uint8_t(bytes * 8 - 2 * kb);
  l.recno_mask = l.recno_bits >= 32 ? 0xFFFFFFFFu : (uint32_t(1) << l.recno_bits) - 1;
  l.dup_mask = l.trail_mask = uint8_t((1u << kb) - 1);
  return l;
}

Node decode_node(const uint8_t* p, int key_length, KeyType type, LeafLayout* layout) {
  Node n;
  n.attr = get16(p);
  uint16_t count = get16(p + 2);
  n.left = get32(p + 4);
  n.right = get32(p + 8);
  if (n.attr > 3) bad("nieznany rodzaj strony");
  if (key_length <= 0 || key_length > kMaxKeyLength) bad("niemożliwa długość klucza");
  const size_t kl = size_t(key_length);
  if (!n.leaf()) {
    if (count > interior_capacity(key_length)) bad("za dużo kluczy na stronie wewnętrznej");
    n.entries.resize(count);
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* e = p + 12 + i * (kl + 8);
      n.entries[i].key.assign(reinterpret_cast<const char*>(e), kl);
      n.entries[i].recno = get32be(e + kl);
      n.entries[i].child = get32be(e + kl + 4);
    }
    return n;
  }
  LeafLayout l;
  l.free_space = get16(p + 12);
  l.recno_mask = get32(p + 14);
  l.dup_mask = p[18];
  l.trail_mask = p[19];
  l.recno_bits = p[20];
  l.dup_bits = p[21];
  l.trail_bits = p[22];
  l.entry_bytes = p[23];
  if (layout) *layout = l;
  if (l.entry_bytes < 1 || l.entry_bytes > 8 || l.recno_bits > 32 || l.dup_bits > 8 || l.trail_bits > 8 ||
      l.recno_bits + l.dup_bits + l.trail_bits > l.entry_bytes * 8)
    bad("niemożliwe szerokości pól liścia");
  if (size_t(count) * l.entry_bytes > kPageSize - 24) bad("za dużo kluczy na liściu");
  const char pad = key_pad(type);
  const uint64_t rmask = l.recno_bits >= 32 ? 0xFFFFFFFFull : ((1ull << l.recno_bits) - 1);
  const uint64_t dmask = (1ull << l.dup_bits) - 1, tmask = (1ull << l.trail_bits) - 1;
  size_t key_end = kPageSize;  // key bytes grow down from here
  const size_t entries_end = 24 + size_t(count) * l.entry_bytes;
  std::string prev;
  n.entries.resize(count);
  for (size_t i = 0; i < count; ++i) {
    uint64_t v = 0;
    const uint8_t* e = p + 24 + i * l.entry_bytes;
    for (int b = l.entry_bytes - 1; b >= 0; --b) v = (v << 8) | e[b];
    uint32_t recno = uint32_t(v & rmask);
    size_t dup = size_t((v >> l.recno_bits) & dmask);
    size_t trail = size_t((v >> (l.recno_bits + l.dup_bits)) & tmask);
    if (dup + trail > kl) bad("liczniki klucza większe niż jego długość");
    if (dup > prev.size()) bad("klucz odwołuje się do nieistniejącego poprzednika");
    size_t stored = kl - dup - trail;
    if (stored > key_end - entries_end) bad("klucze nachodzą na wpisy liścia");
    key_end -= stored;
    std::string key;
    key.reserve(kl);
    key.append(prev, 0, dup);
    key.append(reinterpret_cast<const char*>(p + key_end), stored);
    key.append(trail, pad);
    n.entries[i].key = key;
    n.entries[i].recno = recno;
    prev = std::move(key);
  }
  return n;
}

LeafPacker::LeafPacker(int key_length, KeyType type) : kl_(size_t(key_length)), pad_(key_pad(type)) {
  if (key_length <= 0 || key_length > kMaxKeyLength) throw IndexError("Nieprawidłowa długość klucza");
}

bool LeafPacker::add(const uint8_t* key, uint32_t recno, size_t entry_bytes) {
  if (count_ == kMaxEntries) return false;
  size_t trail = 0;
  while (trail < kl_ && key[kl_ - 1 - trail] == uint8_t(pad_)) ++trail;
  const size_t dup = count_ == 0 ? 0 : first_difference(prev_, key, kl_ - trail);
  const size_t stored = kl_ - trail - dup;
  if (24 + (count_ + 1) * entry_bytes + stored > key_end_) return false;
  key_end_ -= stored;
  std::memcpy(keys_ + key_end_, key + dup, stored);
  std::memcpy(prev_, key, kl_);
  recnos_[count_] = recno;
  dups_[count_] = uint8_t(dup);
  trails_[count_] = uint8_t(trail);
  ++count_;
  max_recno_ = std::max(max_recno_, recno);
  return true;
}

void LeafPacker::write(uint16_t attr, uint32_t left, uint32_t right, uint8_t* p) {
  const LeafLayout l = leaf_layout(int(kl_), max_recno_);
  const size_t count = count_;
  std::memset(p, 0, kPageSize);
  put16(p, attr);
  put16(p + 2, uint32_t(count));
  put32(p + 4, left);
  put32(p + 8, right);
  std::memcpy(p + key_end_, keys_ + key_end_, kPageSize - key_end_);
  for (size_t i = 0; i < count; ++i) {
    uint64_t v = uint64_t(recnos_[i]) | (uint64_t(dups_[i]) << l.recno_bits) |
                 (uint64_t(trails_[i]) << (l.recno_bits + l.dup_bits));
    uint8_t* e = p + 24 + i * l.entry_bytes;
    for (int b = 0; b < l.entry_bytes; ++b) e[b] = uint8_t(v >> (8 * b));
  }
  put16(p + 12, uint32_t(key_end_ - (24 + count * l.entry_bytes)));
  put32(p + 14, l.recno_mask);
  p[18] = l.dup_mask;
  p[19] = l.trail_mask;
  p[20] = l.recno_bits;
  p[21] = l.dup_bits;
  p[22] = l.trail_bits;
  p[23] = l.entry_bytes;
  count_ = 0;
  key_end_ = kPageSize;
  max_recno_ = 0;
}

bool encode_leaf(const Node& node, int key_length, KeyType type, uint8_t* p) {
  uint32_t max_recno = 0;
  for (const Entry& e : node.entries) max_recno = e.recno > max_recno ? e.recno : max_recno;
  const size_t entry_bytes = leaf_layout(key_length, max_recno).entry_bytes;
  LeafPacker packer(key_length, type);
  std::string key;
  for (const Entry& e : node.entries) {
    key.assign(e.key, 0, size_t(key_length));
    key.resize(size_t(key_length), key_pad(type));
    if (!packer.add(reinterpret_cast<const uint8_t*>(key.data()), e.recno, entry_bytes)) return false;
  }
  packer.write(node.attr, node.left, node.right, p);
  return true;
}

void encode_interior(const Node& node, int key_length, uint8_t* p) {
  if (node.entries.size() > interior_capacity(key_length)) throw IndexError("Za dużo kluczy na stronie indeksu");
  std::memset(p, 0, kPageSize);
  put16(p, node.attr);
  put16(p + 2, uint32_t(node.entries.size()));
  put32(p + 4, node.left);
  put32(p + 8, node.right);
  const size_t kl = size_t(key_length);
  for (size_t i = 0; i < node.entries.size(); ++i) {
    uint8_t* e = p + 12 + i * (kl + 8);
    std::memcpy(e, node.entries[i].key.data(), kl < node.entries[i].key.size() ? kl : node.entries[i].key.size());
    put32be(e + kl, node.entries[i].recno);
    put32be(e + kl + 4, node.entries[i].child);
  }
}

}  // namespace zuv::table::cdx
