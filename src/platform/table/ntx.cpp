#include "platform/table/ntx.h"
#include "platform/base/coding.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace zuv::table::ntx {
namespace {

constexpr int kMaxDepth = 32;

constexpr auto get16 = base::le16;
constexpr auto get32 = base::le32;
constexpr auto put16 = base::put_le16;
constexpr auto put32 = base::put_le32;

[[noreturn]] void damaged(const std::string& what) { throw IndexError("Uszkodzony plik indeksu NTX: " + what); }

uint32_t child_of(const Page& p, size_t i) { return i < p.items.size() ? p.items[i].child : p.last_child; }
void set_child(Page& p, size_t i, uint32_t c) {
  if (i < p.items.size()) p.items[i].child = c;
  else p.last_child = c;
}

}  // namespace

uint16_t max_items_for(int key_size) {
  int m = int((kPageSize - 4) / uint32_t(key_size + 8 + 2)) - 1;
  if (m % 2) --m;
  return uint16_t(m < 2 ? 2 : m);
}

Header decode_header(const uint8_t* b) {
  Header h;
  h.signature = get16(b);
  h.version = get16(b + 2);
  h.root = get32(b + 4);
  h.free_list = get32(b + 8);
  h.item_size = get16(b + 12);
  h.key_size = get16(b + 14);
  h.decimals = get16(b + 16);
  h.max_items = get16(b + 18);
  h.half_page = get16(b + 20);
  std::string e(reinterpret_cast<const char*>(b + 22), 256);
  e.resize(std::min(e.find('\0'), e.size()));
  h.expression = e;
  h.unique = b[278] != 0;
  h.descending = b[280] != 0;
  if (h.signature != 6 && h.signature != 7) damaged("nieznany podpis nagłówka");
  if (h.key_size < 1 || h.key_size > 250 || h.item_size != h.key_size + 8) damaged("niemożliwa długość klucza");
  if (h.max_items < 2 || 2 + 2 * (uint32_t(h.max_items) + 1) + (uint32_t(h.max_items) + 1) * h.item_size > kPageSize)
    damaged("niemożliwa liczba kluczy na stronie");
  if (h.root == 0 || h.root % kPageSize != 0) damaged("wskaźnik korzenia");
  return h;
}

void encode_header(const Header& h, uint8_t* b) {
  std::memset(b, 0, kPageSize);
  put16(b, h.signature);
  put16(b + 2, h.version);
  put32(b + 4, h.root);
  put32(b + 8, h.free_list);
  put16(b + 12, h.item_size);
  put16(b + 14, h.key_size);
  put16(b + 16, h.decimals);
  put16(b + 18, h.max_items);
  put16(b + 20, h.half_page);
  std::memcpy(b + 22, h.expression.data(), std::min<size_t>(h.expression.size(), 255));
  b[278] = h.unique ? 1 : 0;
  b[280] = h.descending ? 1 : 0;
}

Page decode_page(const uint8_t* b, const Header& h) {
  Page p;
  uint16_t n = get16(b);
  if (n > h.max_items) damaged("za dużo kluczy na stronie");
  p.items.resize(n);
  for (size_t i = 0; i <= n; ++i) {
    uint16_t off = get16(b + 2 + 2 * i);
    if (off < 2 || uint32_t(off) + h.item_size > kPageSize) damaged("przesunięcie klucza poza stroną");
    const uint8_t* it = b + off;
    if (i < n) {
      p.items[i].child = get32(it);
      p.items[i].recno = get32(it + 4);
      p.items[i].key.assign(reinterpret_cast<const char*>(it + 8), h.key_size);
    } else {
      p.last_child = get32(it);
    }
  }
  return p;
}

