// The results of an upgrade as a checksum list, one line per table and per index:
//
//   bench_result_digest DATABASE_DIR [REFERENCE_LIST]
//
// A table's line sums its layout and every record in record order, deleted ones with
// their mark; an index's line sums every tag's name, expression and the record numbers
// it walks. Memo texts are in their table's records; the bytes of the files are not
// summed, so a change of how files are written (the memo file's block layout, the
// header's date, the pages of an index) keeps the list as long as the results stay.
// With a reference list, the lines that differ are printed and the exit code is 1.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "platform/error/error.h"
#include "platform/table/csv_text.h"
#include "platform/table/order.h"
#include "platform/table/table.h"

namespace fs = std::filesystem;
using namespace zuv;

namespace {

// FNV-1a, 64 bits: a list to compare by eye and by diff, not a defence.
struct Sum {
  std::uint64_t h = 1469598103934665603ull;
  void add(const std::string& s) {
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    h = (h ^ 0x0A) * 1099511628211ull;
  }
  std::string hex() const {
    char b[17];
    std::snprintf(b, sizeof b, "%016llx", static_cast<unsigned long long>(h));
    return b;
  }
};

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

std::unique_ptr<table::Table> open_shown(const fs::path& dbf, const table::Settings& shown) {
  table::OpenOptions o;
  o.path = dbf.string();
  o.read_only = true;
  auto t = table::Table::open(o);
  if (t) t->set_settings(&shown);
  return t;
}

std::string table_sum(const fs::path& dbf, const table::Settings& shown) {
  auto t = open_shown(dbf, shown);
  if (!t) return "unreadable";
  Sum s;
  s.add("flags " + std::to_string(t->table_flags()));
  for (const auto& f : t->structure())
    s.add(f.name + ":" + f.type + ":" + std::to_string(f.length) + ":" + std::to_string(f.decimals));
  const std::uint32_t n = t->record_count();
  for (std::uint32_t r = 1; r <= n; ++r) {
    t->go_to(r);
    s.add(table::csv_record(*t));
  }
  return s.hex() + " " + std::to_string(n);
}

std::string index_sum(const fs::path& dbf, const fs::path& index, const table::Settings& shown) {
  auto t = open_shown(dbf, shown);
  if (!t || !table::ORDLISTADD(*t, index.string())) return "unreadable";
  Sum s;
  for (int i = 1; i <= t->order_count(); ++i) {
    table::Order* o = t->order(i);
    std::string tag = "tag " + o->name();
    if (auto* c = dynamic_cast<table::CdxOrder*>(o)) tag += " " + c->expression().text();
    s.add(tag);
    t->set_order_focus(i);
    std::string walk;
    std::uint32_t walked = 0;
    for (t->go_top(); !t->eof() && walked <= t->record_count(); t->skip(), ++walked)
      walk += std::to_string(t->recno()) + " ";
    s.add(walk);
  }
  return s.hex() + " " + std::to_string(t->order_count());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DATABASE_DIR [REFERENCE_LIST]\n", argv[0]);
    return 2;
  }
  // A damaged file becomes its line's "unreadable", not a dialog.
  ScopedHandler breaks([](ErrorRecord&) { return HandlerAnswer::Break; });
  table::Settings shown;
  shown.deleted_hidden = false;
  const fs::path root = argv[1];
  std::map<std::string, std::string> lines;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    const std::string rel = fs::relative(e.path(), root).generic_string();
    const std::string ext = lower(e.path().extension().string());
    // The speed store's hit counts change with every run.
    if (lower(rel) == "str/nazwy.dbf") continue;
    // What the run kept for an undo is the database before it, not its result.
    if (lower(rel).rfind("cofnij/", 0) == 0) continue;
    fs::path dbf = e.path();
    dbf.replace_extension(".dbf");
    try {
      if (ext == ".dbf") lines[rel] = table_sum(e.path(), shown);
      else if ((ext == ".cdx" || ext == ".ntx") && fs::exists(dbf)) lines[rel] = index_sum(dbf, e.path(), shown);
    } catch (...) {
      lines[rel] = "unreadable";
    }
  }
  if (argc < 3) {
    for (const auto& [rel, sum] : lines) std::printf("%s %s\n", sum.c_str(), rel.c_str());
    return 0;
  }
  std::map<std::string, std::string> ref;
  std::ifstream in(argv[2]);
  for (std::string line; std::getline(in, line);) {
    std::istringstream ls(line);
    std::string h, n, rel;
    if (ls >> h >> n >> rel) ref[rel] = h + " " + n;
  }
  int differ = 0;
  for (const auto& [rel, sum] : lines)
    if (auto it = ref.find(rel); it == ref.end() || it->second != sum) {
      std::printf("differs: %s (%s, reference %s)\n", rel.c_str(), sum.c_str(),
                  it == ref.end() ? "none" : it->second.c_str());
      ++differ;
    }
  for (const auto& [rel, sum] : ref)
    if (!lines.count(rel)) {
      std::printf("missing: %s\n", rel.c_str());
      ++differ;
    }
  std::printf("results: %zu tables and indexes, %d differing from %s\n", lines.size(), differ, argv[2]);
  return differ ? 1 : 0;
}
