#include "platform/table/cdx.h"
#include "platform/base/coding.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/base/text.h"

namespace zuv::table::cdx {
namespace {

// Deeper than any tree a 4 GB file can hold; a longer path means a loop.
constexpr int kMaxDepth = 32;
constexpr size_t kCacheLimit = 512;

[[noreturn]] void damaged(const std::string& what) { throw IndexError("Uszkodzony plik indeksu: " + what); }

}  // namespace

std::string tag_directory_key(std::string_view name) {
  std::string k = base::upper_ascii(name.substr(0, kDirectoryKeyLength));
  k.resize(kDirectoryKeyLength, ' ');
  return k;
}

// ---------------------------------------------------------------- Tag

Tag::Tag(CdxFile& file, uint32_t header_offset, std::string name)
    : file_(file), header_offset_(header_offset), name_(std::move(name)) {
  reload_header();
}

void Tag::reload_header() {
  uint8_t b[kHeaderSize];
  if (uint64_t(header_offset_) + kHeaderSize > file_.size()) damaged("nagłówek znacznika poza końcem pliku");
  file_.read(header_offset_, b, kHeaderSize);
  header_ = decode_header(b);
  file_.check_page_pointer(header_.root);
}

void Tag::sync_with_file() {
  uint8_t b[4];
  file_.read(uint64_t(header_offset_) + 8, b, 4);
  uint32_t counter = base::le32(b);
  if (counter == header_.counter) return;
  file_.drop_cache();
  reload_header();
}

std::shared_ptr<const Node> Tag::load(uint32_t page) { return file_.node(page, header_.key_length, type_); }

int Tag::compare(const Entry& e, std::string_view key, uint32_t recno, bool full) const {
  size_t n = std::min(key.size(), e.key.size());
  int c = compare_key_bytes(type_, reinterpret_cast<const uint8_t*>(e.key.data()),
                            reinterpret_cast<const uint8_t*>(key.data()), n);
  if (c != 0 || !full) return c;
  return e.recno < recno ? -1 : e.recno > recno ? 1 : 0;
}

std::vector<Tag::Step> Tag::descend(std::string_view key, uint32_t recno, bool full, bool insert_mode) {
  std::vector<Step> path;
  uint32_t page = header_.root;
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) damaged("pętla w drzewie znacznika " + name_);
    auto n = load(page);
    size_t i = 0;
    while (i < n->entries.size() && compare(n->entries[i], key, recno, full) < 0) ++i;
    if (n->leaf()) {
      path.push_back({page, i});
      return path;
    }
    if (n->entries.empty()) damaged("pusta strona wewnętrzna w znaczniku " + name_);
    if (i == n->entries.size()) {
      if (!insert_mode) {
        path.push_back({page, i});
        return path;  // every key is smaller: the path ends above the leaves
      }
      i = n->entries.size() - 1;
    }
    path.push_back({page, i});
    page = n->entries[i].child;
  }
}

bool Tag::first(Cursor& c) {
  uint32_t page = header_.root;
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) damaged("pętla w drzewie znacznika " + name_);
    auto n = load(page);
    if (n->leaf()) {
      c.page = page;
      c.index = -1;
      if (!n->entries.empty()) {
        c.index = 0;
        c.key = n->entries[0].key;
        c.recno = n->entries[0].recno;
        return true;
      }
      return move_right(c, *n);
    }
    if (n->entries.empty()) damaged("pusta strona wewnętrzna w znaczniku " + name_);
    page = n->entries.front().child;
  }
}

bool Tag::last(Cursor& c) {
  uint32_t page = header_.root;
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) damaged("pętla w drzewie znacznika " + name_);
    auto n = load(page);
    if (n->leaf()) {
      c.page = page;
      if (!n->entries.empty()) {
        c.index = int(n->entries.size()) - 1;
        c.key = n->entries.back().key;
        c.recno = n->entries.back().recno;
        return true;
      }
      c.index = 0;
      return move_left(c, *n);
    }
    if (n->entries.empty()) damaged("pusta strona wewnętrzna w znaczniku " + name_);
    page = n->entries.back().child;
  }
}