void encode_page(const Page& p, const Header& h, uint8_t* b) {
  if (p.items.size() > h.max_items) throw IndexError("Za dużo kluczy na stronie indeksu NTX");
  std::memset(b, 0, kPageSize);
  put16(b, uint32_t(p.items.size()));
  const uint32_t base = 2 + 2 * (uint32_t(h.max_items) + 1);
  for (uint32_t i = 0; i <= h.max_items; ++i) put16(b + 2 + 2 * i, base + i * h.item_size);
  for (size_t i = 0; i <= p.items.size(); ++i) {
    uint8_t* it = b + base + i * h.item_size;
    if (i < p.items.size()) {
      put32(it, p.items[i].child);
      put32(it + 4, p.items[i].recno);
      std::memcpy(it + 8, p.items[i].key.data(), std::min<size_t>(p.items[i].key.size(), h.key_size));
    } else {
      put32(it, p.last_child);
    }
  }
}

// ---------------------------------------------------------------- file

std::unique_ptr<NtxFile> NtxFile::open(const std::string& path, bool writable) {
  std::unique_ptr<NtxFile> f(new NtxFile());
  f->file_.open(path, writable);
  if (writable) f->file_.recover();
  if (f->file_.size() < 2 * kPageSize || f->file_.size() % kPageSize != 0) damaged("nieprawidłowa wielkość pliku " + path);
  uint8_t b[kPageSize];
  f->file_.read(0, b, kPageSize);
  f->header_ = decode_header(b);
  if (uint64_t(f->header_.root) + kPageSize > f->file_.size()) damaged("korzeń poza plikiem");
  return f;
}

void NtxFile::all_or_nothing(const std::function<void()>& change) {
  file_.begin_undo();
  try {
    change();
    file_.commit_undo();
  } catch (...) {
    file_.rollback_undo();
    try {
      uint8_t b[kPageSize];
      file_.read(0, b, kPageSize);
      KeyType type = type_;
      header_ = decode_header(b);
      type_ = type;
    } catch (...) {
    }
    throw;
  }
}

std::unique_ptr<NtxFile> NtxFile::open_image(std::string bytes, const std::string& name) {
  std::unique_ptr<NtxFile> f(new NtxFile());
  f->file_.open_image(std::move(bytes), name);
  if (f->file_.size() < 2 * kPageSize || f->file_.size() % kPageSize != 0) damaged("nieprawidłowa wielkość pliku " + name);
  uint8_t b[kPageSize];
  f->file_.read(0, b, kPageSize);
  f->header_ = decode_header(b);
  if (uint64_t(f->header_.root) + kPageSize > f->file_.size()) damaged("korzeń poza plikiem");
  return f;
}

Page NtxFile::load(uint32_t page) {
  if (page == 0 || page % kPageSize != 0 || uint64_t(page) + kPageSize > file_.size())
    damaged("wskaźnik strony poza plikiem (" + std::to_string(page) + ")");
  uint8_t b[kPageSize];
  file_.read(page, b, kPageSize);
  return decode_page(b, header_);
}

void NtxFile::store(uint32_t page, const Page& p) {
  uint8_t b[kPageSize];
  encode_page(p, header_, b);
  file_.write(page, b, kPageSize);
}

uint32_t NtxFile::allocate() {
  if (header_.free_list != 0 && header_.free_list % kPageSize == 0 &&
      uint64_t(header_.free_list) + kPageSize <= file_.size()) {
    uint32_t page = header_.free_list;
    uint8_t b[4];
    file_.read(page, b, 4);
    header_.free_list = get32(b);
    return page;
  }
  // Page offsets are 32 bits: a page past 4 GB would wrap onto the header.
  if (file_.size() + kPageSize > 0xFFFFFE00ull) throw IndexError("Plik indeksu przekroczył 4 GB: " + path());
  uint32_t page = uint32_t(file_.size());
  uint8_t zero[kPageSize] = {};
  file_.write(page, zero, kPageSize);
  return page;
}

void NtxFile::release(uint32_t page) {
  uint8_t b[kPageSize] = {};
  put32(b, header_.free_list);
  file_.write(page, b, kPageSize);
  header_.free_list = page;
}

