// The shared tables' indexes and the PIT repair.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "lib/files.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "upgrade/shared_indexes.h"
#include "upgrade/upgrade_fixture.h"

namespace zuv::upgrade::testing {
namespace {

using table::Value;

class SharedIndexes : public UpgradeTest {
 protected:
  // Every catalogue table, its fields read off the key expressions (text, dates under
  // dtos, numbers under str); the PIT tables with the fields the repair uses.
  void make_shared_tables(bool with_optional) {
    lib_mkdir_pit();
    const std::set<std::string> pit = {"fpit", "wpit", "pit_zap", "wf"};
    for (const SharedIndexEntry& e : shared_index_catalogue()) {
      if (pit.count(e.table) || (e.only_if_present && !with_optional)) continue;
      table::Structure s;
      std::set<std::string> seen;
      for (const auto& [tag, key] : e.tags) {
        std::regex ident("([a-z_][a-z0-9_]*)(\\()?");
        std::string fn;
        for (std::sregex_iterator it(key.begin(), key.end(), ident), end; it != end; ++it) {
          if ((*it)[2].matched) {
            fn = (*it)[1];
            continue;
          }
          std::string name = (*it)[1];
          char type = fn == "dtos" ? 'D' : fn == "str" ? 'N' : 'C';
          fn.clear();
          if (!seen.insert(name).second) continue;
          s.push_back({name, type, type == 'D' ? 8 : type == 'N' ? 4 : 10, 0});
        }
      }
      make_table(db + e.directory + e.table + ".dbf", s, {});
    }
  }
  void lib_mkdir_pit() {
    auto text = [](const char* s) { return Value::of_text(s); };
    auto num = [](double n) { return Value::of_number(n); };
    make_table(db + "public\\fpit.dbf",
               {{"PIT", 'C', 2, 0}, {"RMC", 'C', 6, 0}, {"NRFIR", 'C', 4, 0}, {"LPP", 'C', 6, 0},
                {"KW_ZAP", 'N', 12, 2}, {"KW_ODSETEK", 'N', 12, 2}},
               {{{"PIT", text("04")}, {"RMC", text("202601")}, {"NRFIR", text("0001")}, {"LPP", text("F1")}},
                {{"PIT", text("04")}, {"RMC", text("202601")}, {"NRFIR", text("0001")}, {"LPP", text("F2")}},
                {{"PIT", text("04")}, {"RMC", text("202602")}, {"NRFIR", text("0001")}, {"LPP", text("F3")}}});
    make_table(db + "public\\wpit.dbf",
               {{"PIT", 'C', 2, 0}, {"LPP_O", 'C', 6, 0}, {"RMC", 'C', 6, 0}, {"LPP", 'C', 6, 0},
                {"KW_ZAP", 'N', 12, 2}, {"KW_ODS", 'N', 12, 2}},
               {{{"PIT", text("11")}, {"LPP_O", text("O1")}, {"RMC", text("202601")}, {"LPP", text("W1")}},
                {{"PIT", text("11")}, {"LPP_O", text("O1")}, {"RMC", text("202602")}, {"LPP", text("W2")}}});
    make_table(db + "public\\pit_zap.dbf",
               {{"LPP", 'C', 6, 0}, {"LPP_W", 'C', 6, 0}, {"LPP_F", 'C', 6, 0}, {"LPP_O", 'C', 6, 0},
                {"NRFIR", 'C', 4, 0}, {"KWOTA_GL", 'N', 12, 2}, {"ODSETKI", 'N', 12, 2}, {"DATA_Z", 'D', 8, 0}},
               {{{"LPP", text("Z1")}, {"LPP_W", text("W1")}, {"KWOTA_GL", num(100)}, {"ODSETKI", num(1.5)},
                 {"DATA_Z", Value::of_date("20260110")}},
                {{"LPP", text("Z2")}, {"LPP_W", text("W1")}, {"KWOTA_GL", num(50)}, {"ODSETKI", num(0.5)},
                 {"DATA_Z", Value::of_date("20260120")}},
                {{"LPP", text("Z3")}, {"LPP_F", text("F1")}, {"NRFIR", text("0009")}, {"KWOTA_GL", num(70)},
                 {"DATA_Z", Value::of_date("20260115")}},
                {{"LPP", text("Z4")}, {"LPP_W", text("W9")}, {"LPP_O", text("XX")}, {"NRFIR", text("0005")},
                 {"DATA_Z", Value::of_date("20260115")}}});
    make_table(db + "public\\wf.dbf", {{"LPP", 'C', 6, 0}, {"LPP_O", 'C', 6, 0}, {"NRFIR", 'C', 4, 0}},
               {{{"LPP", text("L1")}, {"LPP_O", text("O1")}, {"NRFIR", text("0003")}}});
  }
  // Records of a table in natural order: field values joined by '|', deleted marked '*'.
  std::vector<std::string> rows(const std::string& name, const std::vector<const char*>& fields) {
    table::OpenOptions o;
    o.path = db + "public\\" + name + ".dbf";
    auto t = table::Table::open(o);
    std::vector<std::string> out;
    for (std::uint32_t r = 1; r <= t->record_count(); ++r) {
      t->go_to(r);
      std::string line = t->deleted() ? "*" : "";
      for (const char* f : fields) {
        Value v = t->get(f);
        line += (v.type == table::ValueType::Number ? std::to_string(v.number).substr(0, 5) : v.text) + "|";
      }
      out.push_back(line);
    }
    return out;
  }
  std::vector<std::string> cdx_files() {
    std::vector<std::string> names;
    for (const char* d : {"public\\", "str\\", "pit\\"})
      for (const auto& e : os::list_directory(db + d + "*.cdx")) names.push_back(d + e.name);
    return names;
  }
};

TEST_F(SharedIndexes, OldDatabaseGetsEveryIndexAndThePitRepair) {
  make_shared_tables(/*with_optional=*/false);
  EXPECT_EQ(NTX_PUB(env, db, true), 0);
  // 43 tables less the two optional ones not present.
  EXPECT_EQ(cdx_files().size(), shared_index_catalogue().size() - 2);
  // The second declaration of 04/202601/0001 goes; the payments are summed and linked.
  EXPECT_EQ(rows("fpit", {"lpp", "kw_zap", "kw_odsetek"}),
            (std::vector<std::string>{"F1    |70.00|0.000|", "*F2    |0.000|0.000|", "F3    |0.000|0.000|"}));
  EXPECT_EQ(rows("wpit", {"lpp", "kw_zap", "kw_ods"}),
            (std::vector<std::string>{"W1    |150.0|2.000|", "*W2    |0.000|0.000|"}));
  // Z1, Z2: the employee's declaration gives lpp_o O1, whose firm link is 0003. Z3: the
  // firm declaration's firm. Z4: no declaration W9, the payment keeps its links.
  EXPECT_EQ(rows("pit_zap", {"lpp", "lpp_o", "nrfir"}),
            (std::vector<std::string>{"Z1    |O1    |0003|", "Z2    |O1    |0003|", "Z3    |      |0001|",
                                      "Z4    |XX    |0005|"}));
}

TEST_F(SharedIndexes, RecentDatabaseGetsTheIndexesButNoRepair) {
  make_shared_tables(/*with_optional=*/true);
  EXPECT_EQ(NTX_PUB(env, db, false), 0);
  EXPECT_EQ(cdx_files().size(), shared_index_catalogue().size());
  EXPECT_EQ(rows("fpit", {"lpp"}), (std::vector<std::string>{"F1    |", "F2    |", "F3    |"}));
}

TEST_F(SharedIndexes, OneTableMissingLeavesNoSharedIndexAtAll) {
  make_shared_tables(false);
  os::delete_file(db + "public\\limity.dbf");
  lib_mkdir_pit();
  lib::MKDIR(db + "pit");
  lib::WRITEFILE(db + "pit\\stary.cdx", "x");
  EXPECT_GT(NTX_PUB(env, db, true), 0);
  EXPECT_TRUE(cdx_files().empty());
  // And no repair either.
  EXPECT_EQ(rows("fpit", {"lpp"}), (std::vector<std::string>{"F1    |", "F2    |", "F3    |"}));
}

}  // namespace
}  // namespace zuv::upgrade::testing