// Moves to the first entry of the leaves to the right. A sibling must continue the
// order; one that does not is a damaged chain (possibly a loop), never walked twice.
bool Tag::move_right(Cursor& c, const Node& from) {
  uint32_t next = from.right;
  std::string prev_key = c.index >= 0 ? c.key : std::string();
  uint32_t prev_recno = c.index >= 0 ? c.recno : 0;
  bool have_prev = c.index >= 0;
  uint64_t guard = file_.size() / kPageSize + 1;
  while (next != kNoPage) {
    if (guard-- == 0) damaged("pętla w łańcuchu stron znacznika " + name_);
    file_.check_page_pointer(next);
    auto n = load(next);
    if (!n->leaf()) damaged("strona innego rodzaju w łańcuchu liści znacznika " + name_);
    if (!n->entries.empty()) {
      const Entry& e = n->entries.front();
      if (have_prev && (compare(e, prev_key, prev_recno, true) <= 0))
        damaged("łańcuch liści nie zachowuje porządku w znaczniku " + name_);
      c.page = next;
      c.index = 0;
      c.key = e.key;
      c.recno = e.recno;
      return true;
    }
    next = n->right;
  }
  c = Cursor();
  return false;
}

bool Tag::move_left(Cursor& c, const Node& from) {
  uint32_t next = from.left;
  bool have_prev = c.index >= 0 && !c.key.empty();
  std::string prev_key = c.key;
  uint32_t prev_recno = c.recno;
  uint64_t guard = file_.size() / kPageSize + 1;
  while (next != kNoPage) {
    if (guard-- == 0) damaged("pętla w łańcuchu stron znacznika " + name_);
    file_.check_page_pointer(next);
    auto n = load(next);
    if (!n->leaf()) damaged("strona innego rodzaju w łańcuchu liści znacznika " + name_);
    if (!n->entries.empty()) {
      const Entry& e = n->entries.back();
      if (have_prev && compare(e, prev_key, prev_recno, true) >= 0)
        damaged("łańcuch liści nie zachowuje porządku w znaczniku " + name_);
      c.page = next;
      c.index = int(n->entries.size()) - 1;
      c.key = e.key;
      c.recno = e.recno;
      return true;
    }
    next = n->left;
  }
  c = Cursor();
  return false;
}

bool Tag::next(Cursor& c) {
  if (!c.valid()) return false;
  auto n = load(c.page);
  if (!n->leaf()) damaged("kursor nie wskazuje liścia");
  size_t i = size_t(c.index + 1);
  if (i < n->entries.size()) {
    c.index = int(i);
    c.key = n->entries[i].key;
    c.recno = n->entries[i].recno;
    return true;
  }
  return move_right(c, *n);
}

bool Tag::prev(Cursor& c) {
  if (!c.valid()) return false;
  auto n = load(c.page);
  if (!n->leaf()) damaged("kursor nie wskazuje liścia");
  if (c.index > 0 && size_t(c.index) <= n->entries.size()) {
    --c.index;
    c.key = n->entries[size_t(c.index)].key;
    c.recno = n->entries[size_t(c.index)].recno;
    return true;
  }
  return move_left(c, *n);
}

bool Tag::seek(std::string_view key, uint32_t recno, Cursor& c) {
  bool full = recno != 0 && key.size() >= size_t(header_.key_length);
  auto path = descend(key, recno, full, false);
  auto n = load(path.back().page);
  if (!n->leaf()) {
    c = Cursor();
    return false;
  }
  size_t i = path.back().index;
  c.page = path.back().page;
  if (i < n->entries.size()) {
    c.index = int(i);
    c.key = n->entries[i].key;
    c.recno = n->entries[i].recno;
    return true;
  }
  c.index = -1;
  return move_right(c, *n);
}

bool Tag::contains(const std::string& key, uint32_t recno) {
  Cursor c;
  if (!seek(key, recno, c)) return false;
  return c.recno == recno && compare_keys(type_, c.key, key) == 0;
}

void Tag::touch() {
  ++header_.counter;
  file_.patch32(uint64_t(header_offset_) + 8, header_.counter);
}

