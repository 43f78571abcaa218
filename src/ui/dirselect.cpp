// QMXDIRSELECT, the directory chooser: its tree of drives and directories and the rules
// for creating, renaming and deleting in it.
#include "ui/dirselect.h"

#include <algorithm>

#include "lib/text.h"
#include "platform/os/unicode.h"

namespace zuv::ui {

namespace {

// Position in the Polish alphabet of an upper-cased letter, or 0.
int letter_weight(char32_t c) {
  static const char32_t alphabet[] = U"AĄBCĆDEĘFGHIJKLŁMNŃOÓPQRSŚTUVWXYZŹŻ";
  for (int i = 0; alphabet[i]; ++i)
    if (alphabet[i] == c) return 1000 + i;
  return 0;
}

// Upper case as the chooser's comparisons see it: Polish letters and ASCII.
std::u32string folded(const std::string& s) {
  std::u32string out = os::decode_utf8(s, true);
  for (char32_t& c : out) c = upper_pl(c);
  return out;
}

std::string upper(const std::string& s) {
  std::string out;
  for (char32_t c : folded(s)) os::append_utf8(out, c);
  return out;
}

bool is_drive_root(const std::string& path) {
  // "C:\" and the host's "/" alike.
  return (path.size() == 3 && path[1] == ':' && path[2] == '\\') || path == "/";
}

std::string with_slash(std::string p) {
  if (p.empty() || (p.back() != '\\' && p.back() != '/')) p += '\\';
  return p;
}

}  // namespace

bool collate_less(const std::string& a, const std::string& b) {
  std::u32string x = folded(a), y = folded(b);
  size_t n = std::min(x.size(), y.size());
  for (size_t i = 0; i < n; ++i) {
    if (x[i] == y[i]) continue;
    int wx = letter_weight(x[i]), wy = letter_weight(y[i]);
    long long kx = wx ? wx : static_cast<long long>(x[i]) < 'A' ? x[i] : 2000 + x[i];
    long long ky = wy ? wy : static_cast<long long>(y[i]) < 'A' ? y[i] : 2000 + y[i];
    return kx < ky;
  }
  return x.size() < y.size();
}

DirChooser::DirChooser(DirFs& fs, MessageDialog& msg, EntryAsk ask, std::function<void()> tone)
    : fs_(fs), msg_(msg), ask_(std::move(ask)), tone_(std::move(tone)) {}

void DirChooser::create() {
  drives_.clear();
  for (auto& [root, type] : fs_.drives()) {
    auto d = std::make_unique<DirNode>();
    d->caption = d->path = root;
    d->image_closed = d->image_open = 2099 + type;
    drives_.push_back(std::move(d));
  }
  for (auto& d : drives_) getTree(d.get());
  marked_ = drives_.empty() ? nullptr : drives_.front().get();
  ++generation_;
}

void DirChooser::getTree(DirNode* item) {
  if (!item || item->loaded) return;
  std::vector<std::string> names = fs_.subdirs(item->path);
  names.erase(std::remove_if(names.begin(), names.end(),
                             [](const std::string& n) { return n == "." || n == ".."; }),
              names.end());
  std::sort(names.begin(), names.end(), collate_less);
  for (const auto& n : names) {
    auto c = std::make_unique<DirNode>();
    c->caption = n;
    c->path = item->path + n + "\\";
    c->parent = item;
    item->children.push_back(std::move(c));
  }
  item->loaded = true;
  ++generation_;
}

void DirChooser::getDownTree(DirNode* item) {
  if (!item) return;
  getTree(item);
  for (auto& c : item->children) getTree(c.get());
}

DirNode* DirChooser::FindDir(DirNode* under, const std::string& path) {
  const auto& list = under ? under->children : drives_;
  std::string want = upper(path);
  for (auto& c : list)
    if (upper(c->path) == want) {
      mark(c.get());
      return c.get();
    }
  return nullptr;
}

void DirChooser::StartDir(std::string path) {
  path = with_slash(path);
  std::string up = upper(path);
  std::string drive, rest;
  if (up.size() >= 2 && up[1] == ':') {
    drive = up.substr(0, 2) + "\\";
    rest = up.size() > 3 ? up.substr(3) : "";
  } else if (!up.empty() && up[0] == '/') {
    drive = "/";
    rest = up.substr(1);
  } else {
    drive = upper(fs_.current_drive_root());
    rest = up;
  }
  DirNode* node = FindDir(nullptr, drive);
  if (!node) return;
  getTree(node);
  std::string so_far = node->path;
  size_t start = 0;
  while (start < rest.size()) {
    size_t p = rest.find_first_of("\\/", start);
    if (p == std::string::npos) p = rest.size();
    std::string comp = rest.substr(start, p - start);
    start = p + 1;
    if (comp.empty()) continue;
    DirNode* next = FindDir(node, so_far + comp + "\\");
    if (!next) break;
    node = next;
    so_far = node->path;
    getDownTree(node);
    node->expanded = true;
    if (node->parent) node->parent->expanded = true;
  }
  mark(node);
}

void DirChooser::show_path(const std::string& path) {
  if (upper(edt_path_) != upper(path)) edt_path_ = path;
}

void DirChooser::mark(DirNode* item) {
  if (!item) return;
  marked_ = item;
  getTree(item);
  show_path(item->path);
}

void DirChooser::select(DirNode* item) {
  if (!item) return;
  getDownTree(item);
  item->expanded = true;
  marked_ = item;
  show_path(item->path);
  ++generation_;
}

void DirChooser::collapse(DirNode* item) {
  if (!item) return;
  item->expanded = false;
  ++generation_;
}

void DirChooser::toggle() {
  if (!marked_) return;
  if (marked_->expanded) collapse(marked_);
  else select(marked_);
}

bool DirChooser::check_kat() {
  std::string path = lib::trim(edt_path_);
  if (path.empty()) {
    msg_.ALARM("3", "Uwaga!", "Nie wybrano żadanego katalogu!");
    return false;
  }
  path = with_slash(path);
  std::string bare = path.size() > 1 ? path.substr(0, path.size() - 1) : path;
  if (!fs_.is_dir(bare.empty() ? path : bare) && !fs_.is_dir(path)) {
    if (msg_.ALARM("5", "Uwaga!", "Wprowadzony katalog nie istnieje!;Czy mam go utworzyć?") != 1)
      return false;
    for (size_t p = path.find('\\'); p != std::string::npos; p = path.find('\\', p + 1))
      if (p > 0) fs_.make_dir(path.substr(0, p));  // failures show up in the check below
    if (!fs_.is_dir(path)) {
      msg_.ALARM("3", "Błąd!", "Nie da się utworzyć katalogu o nazwie:;*" + path + "*");
      return false;
    }
  }
  edt_path_ = path;
  result_ = path;
  done_ = true;
  return true;
}

void DirChooser::cancel() {
  result_.clear();
  done_ = true;
}

bool DirChooser::KAT_JEST_OK(const std::string& name, DirNode* item, bool create_new) {
  if (create_new) return fs_.make_dir(item->path + name);
  std::string from = item->path.substr(0, item->path.size() - 1);
  std::string parent = item->parent ? item->parent->path : "";
  return fs_.rename_dir(from, parent + name);
}

void DirChooser::ZMIANA_NAZWY(DirNode* item, const std::string& old_path,
                              const std::string& new_path) {
  for (auto& c : item->children) {
    if (c->path.compare(0, old_path.size(), old_path) == 0)
      c->path = new_path + c->path.substr(old_path.size());
    ZMIANA_NAZWY(c.get(), old_path, new_path);
  }
}

void DirChooser::NodeEdit(bool create_new) {
  DirNode* item = marked_;
  if (!item) return;
  if (create_new) {
    getTree(item);
    std::string name = ask_("NowyKatalog", 100, "Nowy katalog", "Wprowadź nazwę dla nowego katalogu",
                            [&](const std::string& n) { return KAT_JEST_OK(n, item, true); });
    if (name.empty()) return;
    auto c = std::make_unique<DirNode>();
    c->caption = name;
    c->path = item->path + name + "\\";
    c->parent = item;
    c->loaded = false;
    DirNode* added = c.get();
    item->children.push_back(std::move(c));
    item->expanded = true;
    edt_path_ = added->path;
    marked_ = added;
    ++generation_;
    return;
  }
  if (is_drive_root(item->path) || item->is_drive()) {
    if (tone_) tone_();
    return;
  }
  std::string name = ask_(item->caption, 100, "Zmiana nazwy", "Wprowadź nową nazwę dla katalogu",
                          [&](const std::string& n) { return KAT_JEST_OK(n, item, false); });
  if (name.empty()) return;
  std::string old_path = item->path;
  std::string new_path = (item->parent ? item->parent->path : "") + name + "\\";
  edt_path_ = new_path;
  item->caption = name;
  item->path = new_path;
  ZMIANA_NAZWY(item, old_path, new_path);
  ++generation_;
}

void DirChooser::NodeDelete() {
  DirNode* item = marked_;
  if (!item) return;
  if (is_drive_root(item->path) || item->is_drive()) {
    msg_.ALARM("3", "Uwaga!", "Skasowanie zawartości całego dysku; nie jest możliwe!");
    return;
  }
  int a = msg_.ALARM("5", "Kasowanie katalogu",
                     "Potwierdź zamiar skasowania katalogu;" + item->caption +
                         ";oraz wszystkich podkatalogów wraz z plikami?",
                     {"Potwierdzam", "Rezygnuje"});
  if (a != 1) return;
  fs_.remove_tree(item->path);
  if (fs_.is_dir(item->path)) {
    // Something would not go: the tree keeps showing what is really left.
    item->children.clear();
    item->loaded = false;
    getTree(item);
    ++generation_;
    return;
  }
  DirNode* parent = item->parent;
  auto& sib = parent->children;
  sib.erase(std::remove_if(sib.begin(), sib.end(), [&](auto& p) { return p.get() == item; }),
            sib.end());
  mark(parent);
  ++generation_;
}

}  // namespace zuv::ui