void NtxFile::write_header() {
  uint8_t b[kPageSize];
  encode_header(header_, b);
  file_.write(0, b, kPageSize);
}

int NtxFile::compare(const Item& it, std::string_view key, uint32_t recno, bool full) const {
  size_t n = std::min(key.size(), it.key.size());
  int c = compare_key_bytes(type_, reinterpret_cast<const uint8_t*>(it.key.data()),
                            reinterpret_cast<const uint8_t*>(key.data()), n);
  if (c != 0 || !full) return c;
  return it.recno < recno ? -1 : it.recno > recno ? 1 : 0;
}

std::unique_ptr<NtxFile> NtxFile::create(const std::string& path, const std::string& expression, KeyType type,
                                         int key_size, int decimals, bool unique, KeyStream& sorted) {
  if (key_size < 1 || key_size > 250) throw IndexError("Nieprawidłowa długość klucza indeksu NTX");
  std::string temp = path + ".new";
  try {
    std::unique_ptr<NtxFile> f(new NtxFile());
    f->file_.create(temp);
    f->type_ = type;
    Header& h = f->header_;
    h.key_size = uint16_t(key_size);
    h.item_size = uint16_t(key_size + 8);
    h.decimals = uint16_t(decimals);
    h.max_items = max_items_for(key_size);
    h.half_page = uint16_t(h.max_items / 2);
    h.expression = expression;
    h.unique = unique;
    f->write_header();
    h.root = f->allocate();
    f->store(h.root, Page());
    std::string key, last;
    uint32_t recno;
    bool have_last = false;
    while (sorted.next(key, recno)) {
      key.resize(size_t(key_size), key_pad(type));
      if (unique && have_last && compare_keys(type, key, last) == 0) continue;
      last = key;
      have_last = true;
      f->insert(key, recno);
    }
    f->write_header();
    f->file_.flush();
    f->file_.close();
  } catch (...) {
    remove_file_quietly(temp);  // the half-written file goes; the old index stays
    throw;
  }
  try {
    replace_file(temp, path);
  } catch (...) {
    remove_file_quietly(temp);
    throw;
  }
  auto f = open(path, true);
  f->type_ = type;
  return f;
}

// ---------------------------------------------------------------- navigation

bool NtxFile::settle(Cursor& c) {
  while (!c.stack.empty()) {
    auto [page, i] = c.stack.back();
    Page p = load(page);
    if (size_t(i) < p.items.size()) {
      c.key = p.items[size_t(i)].key;
      c.recno = p.items[size_t(i)].recno;
      return true;
    }
    c.stack.pop_back();
  }
  return false;
}

bool NtxFile::descend_left(Cursor& c, uint32_t page) {
  while (page != 0) {
    if (c.stack.size() > size_t(kMaxDepth)) damaged("pętla w drzewie");
    Page p = load(page);
    c.stack.push_back({page, 0});
    page = child_of(p, 0);
  }
  return settle(c);
}

bool NtxFile::descend_right(Cursor& c, uint32_t page) {
  while (page != 0) {
    if (c.stack.size() > size_t(kMaxDepth)) damaged("pętla w drzewie");
    Page p = load(page);
    c.stack.push_back({page, int(p.items.size())});
    page = p.last_child;
  }
  // Step back onto the last key of the deepest page that has one.
  while (!c.stack.empty()) {
    auto& [pg, i] = c.stack.back();
    if (i > 0) {
      --i;
      Page p = load(pg);
      c.key = p.items[size_t(i)].key;
      c.recno = p.items[size_t(i)].recno;
      return true;
    }
    c.stack.pop_back();
  }
  return false;
}

bool NtxFile::first(Cursor& c) {
  c = Cursor();
  return descend_left(c, header_.root);
}

bool NtxFile::last(Cursor& c) {
  c = Cursor();
  return descend_right(c, header_.root);
}