void Tag::set_root(uint32_t page) {
  header_.root = page;
  file_.patch32(header_offset_, page);
}

// Fixes the neighbours of a page that leaves its level.
void Tag::unlink_page(const Node& node, uint32_t page) {
  if (node.left != kNoPage) file_.patch32(uint64_t(node.left) + 8, node.right);
  if (node.right != kNoPage) file_.patch32(uint64_t(node.right) + 4, node.left);
  file_.free_page(page);
}

// Writes a node back to its page, split over new pages (placed before it in the
// sibling chain) when it does not fit; answers the parent's entries for the result.
std::vector<Entry> Tag::store_node(Node node, uint32_t page) {
  const int kl = header_.key_length;
  std::vector<Entry> up;
  if (node.entries.empty() && !node.root()) {
    unlink_page(node, page);
    return up;
  }
  uint8_t buf[kPageSize];
  auto fits = [&](const Node& n) {
    if (n.leaf()) return encode_leaf(n, kl, type_, buf);
    return n.entries.size() <= interior_capacity(kl);
  };
  if (fits(node)) {
    if (!node.leaf()) encode_interior(node, kl, buf);
    file_.write_page(page, buf);
    if (!node.entries.empty()) up.push_back({node.entries.back().key, node.entries.back().recno, page});
    return up;
  }
  // Cut into pieces that fit, each as full as a half-split allows.
  std::vector<std::vector<Entry>> pieces;
  std::vector<std::vector<Entry>> todo{std::move(node.entries)};
  while (!todo.empty()) {
    auto part = std::move(todo.back());
    todo.pop_back();
    Node probe;
    probe.attr = node.attr & kAttrLeaf;
    probe.entries = part;
    if (part.size() <= 1 || fits(probe)) {
      pieces.push_back(std::move(part));
      continue;
    }
    size_t half = part.size() / 2;
    std::vector<Entry> a(part.begin(), part.begin() + long(half)), b(part.begin() + long(half), part.end());
    todo.push_back(std::move(b));
    todo.push_back(std::move(a));
  }
  // pieces are in order; all but the last go to new pages.
  std::vector<uint32_t> pages(pieces.size());
  for (size_t i = 0; i + 1 < pieces.size(); ++i) pages[i] = file_.allocate_page();
  pages.back() = page;
  for (size_t i = 0; i < pieces.size(); ++i) {
    Node n;
    n.attr = uint16_t(node.attr & kAttrLeaf);
    n.left = i == 0 ? node.left : pages[i - 1];
    n.right = i + 1 == pieces.size() ? node.right : pages[i + 1];
    n.entries = std::move(pieces[i]);
    if (n.leaf()) {
      if (!encode_leaf(n, kl, type_, buf)) throw IndexError("Klucz nie mieści się na stronie indeksu");
    } else {
      encode_interior(n, kl, buf);
    }
    file_.write_page(pages[i], buf);
    up.push_back({n.entries.back().key, n.entries.back().recno, pages[i]});
  }
  if (node.left != kNoPage) file_.patch32(uint64_t(node.left) + 8, pages.front());
  return up;
}

// After the leaf at the end of the path changed to node: write it and carry the
// change (new last key, split, removal) up to the root.
void Tag::rewrite_path(std::vector<Step>& path, Node node) {
  touch();
  bool was_root = node.root();
  std::vector<Entry> up = store_node(std::move(node), path.back().page);
  for (size_t level = path.size() - 1; level-- > 0;) {
    auto parent_ptr = load(path[level].page);
    Node parent = *parent_ptr;
    size_t i = path[level].index;
    const Entry old = parent.entries[i];
    if (up.size() == 1 && up[0].child == old.child && up[0].recno == old.recno && up[0].key == old.key) return;
    parent.entries.erase(parent.entries.begin() + long(i));
    parent.entries.insert(parent.entries.begin() + long(i), up.begin(), up.end());
    was_root = parent.root();
    if (parent.entries.empty() && parent.root()) {
      // The last key went: the root becomes an empty leaf.
      Node empty;
      empty.attr = kAttrRoot | kAttrLeaf;
      uint8_t buf[kPageSize];
      encode_leaf(empty, header_.key_length, type_, buf);
      file_.write_page(path[level].page, buf);
      return;
    }
    up = store_node(std::move(parent), path[level].page);
  }
  if (was_root && up.size() > 1) {
    // The root split: its pieces lose the root mark and a new root holds them.
    for (const Entry& e : up) {
      auto n = load(e.child);
      file_.patch32(e.child, uint32_t(n->attr & ~kAttrRoot) | (uint32_t(n->entries.size()) << 16));
    }
    Node root;
    root.attr = kAttrRoot;
    root.entries = up;
    while (root.entries.size() > interior_capacity(header_.key_length)) {
      throw IndexError("Za długi klucz dla strony indeksu");
    }
    uint32_t page = file_.allocate_page();
    uint8_t buf[kPageSize];
    encode_interior(root, header_.key_length, buf);
    file_.write_page(page, buf);
    set_root(page);
  }
}

