// The firm index rebuild: on a firm directory holding the catalogue's tables (made with
// the fields their keys need) every tag is built and reads back complete; missing
// tables are skipped; an index that cannot be deleted answers 2.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>

#include "lib/files.h"
#include "lib/text.h"
#include <map>
#include "platform/os/fault.h"
#include "platform/os/file_handle.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "platform/table/cdx.h"
#include "platform/table/order.h"
#include "platform/error/error.h"
#include "tables/catalogue.h"
#include "tables_fixture.h"

namespace zuv::tables::testing {
namespace {

namespace fs = std::filesystem;
using table::Value;

// The fields a tag list reads: dates inside dtos(), numbers inside strzero(), texts
// elsewhere.
table::Structure fields_for(const TagList& tags) {
  std::map<std::string, char> types;
  std::regex word("([A-Za-z_][A-Za-z0-9_]*)\\s*(\\()?");
  for (const auto& [tag, key] : tags) {
    std::string context;
    for (auto it = std::sregex_iterator(key.begin(), key.end(), word); it != std::sregex_iterator(); ++it) {
      std::string w = lib::upper_ascii((*it)[1].str());
      if ((*it)[2].matched) {
        context = w;
        continue;
      }
      char type = context == "DTOS" ? 'D' : context == "STRZERO" ? 'N' : 'C';
      if (!types.count(w) || type != 'C') types[w] = type;
      context.clear();
    }
  }
  table::Structure s;
  for (auto [name, type] : types)
    s.push_back({name, type, type == 'D' ? 8 : type == 'N' ? 4 : 6, 0});
  s.push_back({"UWAGI", 'M', 10, 0});
  return s;
}

class Catalogue : public TablesTest {
 protected:
  // A catalogue table with n records of varied keys, one in four marked deleted.
  void make_catalogue_table(const CatalogueEntry& e, int n) {
    table::Structure s = fields_for(e.tags);
    std::string path = file(e.name + ".dbf");
    ASSERT_TRUE(table::Table::create(path, s)) << e.name;
    table::OpenOptions o;
    o.path = path;
    auto t = table::Table::open(o);
    ASSERT_TRUE(t);
    for (int i = 0; i < n; ++i) {
      ASSERT_TRUE(t->append());
      for (int f = 0; f < t->field_count(); ++f) {
        char type = s[f].type;
        int v = (i * 7919 + f * 31) % 97;
        if (type == 'D') {
          EXPECT_TRUE(t->put(f, Value::of_date("2026" + std::string(v % 12 < 9 ? "0" : "") +
                                               std::to_string(v % 12 + 1) + "15")));
        }
        if (type == 'N') {
          EXPECT_TRUE(t->put(f, Value::of_number(v % 12 + 1)));
        }
        if (type == 'C') {
          EXPECT_TRUE(t->put(f, Value::of_text(std::string(1, "A\xA4Zb\x86 "[v % 6]) + std::to_string(v))));
        }
        if (type == 'M') {
          EXPECT_TRUE(t->put(f, Value::of_memo("m" + std::to_string(i))));
        }
      }
      if (i % 4 == 3) {
        EXPECT_TRUE(t->remove());
      }
    }
    ASSERT_TRUE(t->commit());
  }
  void make_status_table() {
    ASSERT_TRUE(table::Table::create(file("ntx.dbf"), {{"NAZWA", 'C', 8, 0}, {"OK", 'L', 1, 0}}));
    table::OpenOptions o;
    o.path = file("ntx.dbf");
    auto t = table::Table::open(o);
    for (int i = 0; i < 3; ++i) {
      EXPECT_TRUE(t->append());
      EXPECT_TRUE(t->put(1, Value::of_logical(false)));
      if (i == 1) {
        EXPECT_TRUE(t->remove());
      }
    }
    EXPECT_TRUE(t->commit());
  }
  bool status_all_true() {
    table::OpenOptions o;
    o.path = file("ntx.dbf");
    auto t = table::Table::open(o);
    bool all = t->record_count() == 3;
    for (std::uint32_t r = 1; r <= t->record_count(); ++r) {
      t->go_to(r);
      all = all && t->get(1).logical;
    }
    return all;
  }
  // Tags, expressions and key counts as the compound file holds them.
  void expect_index(const CatalogueEntry& e, std::uint32_t records) {
    SCOPED_TRACE(e.name);
    auto cdx = table::cdx::CdxFile::open(os::native_path(file(e.name + ".cdx")), false);
    ASSERT_EQ(cdx->tag_count(), e.tags.size());
    for (size_t i = 0; i < e.tags.size(); ++i) {
      auto& tag = cdx->tag(i);
      EXPECT_EQ(lib::upper_ascii(tag.name()), lib::upper_ascii(e.tags[i].first));
      EXPECT_EQ(tag.header().expression, e.tags[i].second);
      table::cdx::Cursor c;
      std::uint32_t keys = 0;
      for (bool ok = tag.first(c); ok; ok = tag.next(c)) ++keys;
      EXPECT_EQ(keys, records);
    }
  }
};

// What the format and the rebuild need of every entry: a tag name a compound index can
// hold, no tag given twice in one file (the second would replace the first), no table
// rebuilt twice, nothing both deleted and indexed, a condition on the entry's own table.
TEST_F(Catalogue, EveryEntryIsOneTheRebuildCanCarryOut) {
  std::set<std::string> indexed, deleted;
  for (const auto& e : firm_catalogue()) {
    if (e.kind == CatalogueEntry::Delete) {
      EXPECT_TRUE(deleted.insert(e.name).second) << e.name;
      continue;
    }
    EXPECT_TRUE(indexed.insert(e.name).second) << e.name << " is rebuilt twice";
    EXPECT_FALSE(e.tags.empty()) << e.name;
    std::set<std::string> tags;
    for (const auto& [tag, key] : e.tags) {
      EXPECT_LE(tag.size(), 10u) << e.name;
      EXPECT_FALSE(key.empty()) << e.name << " " << tag;
      EXPECT_TRUE(tags.insert(tag).second) << e.name << " has tag " << tag << " twice";
    }
    if (!e.condition.empty()) {
      EXPECT_EQ(e.condition, e.name + ".dbf");
    }
  }
  for (const std::string& name : deleted) {
    const std::string table = name.substr(0, name.rfind('.'));
    EXPECT_FALSE(name.ends_with(".cdx") && indexed.count(table)) << name << " is deleted and indexed";
  }
}

TEST_F(Catalogue, FirmRebuildBuildsEveryTagSkipsMissingTablesAndMarksTheStatus) {
  fs::create_directories(fs::u8path(os_file("klient")));
  std::set<std::string> missing = {"workus", "v_p", "sld_buff"};
  std::map<std::string, int> sizes;
  int i = 0;
  for (const auto& e : firm_catalogue()) {
    if (e.kind != CatalogueEntry::Index || missing.count(e.name)) continue;
    int n = (i++ % 5) * 3;  // empty tables too
    make_catalogue_table(e, n);
    sizes[e.name] = n;
  }
  make_status_table();
  for (const char* f : {"dsto.dbf", "dsto.lpp", "wh.dbf", "obca.cdx", "v_p.cdx"})
    zuv::testing::table_write_bytes(os_file(f), "x");
  FirmIndexReport report = INDEKSUJ(areas, dir);
  EXPECT_TRUE(report.status_marked);
  EXPECT_TRUE(status_all_true());
  EXPECT_TRUE(areas.aliases().empty());
  for (const char* f : {"dsto.dbf", "dsto.lpp", "wh.dbf", "obca.cdx", "v_p.cdx"})
    EXPECT_FALSE(fs::exists(fs::u8path(os_file(f)))) << f;
  for (const auto& item : report.items) {
    if (item.result == -2) continue;
    if (item.name == "sld_buff" || item.name == "p_ald") {
      EXPECT_EQ(item.result, item.name == "p_ald" ? 0 : -1);
      continue;
    }
    EXPECT_EQ(item.result, missing.count(item.name) ? 1 : 0) << item.name;
  }
  for (const auto& e : firm_catalogue())
    if (e.kind == CatalogueEntry::Index && sizes.count(e.name)) expect_index(e, sizes[e.name]);
  EXPECT_TRUE(fs::exists(fs::u8path(os_file("klient")) / "klient.cdx"));

  // The independent checker, when it is built, finds the whole directory clean.
  std::string checker = zuv::testing::table_tool_path("zuv-dbcheck");
  if (!checker.empty()) {
    std::string out;
    EXPECT_EQ(zuv::testing::table_run({checker, scratch.path()}, &out), 0) << out;
  }
}

TEST_F(Catalogue, IndexThatCannotBeDeletedAnswersTwoAndStays) {
  const TagList tags = {{"lpp", "nazwa"}, {"nr", "str(nr,8,0)+nazwa"}};
  make_table("karta.dbf", 20);
  ASSERT_EQ(INDEXON(areas, file("karta"), tags), kIndexBuilt);
  std::string built = zuv::testing::table_read_bytes(os_file("karta.cdx"));
  {
    os::FileHandle held;
    ASSERT_EQ(held.open(os::native_path(file("karta.cdx")), os::Access::ReadWrite, os::Share::Exclusive), 0);
    EXPECT_EQ(INDEXON(areas, file("karta"), tags), kIndexNotDeleted);
  }
  {
    // Built from scratch, as after a change to the table.
    forget_built_indexes();
    os::fault::Scope scope;
    os::fault::arm_from(os::fault::Op::Delete, 1, 5);
    EXPECT_EQ(INDEXON(areas, file("karta"), tags), kIndexNotDeleted);
  }
  EXPECT_EQ(zuv::testing::table_read_bytes(os_file("karta.cdx")), built);
  EXPECT_GE(paused_cs, 2 * 20 * 10);
  // A read-only index is cleared and rebuilt.
  ASSERT_TRUE(os::change_attributes(file("karta.cdx"), "+R"));
  EXPECT_EQ(INDEXON(areas, file("karta"), tags), kIndexBuilt);
  EXPECT_EQ(INDEXON(areas, file("brak"), tags), kIndexNotBuilt);
  EXPECT_TRUE(areas.aliases().empty());
}

// A later step's build with the same tags, of a table and an index nothing touched
// since, is left out; a record changed, other tags or the index held by another and the
// build runs as it always does.
TEST_F(Catalogue, AnIndexAskedForAgainUnchangedIsLeftAsItWas) {
  const TagList tags = {{"lpp", "nazwa"}, {"nr", "str(nr,8,0)+nazwa"}};
  make_table("karta.dbf", 20);
  ASSERT_EQ(INDEXON(areas, file("karta"), tags), kIndexBuilt);
  const std::string built = zuv::testing::table_read_bytes(os_file("karta.cdx"));
  {
    // Neither a deletion nor a write could happen here.
    os::fault::Scope scope;
    os::fault::arm_from(os::fault::Op::Delete, 1, 5);
    os::fault::arm_from(os::fault::Op::Write, 1, 112);
    EXPECT_EQ(INDEXON(areas, file("karta"), tags), kIndexBuilt);
  }
  EXPECT_EQ(zuv::testing::table_read_bytes(os_file("karta.cdx")), built);

  {
    table::OpenOptions o;
    o.path = file("karta.dbf");
    auto t = table::Table::open(o);
    ASSERT_TRUE(t && t->go_to(4));
    ASSERT_TRUE(t->put(1, Value::of_text("aaa pierwsza")));
    ASSERT_TRUE(t->commit());
  }
  ASSERT_EQ(INDEXON(areas, file("karta"), tags), kIndexBuilt);
  const std::string rebuilt = zuv::testing::table_read_bytes(os_file("karta.cdx"));
  EXPECT_NE(rebuilt, built);
  EXPECT_NE(rebuilt.find("aaa pierwsza"), std::string::npos);

  const TagList fewer = {{"lpp", "nazwa"}};
  ASSERT_EQ(INDEXON(areas, file("karta"), fewer), kIndexBuilt);
  EXPECT_LT(zuv::testing::table_read_bytes(os_file("karta.cdx")).size(), rebuilt.size());
  {
    os::FileHandle held;
    ASSERT_EQ(held.open(os::native_path(file("karta.cdx")), os::Access::ReadWrite, os::Share::Exclusive), 0);
    EXPECT_EQ(INDEXON(areas, file("karta"), fewer), kIndexNotDeleted);
  }
  EXPECT_TRUE(areas.aliases().empty());
}

TEST_F(Catalogue, HeldTableOrBadKeyAnswersOneAndLeavesNothingOpen) {
  make_table("karta.dbf", 5);
  {
    table::OpenOptions o;
    o.path = file("karta.dbf");
    o.shared = true;
    auto holder = table::Table::open(o);
    paused_cs = 0;
    EXPECT_EQ(INDEXON(areas, file("karta"), {{"lpp", "nazwa"}}), kIndexNotBuilt);
    EXPECT_EQ(paused_cs, 11 * 5);
  }
  EXPECT_EQ(INDEXON(areas, file("karta"), {{"lpp", "nazwa"}, {"zly", "brak_pola"}}), kIndexNotBuilt);
  EXPECT_TRUE(areas.aliases().empty());
  // A stale work area under the working name is closed; the fallback name serves.
  make_table("stara.dbf", 1, false);
  ASSERT_TRUE(OTWORZ(areas, dir, "stara", "roboczy"));
  EXPECT_EQ(INDEXON(areas, file("karta"), {{"lpp", "nazwa"}}), kIndexBuilt);
  EXPECT_FALSE(areas.find("roboczy"));
  EXPECT_TRUE(areas.aliases().empty());
}

// All tags come from one pass over the table, into the very file that building them
// one by one gives; a key that cannot be built still leaves the tags before it.
TEST_F(Catalogue, TagsBuiltTogetherMatchTagsBuiltOneByOne) {
  const TagList tags = {{"lpp", "nazwa"}, {"nr", "str(nr,8,0)+nazwa"}, {"nrm", "descend(nr)"}};
  make_table("karta.dbf", 300);
  ASSERT_EQ(INDEXON(areas, file("karta"), tags), kIndexBuilt);
  const std::string together = zuv::testing::table_read_bytes(os_file("karta.cdx"));
  EXPECT_TRUE(lib::DEL_FILE(file("karta.cdx")));
  {
    table::OpenOptions o;
    o.path = file("karta.dbf");
    auto t = table::Table::open(o);
    ASSERT_TRUE(t);
    table::BuildOptions options;
    options.sync_each_tag = false;
    for (const auto& tag : tags) {
      ASSERT_TRUE(table::ORDCREATE(*t, file("karta.cdx"), tag.first, tag.second, options));
    }
    t->close();
  }
  EXPECT_EQ(zuv::testing::table_read_bytes(os_file("karta.cdx")), together);

  EXPECT_EQ(INDEXON(areas, file("karta"), {{"lpp", "nazwa"}, {"zly", "brak_pola"}, {"nr", "nr"}}), kIndexNotBuilt);
  auto f = table::cdx::CdxFile::open(os_file("karta.cdx"), false);
  ASSERT_EQ(f->tag_count(), 1u);
  EXPECT_EQ(f->tag(0).name(), "LPP");
  EXPECT_TRUE(areas.aliases().empty());
}

// A firm whose status table is missing would keep stale flags: the rebuild raises so
// the upgrade's per-firm trap reports the firm, and the indexes are built all the same.
TEST_F(Catalogue, FirmRebuildWithoutStatusTableRaises) {
  const auto& first = *std::find_if(firm_catalogue().begin(), firm_catalogue().end(),
                                    [](const auto& e) { return e.kind == CatalogueEntry::Index && e.condition.empty(); });
  make_catalogue_table(first, 3);
  std::string failed_file;
  try {
    zuv::GuardedBlock guard;
    INDEKSUJ(areas, dir);
  } catch (const zuv::Break& b) {
    failed_file = b.record.fileName;
  }
  EXPECT_EQ(failed_file, dir + "ntx.dbf");
  EXPECT_TRUE(fs::exists(fs::u8path(os_file(first.name + ".cdx"))));
  EXPECT_TRUE(areas.aliases().empty());
}

}  // namespace
}  // namespace zuv::tables::testing
