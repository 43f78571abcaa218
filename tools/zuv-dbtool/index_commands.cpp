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
#include "platform/os/path.h"
#include "platform/table/csv_text.h"
#include "platform/table/order.h"
#include "platform/table/table.h"

namespace zuv::dbtool {
namespace {

using namespace zuv::table;

std::string default_index(const std::string& dbf) {
  auto dot = dbf.find_last_of('.');
  auto slash = dbf.find_last_of("/\\");
  std::string base = (dot != std::string::npos && (slash == std::string::npos || dot > slash)) ? dbf.substr(0, dot) : dbf;
  return base + ".cdx";
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

// A search value for the tag's key type, from the text the operator typed (UTF-8);
// false (with why) when the text is not a key of that type.
bool key_value(Table& t, const std::string& text, Value& out, std::string& why) {
  auto* o = dynamic_cast<CdxOrder*>(t.controlling_order());
  KeyType type = o ? o->expression().key_type() : KeyType::Character;
  std::string trimmed = text;
  while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
  while (!trimmed.empty() && trimmed.front() == ' ') trimmed.erase(0, 1);
  switch (type) {
    case KeyType::Numeric: {
      double d = 0;
      if (!parse_plain_number(trimmed, d)) {
        why = "klucz \"" + text + "\" nie jest liczbą (znacznik liczbowy)";
        return false;
      }
      out = Value::of_number(d);
      return true;
    }
    case KeyType::Date: {
      std::string ymd;
      if (!parse_iso_date(trimmed, ymd)) {
        why = "klucz \"" + text + "\" nie jest datą RRRR-MM-DD (znacznik dat)";
        return false;
      }
      out = Value::of_date(ymd);
      return true;
    }
    case KeyType::Logical: {
      std::string u = trimmed.size() == 1 ? std::string(1, char(std::toupper(static_cast<unsigned char>(trimmed[0])))) : trimmed;
      if (u != "T" && u != "F" && u != "Y" && u != "N") {
        why = "klucz \"" + text + "\" nie jest wartością logiczną T, F, Y lub N";
        return false;
      }
      out = Value::of_logical(u == "T" || u == "Y");
      return true;
    }
    default:
      if (!valid_utf8(text)) {
        why = "klucz nie jest poprawnym tekstem UTF-8";
        return false;
      }
      out = Value::of_text(os::cp852_from_utf8(text));
      return true;
  }
}

}  // namespace

std::function<int()> register_index_commands(CLI::App& app) {
  struct State {
    std::string file, tag, expr, cdx, order, key;
  };
  auto s = std::make_shared<State>();
  auto* index = app.add_subcommand("index", "utwórz lub zastąp znacznik indeksu");
  index->add_option("file", s->file, "plik tabeli (.dbf)")->required();
  index->add_option("tag", s->tag, "nazwa znacznika")->required();
  index->add_option("expr", s->expr, "wyrażenie klucza")->required();
  index->add_option("--cdx", s->cdx, "plik indeksu (domyślnie .cdx tabeli; .ntx: indeks jednokluczowy)");
  auto* seek = app.add_subcommand("seek", "znajdź rekord po kluczu");
  seek->add_option("file", s->file, "plik tabeli (.dbf)")->required();
  seek->add_option("key", s->key, "szukany klucz (liczba: z kropką lub przecinkiem; data: RRRR-MM-DD)")->required();
  seek->add_option("--order", s->order, "znacznik, w którym szukać")->required();
  seek->add_option("--cdx", s->cdx, "plik indeksu (domyślnie .cdx tabeli)");
  CLI::App* dump = nullptr;
  try {
    dump = app.get_subcommand("dump");
    dump->add_option("--order", s->order, "kolejność znacznika");
    dump->add_option("--cdx", s->cdx, "plik indeksu (domyślnie .cdx tabeli)");
  } catch (const CLI::OptionNotFound&) {
    dump = nullptr;
  }
  return [s, index, seek, dump]() -> int {
    if (*index) {
      auto t = open(s->file, false);
      if (!t) return 1;
      std::string target = s->cdx.empty() ? default_index(s->file) : s->cdx;
      if (!ORDCREATE(*t, target, s->tag, s->expr)) return 1;
      // The table's own compound index is its structural one: header byte 28 says so.
      bool structural = s->cdx.empty() || os::native_path(target) == os::native_path(default_index(s->file));
      if (structural && !(t->table_flags() & 0x01) && !t->set_table_flags(t->table_flags() | 0x01)) return 1;
      t->close();
      return 0;
    }
    if (*seek) {
      auto t = open_in_order(s->file, s->cdx, s->order);
      if (!t) return 1;
      Value key;
      std::string why;
      if (!key_value(*t, s->key, key, why)) {
        std::fprintf(stderr, "zuv-dbtool: %s\n", why.c_str());
        return 1;
      }
      bool found = t->seek(key, true);
      std::string out = csv_header(*t);
      if (!t->eof()) out += csv_record(*t);
      std::fwrite(out.data(), 1, out.size(), stdout);
      if (!found) std::fprintf(stderr, "zuv-dbtool: nie znaleziono klucza%s\n", t->eof() ? "" : " (pokazano następny)");
      return found ? 0 : 3;
    }
    if (dump && *dump && !s->order.empty()) {
      auto t = open_in_order(dump->get_option("file")->as<std::string>(), s->cdx, s->order);
      if (!t) return 1;
      // Deleted records are shown only when asked for, as in the natural order.
      const bool with_deleted = dump->get_option("--deleted")->as<bool>();
      static Settings settings;
      settings = t->settings();
      settings.deleted_hidden = !with_deleted;
      t->set_settings(&settings);
      std::string out = csv_header(*t);
      for (t->go_top(); !t->eof(); t->skip()) {
        if (t->deleted() && !with_deleted) continue;
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