void Tag::insert(const std::string& key_in, uint32_t recno) {
  std::string key = pad_key(type_, key_in, size_t(header_.key_length));
  key.resize(size_t(header_.key_length), key_pad(type_));
  if (header_.options & kOptUnique) {
    Cursor c;
    if (seek(key, 0, c) && compare_keys(type_, c.key, key) == 0) return;
  }
  auto path = descend(key, recno, true, true);
  Node leaf = *load(path.back().page);
  size_t i = path.back().index;
  if (i < leaf.entries.size() && leaf.entries[i].recno == recno && leaf.entries[i].key == key) return;
  leaf.entries.insert(leaf.entries.begin() + long(i), Entry{key, recno, 0});
  rewrite_path(path, std::move(leaf));
}

bool Tag::remove(const std::string& key_in, uint32_t recno) {
  std::string key = pad_key(type_, key_in, size_t(header_.key_length));
  key.resize(size_t(header_.key_length), key_pad(type_));
  auto path = descend(key, recno, true, false);
  auto leaf_ptr = load(path.back().page);
  if (!leaf_ptr->leaf()) return false;
  size_t i = path.back().index;
  if (i >= leaf_ptr->entries.size() || leaf_ptr->entries[i].recno != recno ||
      compare_keys(type_, leaf_ptr->entries[i].key, key) != 0)
    return false;
  Node leaf = *leaf_ptr;
  leaf.entries.erase(leaf.entries.begin() + long(i));
  rewrite_path(path, std::move(leaf));
  return true;
}

// ---------------------------------------------------------------- CdxFile

CdxFile::~CdxFile() {
  try {
    file_.flush();
  } catch (...) {
  }
}

std::unique_ptr<CdxFile> CdxFile::open(const std::string& path, bool writable, os::Share share) {
  std::unique_ptr<CdxFile> f(new CdxFile());
  f->file_.open(path, writable, share);
  // A writer that died in the middle of a change left its journal: take it back.
  if (writable && share == os::Share::Exclusive) f->file_.recover();
  if (f->file_.size() < kHeaderSize + kPageSize || f->file_.size() % kPageSize != 0)
    damaged("nieprawidłowa wielkość pliku " + path);
  f->load_directory();
  return f;
}

std::unique_ptr<CdxFile> CdxFile::open_image(std::string bytes, const std::string& name) {
  std::unique_ptr<CdxFile> f(new CdxFile());
  f->file_.open_image(std::move(bytes), name);
  if (f->file_.size() < kHeaderSize + kPageSize || f->file_.size() % kPageSize != 0)
    damaged("nieprawidłowa wielkość pliku " + name);
  f->load_directory();
  return f;
}

std::unique_ptr<CdxFile> CdxFile::create(const std::string& path, os::Share share) {
  std::unique_ptr<CdxFile> f(new CdxFile());
  f->file_.create(path, share);
  TagHeader h;
  h.root = kHeaderSize;
  h.free_list = 0;
  h.key_length = kDirectoryKeyLength;
  h.options = kOptCompact | kOptCompound | kOptStructure;
  uint8_t hb[kHeaderSize];
  encode_header(h, hb);
  f->file_.write(0, hb, kHeaderSize);
  Node root;
  root.attr = kAttrRoot | kAttrLeaf;
  uint8_t pb[kPageSize];
  encode_leaf(root, kDirectoryKeyLength, KeyType::Character, pb);
  f->file_.write(kHeaderSize, pb, kPageSize);
  f->load_directory();
  return f;
}

