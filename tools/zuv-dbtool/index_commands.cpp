// The index commands of zuv-dbtool:
//   index FILE.dbf TAG "EXPR" [--cdx FILE.cdx]   build (or replace) a tag; FILE.ntx for a
//                                                single-key file
//   dump FILE.dbf --order TAG [--cdx FILE.cdx]   records as CSV in the tag's order
//   seek FILE.dbf --order TAG KEY [--cdx ...]     the record a key search finds
// register_index_commands() adds them to the tool's parser; the runner it answers
// returns -1 when none of them was asked for.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <functional>
#include <string>

#include "platform/os/codepage.h"
#include "platform/base/text.h"
#include "platform/table/csv_text.h"
#include "platform/table/order.h"
#include "platform/table/table.h"

namespace zuv::dbtool {
namespace {

using namespace zuv::table;

std::string default_index(const std::string& dbf) {
  return base::with_extension(dbf, "cdx");
}

std::unique_ptr<Table> open(const std::string& file, bool read_only) {
  OpenOptions o;
  o.path = file;
  o.read_only = read_only;
  return Table::open(o);
}

// Opens the table with the index and focuses the tag; nullptr after a raised error.
std::unique_ptr<Table> open_in_order(const std::string& file, const std::string& cdx, const std::string& tag) {
  auto t = open(file, true);
  if (!t) return nullptr;
  if (!ORDLISTADD(*t, cdx.empty() ? default_index(file) : cdx)) return nullptr;
  if (!t->set_order_focus(tag)) {
    std::fprintf(stderr, "zuv-dbtool: brak znacznika %s\n", tag.c_str());
    return nullptr;
  }
  return t;
}

// A search value for the tag's key type, from the text the operator typed (UTF-8).
Value key_value(Table& t, const std::string& text) {
  auto* o = dynamic_cast<CdxOrder*>(t.controlling_order());
  KeyType type = o ? o->expression().key_type() : KeyType::Character;
  switch (type) {
    case KeyType::Numeric:
      return Value::of_number(std::stod(text));
    case KeyType::Date: {
      std::string d;
      for (char c : text) {
        if (c >= '0' && c <= '9') d += c;
      }
      return Value::of_date(d);
    }
    case KeyType::Logical:
      return Value::of_logical(!text.empty() && (text[0] == 'T' || text[0] == 't'));
    default:
      return Value::of_text(os::cp852_from_utf8(text));
  }
}

}  // namespace

std::function<int()> register_index_commands(CLI::App& app) {
  struct State {
    std::string file, tag, expr, cdx, order, key;
  };
  auto s = std::make_shared<State>();
  auto* index = app.add_subcommand("index", "utwórz lub zastąp znacznik indeksu");
  index->add_option("file", s->file)->required();
  index->add_option("tag", s->tag)->required();
  index->add_option("expr", s->expr)->required();
  index->add_option("--cdx", s->cdx, "plik indeksu (domyślnie .cdx tabeli; .ntx: indeks jednokluczowy)");
  auto* seek = app.add_subcommand("seek", "znajdź rekord po kluczu");
  seek->add_option("file", s->file)->required();
  seek->add_option("key", s->key)->required();
  seek->add_option("--order", s->order)->required();
  seek->add_option("--cdx", s->cdx);
  CLI::App* dump = nullptr;
  try {
    dump = app.get_subcommand("dump");
    dump->add_option("--order", s->order, "kolejność znacznika");
    dump->add_option("--cdx", s->cdx);
  } catch (const CLI::OptionNotFound&) {
    dump = nullptr;
  }
  return [s, index, seek, dump]() -> int {
    if (*index) {
      auto t = open(s->file, false);
      if (!t) return 1;
      std::string target = s->cdx.empty() ? default_index(s->file) : s->cdx;
      if (!ORDCREATE(*t, target, s->tag, s->expr)) return 1;
      t->close();
      return 0;
    }
    if (*seek) {
      auto t = open_in_order(s->file, s->cdx, s->order);
      if (!t) return 1;
      bool found = t->seek(key_value(*t, s->key), true);
      std::string out = csv_header(*t);
      if (!t->eof()) out += csv_record(*t);
      std::fwrite(out.data(), 1, out.size(), stdout);
      if (!found) std::fprintf(stderr, "zuv-dbtool: nie znaleziono klucza%s\n", t->eof() ? "" : " (pokazano następny)");
      return found ? 0 : 3;
    }
    if (dump && *dump && !s->order.empty()) {
      auto t = open_in_order(dump->get_option("file")->as<std::string>(), s->cdx, s->order);
      if (!t) return 1;
      std::string out = csv_header(*t);
      for (t->go_top(); !t->eof(); t->skip()) {
        out += csv_record(*t);
        if (out.size() > (1u << 20)) {
          std::fwrite(out.data(), 1, out.size(), stdout);
          out.clear();
        }
      }
      std::fwrite(out.data(), 1, out.size(), stdout);
      return 0;
    }
    return -1;
  };
}

}  // namespace zuv::dbtool
