// The shared tables' indexes and the PIT repair.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "lib/files.h"
#include "support/table_support.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "upgrade/shared_indexes.h"
#include "upgrade/upgrade_fixture.h"

namespace zuv::upgrade::testing {
namespace {

using table::Value;

class SharedIndexes : public UpgradeTest {
 protected:
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
  EXPECT_TRUE(NTX_PUB(env, db, true).ok());
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
  EXPECT_TRUE(NTX_PUB(env, db, false).ok());
  EXPECT_EQ(cdx_files().size(), shared_index_catalogue().size());
  EXPECT_EQ(rows("fpit", {"lpp"}), (std::vector<std::string>{"F1    |", "F2    |", "F3    |"}));
}

TEST_F(SharedIndexes, OneTableMissingLeavesNoSharedIndexAtAll) {
  make_shared_tables(false);
  EXPECT_TRUE(os::delete_file(db + "public\\limity.dbf").ok());
  make_pit_tables();
  EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(db + "pit")));
  EXPECT_TRUE(lib::WRITEFILE(db + "pit\\stary.cdx", "x"));
  const os::Status built = NTX_PUB(env, db, true);
  EXPECT_EQ(built.text(), kSharedIndexesFailed);
  EXPECT_EQ(built.path(), db + "public\\limity.dbf");
  EXPECT_TRUE(cdx_files().empty());
  // And no repair either.
  EXPECT_EQ(rows("fpit", {"lpp"}), (std::vector<std::string>{"F1    |", "F2    |", "F3    |"}));
}

}  // namespace
}  // namespace zuv::upgrade::testing