void CdxFile::load_directory() {
  cache_.clear();
  ++generation_;
  // Key types come from the expressions, not the file: keep what callers set.
  std::map<std::string, KeyType> types;
  for (auto& t : tags_) types[t->name()] = t->key_type();
  directory_ = std::make_unique<Tag>(*this, 0, "");
  if (directory_->key_length() != kDirectoryKeyLength) damaged("nagłówek pliku nie jest nagłówkiem indeksu złożonego");
  tags_.clear();
  Cursor c;
  std::vector<std::pair<uint32_t, std::string>> found;
  for (bool ok = directory_->first(c); ok; ok = directory_->next(c)) {
    if (c.recno % kPageSize != 0 || c.recno == 0 || uint64_t(c.recno) + kHeaderSize > file_.size())
      damaged("nagłówek znacznika poza plikiem");
    std::string name = c.key;
    while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
    found.emplace_back(c.recno, name);
    if (found.size() > file_.size() / kHeaderSize) damaged("za dużo znaczników");
  }
  std::sort(found.begin(), found.end());
  for (auto& [off, name] : found) {
    tags_.push_back(std::make_unique<Tag>(*this, off, name));
    auto it = types.find(name);
    if (it != types.end()) tags_.back()->set_key_type(it->second);
  }
}

Tag* CdxFile::find_tag(std::string_view name) {
  std::string key = tag_directory_key(name);
  for (auto& t : tags_) {
    if (tag_directory_key(t->name()) == key) return t.get();
  }
  return nullptr;
}

// Far past any page the format can address, so the lock never covers data.
constexpr uint64_t kUpdateLockOffset = 0xFFFFFFFEull;

void CdxFile::share_updates() {
  if (shared_updates_) return;
  // A write lock needs a handle open for writing; read-only users never update.
  if (!writable()) return;
  if (lock_handle_.open(path(), os::Access::ReadWrite, os::Share::Shared) != 0)
    throw IndexError("Nie mogę otworzyć pliku indeksu do współdzielenia: " + path());
  shared_updates_ = true;
}

