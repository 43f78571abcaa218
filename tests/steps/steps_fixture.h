// Shared set-up of the step tests: a distribution directory with its "str\" and
// "txt\", a database with its template directory and one firm, a program directory,
// and builders and readers of small tables. Tables are made through the engine in the
// layout a step converts; expected values are written out by hand in the tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "lib/files.h"
#include "support/table_support.h"
#include "lib/text.h"
#include "platform/os/fault.h"
#include "platform/os/files.h"
#include "platform/table/table.h"
#include "steps/steps.h"
#include "platform/error/error.h"
#include "tables/table_access.h"
#include "tables/tables_fixture.h"

namespace zuv::steps::testing {

using table::Structure;
using table::Value;
using Row = std::map<std::string, Value>;

inline Value N(double v) { return Value::of_number(v); }
inline Value C(const std::string& s) { return Value::of_text(s); }
inline Value D(const std::string& s) { return Value::of_date(s); }

class StepsTest : public tables::testing::TablesTest {
 protected:
  using Field = table::FieldInfo;
  StepsTest() : ctx{areas} {
    rel = dir + "rel\\";
    db = dir + "baza\\";
    firm = db + "firma1\\";
    prog = dir + "prog\\";
    for (const std::string& d : {rel, rel + "str\\", rel + "txt\\", db, db + "str\\", db + "txt\\", firm, prog,
                                 prog + "temp\\", prog + "txt\\"})
      EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(d)));
    ctx.release_dir = rel;
  }

  // A table at path (Windows text, with ".dbf") holding rows; fields not named in a
  // row stay empty.
  void make(const std::string& path, const Structure& s, const std::vector<Row>& rows = {}) {
    ASSERT_TRUE(table::Table::create(path, s)) << path;
    table::OpenOptions o;
    o.path = path;
    auto t = table::Table::open(o);
    ASSERT_TRUE(t);
    for (const Row& r : rows) {
      ASSERT_TRUE(t->append());
      for (const auto& [name, v] : r) {
        ASSERT_TRUE(t->put(name, v)) << name;
      }
    }
    ASSERT_TRUE(t->commit());
    t->close();
  }

  // Every visible record of a table, fields by upper-case name.
  std::vector<Row> rows(const std::string& path) {
    std::vector<Row> out;
    auto t = zuv::testing::open_for_reading(path);
    EXPECT_TRUE(t) << path;
    if (!t) return out;
    t->set_settings(&areas.settings());
    for (t->go_top(); !t->eof(); t->skip()) {
      Row r;
      for (int i = 0; i < t->field_count(); ++i) r[t->fields()[i].name] = t->get(i);
      out.push_back(r);
    }
    return out;
  }
  Structure structure(const std::string& path) {
    auto t = zuv::testing::open_for_reading(path);
    return t ? t->structure() : Structure{};
  }

  // Every table of a directory as text, for comparing whole states.
  std::map<std::string, std::vector<std::string>> snapshot(const std::string& directory) {
    std::map<std::string, std::vector<std::string>> out;
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::u8path(os_dir(directory)))) {
      std::string name = e.path().filename().string();
      if (name.size() < 4 || name.substr(name.size() - 4) != ".dbf") continue;
      std::vector<std::string>& lines = out[name];
      for (const Field& f : structure(directory + name))
        lines.push_back(f.name + ":" + f.type + std::to_string(f.length) + "." + std::to_string(f.decimals));
      for (const Row& r : rows(directory + name)) {
        std::string line;
        for (const auto& [k, v] : r)
          line += k + "=" + (v.type == table::ValueType::Number ? std::to_string(v.number) : v.text) + "|";
        lines.push_back(line);
      }
    }
    return out;
  }
  // The OS form of a Windows-text directory under the scratch directory.
  std::string os_dir(const std::string& windows) {
    std::string rest = windows.substr(dir.size());
    for (char& c : rest)
      if (c == '\\') c = '/';
    return scratch.path() + "/" + rest;
  }

  void firm_version(const std::string& baza) {
    make(firm + "wersja.dbf", {{"BAZA", 'C', 10, 0}, {"NR", 'N', 6, 2}, {"WARIANT", 'C', 3, 0}},
         {{{"BAZA", C(baza)}, {"NR", N(25.01)}, {"WARIANT", C(baza.size() >= 3 ? baza.substr(baza.size() - 3) : "")}}});
  }
  std::string recorded_version() {
    auto r = rows(firm + "wersja.dbf");
    return r.empty() ? "" : lib::rtrim(r[0]["BAZA"].text);
  }
  void expect_version(const std::string& baza, const std::string& wariant) {
    auto r = rows(firm + "wersja.dbf");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(lib::rtrim(r[0]["BAZA"].text), baza);
    EXPECT_EQ(r[0]["WARIANT"].text, wariant);
    EXPECT_DOUBLE_EQ(r[0]["NR"].number, 26.01);
  }

  // Runs a step as the driver's per-firm trap would: true when it finished.
  template <typename Fn>
  bool run_trapped(Fn fn) {
    try {
      GuardedBlock trap;
      fn();
      return true;
    } catch (const Break&) {
      tables::CLOSEALL(areas);
      return false;
    }
  }

  // For every kind of file operation and places n up to what a clean run performs,
  // the disk fails from the n-th operation of that kind on. The step must then either
  // fail without recording its version, or finish with the clean run's tables; and the
  // next run on a sound disk (as the next upgrade would) ends with the clean run's
  // tables. Working files left behind by a failed run are allowed.
  template <typename Build, typename Run>
  void every_fault(Build build, Run run, const std::string& version, const std::string& leftover = "",
                   int per_kind = 12) {
    build();
    const std::string before = recorded_version();
    os::fault::start_counting();
    run();
    int counts[int(os::fault::Op::Count_)];
    for (int k = 0; k < int(os::fault::Op::Count_); ++k) counts[k] = os::fault::counted(os::fault::Op(k));
    os::fault::disarm();
    const auto clean = snapshot(firm);
    auto same_tables = [&](const char* when, int kind, int n) {
      auto now = snapshot(firm);
      for (const auto& [name, lines] : clean) {
        if (name != leftover) {
          EXPECT_EQ(now[name], lines) << name << " " << when << " op " << kind << " n " << n;
        }
      }
    };
    int runs = 0;
    for (int k = 0; k < int(os::fault::Op::Count_); ++k) {
      const int count = counts[k];
      for (int i = 0; i < std::min(count, per_kind); ++i) {
        const int n = 1 + (count <= per_kind ? i : i * (count - 1) / (per_kind - 1));
        tables::CLOSEALL(areas);
        std::filesystem::remove_all(std::filesystem::u8path(os_dir(firm)));
        std::filesystem::remove_all(std::filesystem::u8path(os_dir(prog + "temp\\")));
        EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(firm)));
        EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(prog + "temp\\")));
        build();
        bool finished = false;
        {
          os::fault::Scope scope;
          os::fault::arm_from(os::fault::Op(k), n, 112);
          try {
            GuardedBlock trap;
            run();
            finished = true;
          } catch (const Break&) {
          }
        }
        ++runs;
        run_trapped([&] { tables::CLOSEALL(areas); });
        // A version recorded means the work is there (the close after the version
        // record may still fail); otherwise the old version stands.
        if (finished || recorded_version() == version) {
          same_tables("finished", k, n);
        } else {
          EXPECT_EQ(recorded_version(), before) << "op " << k << " n " << n;
        }
        EXPECT_TRUE(run_trapped(run)) << "op " << k << " n " << n;
        same_tables("rerun", k, n);
        if (::testing::Test::HasFailure()) return;
      }
    }
    EXPECT_GT(runs, 10);
  }

  bool exists(const std::string& path) { return os::file_exists(std::string_view(path)); }
  void write(const std::string& path, const std::string& text) { ASSERT_TRUE(lib::WRITEFILE(path, text)); }

  StepContext ctx;
  std::string rel, db, firm, prog;
};

}  // namespace zuv::steps::testing