bool NtxFile::next(Cursor& c) {
  if (c.stack.empty()) return false;
  auto& [page, i] = c.stack.back();
  Page p = load(page);
  ++i;
  uint32_t child = child_of(p, size_t(i));
  if (child != 0) return descend_left(c, child);
  return settle(c);
}

bool NtxFile::prev(Cursor& c) {
  if (c.stack.empty()) return false;
  auto [page, i] = c.stack.back();
  Page p = load(page);
  uint32_t child = child_of(p, size_t(i));
  if (child != 0) return descend_right(c, child);
  while (!c.stack.empty()) {
    auto& [pg, j] = c.stack.back();
    if (j > 0) {
      --j;
      Page q = load(pg);
      c.key = q.items[size_t(j)].key;
      c.recno = q.items[size_t(j)].recno;
      return true;
    }
    c.stack.pop_back();
  }
  return false;
}

bool NtxFile::seek(std::string_view key, uint32_t recno, Cursor& c) {
  c = Cursor();
  bool full = recno != 0 && key.size() >= header_.key_size;
  uint32_t page = header_.root;
  while (page != 0) {
    if (c.stack.size() > size_t(kMaxDepth)) damaged("pętla w drzewie");
    Page p = load(page);
    size_t i = 0;
    while (i < p.items.size() && compare(p.items[i], key, recno, full) < 0) ++i;
    c.stack.push_back({page, int(i)});
    page = child_of(p, i);
  }
  return settle(c);
}

// ---------------------------------------------------------------- maintenance

void NtxFile::insert(const std::string& key_in, uint32_t recno) {
  std::string key = key_in;
  key.resize(header_.key_size, key_pad(type_));
  std::vector<std::pair<uint32_t, int>> path;
  uint32_t page = header_.root;
  Page p;
  size_t i = 0;
  while (true) {
    if (path.size() > size_t(kMaxDepth)) damaged("pętla w drzewie");
    p = load(page);
    i = 0;
    while (i < p.items.size() && compare(p.items[i], key, recno, true) < 0) ++i;
    if (i < p.items.size() && compare(p.items[i], key, recno, true) == 0) return;
    path.push_back({page, int(i)});
    uint32_t child = child_of(p, i);
    if (child == 0) break;
    page = child;
  }
  Item up{0, recno, key};
  uint32_t up_left = 0;  // page left of the rising item (0 at the leaf)
  for (size_t level = path.size(); level-- > 0;) {
    uint32_t pg = path[level].first;
    size_t at = size_t(path[level].second);
    Page node = level + 1 == path.size() ? p : load(pg);
    up.child = up_left;
    node.items.insert(node.items.begin() + long(at), up);
    if (node.items.size() <= header_.max_items) {
      store(pg, node);
      write_header();
      return;
    }
    // Split: appends keep the left page full, other inserts split in the middle.
    size_t k = at + 1 == node.items.size() ? node.items.size() - 2 : node.items.size() / 2;
    Page left;
    left.items.assign(node.items.begin(), node.items.begin() + long(k));
    left.last_child = node.items[k].child;
    Item mid = node.items[k];
    Page right;
    right.items.assign(node.items.begin() + long(k) + 1, node.items.end());
    right.last_child = node.last_child;
    uint32_t left_page = allocate();
    store(left_page, left);
    store(pg, right);
    up = mid;
    up_left = left_page;
  }
  // The root split.
  Page root;
  root.items.push_back(Item{up_left, up.recno, up.key});
  root.last_child = header_.root;
  uint32_t new_root = allocate();
  store(new_root, root);
  header_.root = new_root;
  write_header();
}