CdxFile::UpdateLock::UpdateLock(CdxFile& f, Tag& t) : f_(f) {
  if (!f_.shared_updates_) return;
  // Bounded retries: another workstation holds the lock only for one key's change.
  for (int attempt = 0;; ++attempt) {
    int rc = f_.lock_handle_.lock(kUpdateLockOffset, 1);
    if (rc == 0) break;
    if (attempt >= 200) throw IndexError("Indeks jest zajęty przez inny proces: " + f_.path());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  try {
    if (f_.file_.recover()) f_.drop_cache();
    t.sync_with_file();
  } catch (...) {
    f_.lock_handle_.unlock(kUpdateLockOffset, 1);
    throw;
  }
}

CdxFile::UpdateLock::~UpdateLock() {
  // Every write went straight to the OS, so the other processes see it already.
  if (f_.shared_updates_) f_.lock_handle_.unlock(kUpdateLockOffset, 1);
}

void CdxFile::check_page_pointer(uint32_t page) const {
  if (page == kNoPage || page % kPageSize != 0 || page < kPageSize || uint64_t(page) + kPageSize > file_.size())
    damaged("wskaźnik strony poza plikiem (" + std::to_string(page) + ")");
}

std::shared_ptr<const Node> CdxFile::node(uint32_t page, int key_length, KeyType type) {
  check_page_pointer(page);
  auto it = cache_.find(page);
  if (it != cache_.end()) return it->second;
  uint8_t buf[kPageSize];
  file_.read(page, buf, kPageSize);
  auto n = std::make_shared<const Node>(decode_node(buf, key_length, type));
  if (cache_.size() >= kCacheLimit) {
    // The leaves go first: every search passes the few pages above them again.
    std::erase_if(cache_, [](const auto& kept) { return kept.second->leaf(); });
    if (cache_.size() >= kCacheLimit / 2) cache_.clear();
  }
  cache_.emplace(page, n);
  return n;
}

void CdxFile::write_page(uint32_t page, const uint8_t* bytes) {
  ++generation_;
  cache_.erase(page);
  file_.write(page, bytes, kPageSize);
}

void CdxFile::patch32(uint64_t offset, uint32_t value) {
  ++generation_;
  cache_.erase(uint32_t(offset - offset % kPageSize));
  uint8_t b[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
  file_.write(offset, b, 4);
}

uint32_t CdxFile::allocate_page() {
  uint8_t b[4];
  file_.read(4, b, 4);
  uint32_t head = base::le32(b);
  if (head != 0 && head != kNoPage) {
    check_page_pointer(head);
    uint8_t nb[4];
    file_.read(head, nb, 4);
    uint32_t next = base::le32(nb);
    patch32(4, next);
    return head;
  }
  uint64_t end = file_.size();
  end += (kPageSize - end % kPageSize) % kPageSize;
  if (end + kPageSize > 0xFFFFFE00ull) throw IndexError("Plik indeksu przekroczył 4 GB: " + path());
  uint8_t zero[kPageSize] = {};
  file_.write(end, zero, kPageSize);
  return uint32_t(end);
}

uint32_t CdxFile::allocate_header_pages() {
  // Two adjacent free pages serve; otherwise the header goes to the end of the file.
  std::vector<uint32_t> chain;
  uint8_t b[4];
  file_.read(4, b, 4);
  uint32_t p = base::le32(b);
  while (p != 0 && p != kNoPage && chain.size() <= file_.size() / kPageSize) {
    check_page_pointer(p);
    chain.push_back(p);
    file_.read(p, b, 4);
    p = base::le32(b);
  }
  std::vector<uint32_t> sorted = chain;
  std::sort(sorted.begin(), sorted.end());
  for (size_t i = 0; i + 1 < sorted.size(); ++i) {
    if (sorted[i] + kPageSize != sorted[i + 1]) continue;
    uint32_t first = sorted[i];
    std::vector<uint32_t> rest;
    for (uint32_t q : chain) {
      if (q != first && q != first + kPageSize) rest.push_back(q);
    }
    for (size_t k = 0; k < rest.size(); ++k) patch32(rest[k], k + 1 < rest.size() ? rest[k + 1] : 0);
    patch32(4, rest.empty() ? 0 : rest.front());
    return first;
  }
  uint64_t end = file_.size();
  end += (kPageSize - end % kPageSize) % kPageSize;
  if (end + kHeaderSize > 0xFFFFFE00ull) throw IndexError("Plik indeksu przekroczył 4 GB: " + path());
  uint8_t zero[kHeaderSize] = {};
  file_.write(end, zero, kHeaderSize);
  return uint32_t(end);
}

void CdxFile::free_page(uint32_t page) {
  uint8_t b[4];
  file_.read(4, b, 4);
  uint8_t pagebuf[kPageSize] = {};
  std::memcpy(pagebuf, b, 4);
  write_page(page, pagebuf);
  patch32(4, page);
}

void CdxFile::free_tree(uint32_t root, int key_length) {
  std::vector<std::pair<uint32_t, int>> todo{{root, 0}};
  std::vector<uint32_t> pages;
  while (!todo.empty()) {
    auto [page, depth] = todo.back();
    todo.pop_back();
    if (depth > kMaxDepth) damaged("pętla w drzewie znacznika");
    auto n = node(page, key_length, KeyType::Character);
    pages.push_back(page);
    if (!n->leaf())
      for (const Entry& e : n->entries) todo.push_back({e.child, depth + 1});
  }
  std::sort(pages.begin(), pages.end());
  if (std::adjacent_find(pages.begin(), pages.end()) != pages.end()) damaged("strona należy do drzewa dwa razy");
  for (uint32_t p : pages) free_page(p);
}

void CdxFile::all_or_nothing(const std::function<void()>& change, bool sync) {
  file_.begin_undo();
  try {
    change();
    if (sync) file_.flush();
    file_.commit_undo();
  } catch (...) {
    // Every byte goes back as it was, so a failure anywhere leaves the file unchanged.
    file_.rollback_undo();
    cache_.clear();
    ++generation_;
    try {
      load_directory();
    } catch (...) {
    }
    throw;
  }
}

Tag& CdxFile::create_tag(const std::string& name, const std::string& expression, KeyType type, int key_length,
                         bool descending, bool unique, KeyStream& sorted, uint32_t max_recno, bool sync) {
  if (!file_.writable()) throw IndexError("Plik indeksu otwarty tylko do odczytu: " + path());
  if (name.empty() || name.size() > size_t(kDirectoryKeyLength)) throw IndexError("Nieprawidłowa nazwa znacznika: " + name);
  if (key_length <= 0 || key_length > kMaxKeyLength) throw IndexError("Nieprawidłowa długość klucza w znaczniku " + name);
  all_or_nothing([&] { build_tag(name, expression, type, key_length, descending, unique, sorted, max_recno); }, sync);
  Tag* t = find_tag(name);
  t->set_key_type(type);
  return *t;
}

void CdxFile::build_tag(const std::string& name, const std::string& expression, KeyType type, int key_length,
                        bool descending, bool unique, KeyStream& sorted, uint32_t max_recno) {
  const size_t kl = size_t(key_length);
  // The header takes two adjacent pages; the tree takes free pages first.
  const uint32_t header_off = allocate_header_pages();
  uint8_t hb[kHeaderSize] = {};
  file_.write(header_off, hb, kHeaderSize);  // reserved until the tree is done
  // Pages come from the free list while it has some; past the end of the file they
  // are numbered in order and written in long runs.
  uint8_t head[4];
  file_.read(4, head, 4);
  const bool free_list_empty = (head[0] | head[1] | head[2] | head[3]) == 0 ||
                               (head[0] & head[1] & head[2] & head[3]) == 0xFF;
  uint64_t end = file_.size();
  end += (kPageSize - end % kPageSize) % kPageSize;
  std::vector<uint8_t> run;
  uint64_t run_start = 0;
  auto flush_run = [&]() {
    if (!run.empty()) file_.write(run_start, run.data(), run.size());
    run.clear();
  };
  auto take_page = [&]() -> uint32_t {
    if (!free_list_empty) return allocate_page();
    if (end + kPageSize > 0xFFFFFE00ull) throw IndexError("Plik indeksu przekroczył 4 GB: " + path());
    uint32_t p = uint32_t(end);
    end += kPageSize;
    return p;
  };
  auto put_page = [&](uint32_t page, const uint8_t* bytes) {
    if (free_list_empty && !run.empty() && page == run_start + run.size() && run.size() < (1u << 20)) {
      run.insert(run.end(), bytes, bytes + kPageSize);
      return;
    }
    flush_run();
    if (free_list_empty && page >= file_.size()) {
      run_start = page;
      run.assign(bytes, bytes + kPageSize);
      return;
    }
    file_.write(page, bytes, kPageSize);
  };
  uint32_t next_page = take_page();

  std::vector<Entry> level;  // the parent entries of the pages written
  uint8_t buf[kPageSize];
  // Every leaf is filled as if its record numbers took the widest fields of the tag, so
  // the pages do not depend on where the large record numbers fall.
  const LeafLayout lay = leaf_layout(key_length, max_recno);
  LeafPacker leaf(key_length, type);
  uint32_t last_leaf = kNoPage;
  std::string key, last;
  uint32_t recno = 0, last_recno = 0;
  auto flush_leaf = [&](bool final_leaf) {
    uint32_t page = next_page;
    next_page = take_page();
    const uint16_t attr = (final_leaf && last_leaf == kNoPage) ? (kAttrRoot | kAttrLeaf) : kAttrLeaf;
    const bool empty = leaf.count() == 0;
    leaf.write(attr, last_leaf, final_leaf ? kNoPage : next_page, buf);
    put_page(page, buf);
    if (!empty) level.push_back({last, last_recno, page});
    else level.push_back({std::string(kl, key_pad(type)), 0, page});
    last_leaf = page;
  };
  bool first = true;
  const bool trusted = sorted.ordered();
  while (sorted.next(key, recno)) {
    if (key.size() != kl) key.resize(kl, key_pad(type));
    if (!first && !trusted) {
      const int c = compare_keys(type, key, last);
      if (unique && c == 0) continue;
      if (c < 0) throw IndexError("Klucze do budowy znacznika nie są uporządkowane");
    } else if (!first && unique && key == last) {
      continue;  // the collation is a permutation: equal keys are equal bytes
    }
    if (recno > lay.recno_mask) throw IndexError("Numer rekordu poza zakresem budowy znacznika");
    const uint8_t* k = reinterpret_cast<const uint8_t*>(key.data());
    if (!leaf.add(k, recno, lay.entry_bytes)) {
      flush_leaf(false);
      if (!leaf.add(k, recno, lay.entry_bytes)) throw IndexError("Klucz nie mieści się na stronie indeksu");
    }
    last.swap(key);
    last_recno = recno;
    first = false;
  }
  if (!first || level.empty()) flush_leaf(true);
  // Interior levels, each as full as a page holds, until one page is left.
  uint32_t root;
  if (level.size() == 1) {
    root = level[0].child;
  } else {
    const size_t cap = interior_capacity(key_length);
    while (level.size() > 1) {
      std::vector<Entry> upper;
      uint32_t left = kNoPage;
      size_t pages = (level.size() + cap - 1) / cap;
      // Spread the entries evenly so the last page is not nearly empty.
      size_t per = (level.size() + pages - 1) / pages;
      for (size_t i = 0; i < level.size(); i += per) {
        Node n;
        n.attr = 0;
        size_t stop = std::min(level.size(), i + per);
        n.entries.assign(level.begin() + long(i), level.begin() + long(stop));
        uint32_t page = next_page;
        n.left = left;
        if (stop != level.size()) next_page = take_page();
        n.right = stop == level.size() ? kNoPage : next_page;
        if (pages == 1) n.attr = kAttrRoot;
        encode_interior(n, key_length, buf);
        put_page(page, buf);
        upper.push_back({n.entries.back().key, n.entries.back().recno, page});
        left = page;
      }
      level = std::move(upper);
      if (level.size() > 1) next_page = take_page();
    }
    root = level[0].child;
  }
  flush_run();
  // The page taken for a leaf that never came: beyond the end it was never written.
  if (root != next_page && !free_list_empty) free_page(next_page);
  TagHeader h;
  h.root = root;
  h.key_length = uint16_t(key_length);
  h.options = uint8_t(kOptCompact | kOptCompound | (unique ? kOptUnique : 0));
  h.descending = descending;
  h.expression = expression;
  encode_header(h, hb);
  file_.write(header_off, hb, kHeaderSize);
  file_.flush();
  cache_.clear();

  // The finished tag enters the directory before the one it replaces leaves it: a
  // crash in between leaves two entries of the name (readers take the older one),
  // never none. The old tag's pages then go to the free list.
  std::string dkey = tag_directory_key(name);
  Tag* old = find_tag(name);
  uint32_t old_off = old ? old->header_offset() : 0;
  uint32_t old_root = old ? old->header().root : 0;
  int old_kl = old ? old->key_length() : 0;
  std::string old_key = old ? tag_directory_key(old->name()) : std::string();
  directory_->insert(dkey, header_off);
  if (old) {
    directory_->remove(old_key, old_off);
    free_tree(old_root, old_kl);
    free_page(old_off);
    free_page(old_off + kPageSize);
  }
  file_.flush();
  load_directory();
}

void CdxFile::delete_tag(std::string_view name) {
  Tag* old = find_tag(name);
  if (!old) return;
  uint32_t off = old->header_offset(), root = old->header().root;
  int kl = old->key_length();
  std::string key = tag_directory_key(old->name());
  all_or_nothing([&] {
    directory_->remove(key, off);
    free_tree(root, kl);
    free_page(off);
    free_page(off + kPageSize);
    load_directory();
  }, true);
}

}  // namespace zuv::table::cdx