bool NtxFile::remove(const std::string& key_in, uint32_t recno) {
  std::string key = key_in;
  key.resize(header_.key_size, key_pad(type_));
  std::vector<std::pair<uint32_t, int>> path;
  uint32_t page = header_.root;
  bool found = false;
  while (page != 0) {
    if (path.size() > size_t(kMaxDepth)) damaged("pętla w drzewie");
    Page p = load(page);
    size_t i = 0;
    while (i < p.items.size() && compare(p.items[i], key, recno, true) < 0) ++i;
    path.push_back({page, int(i)});
    if (i < p.items.size() && compare(p.items[i], key, recno, true) == 0) {
      found = true;
      break;
    }
    page = child_of(p, i);
  }
  if (!found) return false;
  size_t hit_level = path.size() - 1;
  Page hit = load(path[hit_level].first);
  size_t hi = size_t(path[hit_level].second);
  uint32_t child = child_of(hit, hi);
  if (child == 0) {
    hit.items.erase(hit.items.begin() + long(hi));
    store(path[hit_level].first, hit);
  } else {
    // An interior key: the greatest key of its left subtree takes its place.
    uint32_t pg = child;
    Page leaf;
    while (true) {
      if (path.size() > size_t(kMaxDepth)) damaged("pętla w drzewie");
      leaf = load(pg);
      path.push_back({pg, int(leaf.items.size())});
      if (leaf.last_child == 0) break;
      pg = leaf.last_child;
    }
    if (leaf.items.empty()) damaged("pusta strona w drzewie");
    Item pred = leaf.items.back();
    leaf.items.pop_back();
    path.back().second = int(leaf.items.size());
    store(pg, leaf);
    hit.items[hi].key = pred.key;
    hit.items[hi].recno = pred.recno;
    store(path[hit_level].first, hit);
  }
  fix_underflow(path);
  write_header();
  return true;
}

void NtxFile::fix_underflow(std::vector<std::pair<uint32_t, int>>& path) {
  while (path.size() > 1) {
    uint32_t pg = path.back().first;
    Page node = load(pg);
    if (node.items.size() >= header_.half_page) return;
    path.pop_back();
    uint32_t qpg = path.back().first;
    Page q = load(qpg);
    size_t j = size_t(path.back().second);
    if (child_of(q, j) != pg) damaged("ścieżka w drzewie nie zgadza się ze stronami");
    if (j > 0) {
      uint32_t lpg = child_of(q, j - 1);
      Page l = load(lpg);
      if (l.items.size() > header_.half_page) {
        node.items.insert(node.items.begin(), Item{l.last_child, q.items[j - 1].recno, q.items[j - 1].key});
        q.items[j - 1].key = l.items.back().key;
        q.items[j - 1].recno = l.items.back().recno;
        l.last_child = l.items.back().child;
        l.items.pop_back();
        store(lpg, l);
        store(pg, node);
        store(qpg, q);
        return;
      }
    }
    if (j < q.items.size()) {
      uint32_t rpg = child_of(q, j + 1);
      Page r = load(rpg);
      if (r.items.size() > header_.half_page) {
        node.items.push_back(Item{node.last_child, q.items[j].recno, q.items[j].key});
        node.last_child = r.items.front().child;
        q.items[j].key = r.items.front().key;
        q.items[j].recno = r.items.front().recno;
        r.items.erase(r.items.begin());
        store(rpg, r);
        store(pg, node);
        store(qpg, q);
        return;
      }
    }
    // Merge with a neighbour around their separator.
    size_t k = j > 0 ? j - 1 : j;
    if (k >= q.items.size()) return;  // a root with no keys left to merge around
    uint32_t lpg = child_of(q, k), rpg = child_of(q, k + 1);
    Page l = k == j ? node : load(lpg);
    Page r = k == j ? load(rpg) : node;
    l.items.push_back(Item{l.last_child, q.items[k].recno, q.items[k].key});
    l.items.insert(l.items.end(), r.items.begin(), r.items.end());
    l.last_child = r.last_child;
    q.items.erase(q.items.begin() + long(k));
    set_child(q, k, lpg);
    store(lpg, l);
    release(rpg);
    if (q.items.empty() && path.size() == 1) {
      // The root emptied: its only child becomes the root.
      release(qpg);
      header_.root = lpg;
      return;
    }
    store(qpg, q);
  }
}

}  // namespace zuv::table::ntx
