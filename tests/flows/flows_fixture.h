// A release directory, an installed program and its database in a scratch drive, the
// script front end, and upgrade hooks that only note what they were asked to do, in
// order. Enough of each tree for the flows to find what they look for.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "flows/flow_env.h"
#include "lib/text.h"
#include "platform/gui/script.h"
#include "platform/os/codepage.h"
#include "platform/os/files.h"
#include "platform/table/engine_setup.h"
#include "platform/table/table.h"
#include "platform/table/work_areas.h"
#include "platform/os/scratch_dir.h"
#include "tables/table_access.h"
#include "ui/dialogs.h"

namespace zuv::flows::testing {

inline std::vector<std::string>* g_calls = nullptr;

// Template steps that only say that they ran: the deployment's place in the order.
inline void fake_step_001(steps::StepContext&, const std::string&, const std::string&) { g_calls->push_back("L26_01_001"); }
inline void fake_step_016(steps::StepContext&, const std::string&, const std::string&) { g_calls->push_back("L26_01_016"); }
inline void fake_step_024(steps::StepContext&, const std::string&, const std::string&) { g_calls->push_back("L26_01_024"); }
inline const steps::TemplateStep kFakeTemplateSteps[] = {
    {"26.01.001", "L26_01_001", &fake_step_001},
    {"26.01.016", "L26_01_016", &fake_step_016},
    {"26.01.024", "L26_01_024", &fake_step_024},
};

class FlowsTest : public ::testing::Test {
 protected:
  FlowsTest() : pauses_([this](int cs) { paused_cs += cs; }) {
    table::DBESYS(areas, [](const std::string&) {});
    table::STARTINIT(areas);
    g_calls = &calls;
    rel = scratch / "rel\\";
    prog = scratch / "prog\\";
    baza = scratch / "baza\\";
    make_release();
    env.release = Release{"26.01.033", "026.01.033", "2026", prog, "", rel};
    env.upgrade.upgrade_database = [this](const std::string& p, const std::string& b, const std::string& v) {
      calls.push_back("upgrade " + v);
      EXPECT_EQ(p, prog);
      EXPECT_EQ(b, baza);
      return upgrade_answer;
    };
    env.upgrade.pack_archive = [this](const std::string& b) { calls.push_back("archive " + b); };
    env.upgrade.estimate = [this](const std::string&, const std::string& v) {
      calls.push_back("estimate " + v);
      return estimate_answer;
    };
    env.upgrade.store_duration = [this](double, const std::string&) { calls.push_back("store"); };
    env.shell.rejestry = [this](const std::string& p, const std::string& b, const std::string& year) {
      calls.push_back("rejestry " + p + " " + b + " " + year);
    };
    env.shell.makedir = [](const std::string& path) {
      std::string p = path;
      if (!p.empty() && p.back() == '\\') p.pop_back();
      return os::make_directory(p).ok();
    };
    env.self_test = [this](const std::string& dir, const std::string& kind) {
      calls.push_back("test " + kind);
      return failing_disk == dir;
    };
    env.template_steps = kFakeTemplateSteps;
  }
  ~FlowsTest() override { g_calls = nullptr; }

  // ---- builders --------------------------------------------------------------------
  void file(const std::string& path, const std::string& text = "x") {
    std::string dir(os::directory_part(path));
    mkdirs(dir);
    ASSERT_TRUE(os::write_file(path, text).ok()) << path;
  }
  void mkdirs(std::string dir) {
    if (dir.empty()) return;
    if (dir.back() == '\\') dir.pop_back();
    if (os::directory_exists(dir) || dir.size() <= 2) return;
    mkdirs(std::string(os::directory_part(dir)));
    EXPECT_TRUE(os::make_directory(dir).ok());
  }
  // A one-record table of text fields (values in UTF-8, stored in code page 852).
  void record(const std::string& path, const std::vector<std::pair<std::string, std::string>>& fields,
              int width = 12) {
    mkdirs(std::string(os::directory_part(path)));
    table::Structure s;
    for (const auto& f : fields) s.push_back({f.first, 'C', width, 0});
    ASSERT_TRUE(table::Table::create(path, s)) << path;
    table::OpenOptions o;
    o.path = path;
    auto t = table::Table::open(o);
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->append());
    for (size_t i = 0; i < fields.size(); ++i)
      EXPECT_TRUE(t->put(static_cast<int>(i), table::Value::of_text(os::cp852_from_utf8(fields[i].second))));
    ASSERT_TRUE(t->commit());
  }
  void database_path(const std::string& dir) {
    record(prog + "baza.dbf", {{"PATH", dir}}, 60);
  }
  std::string field(const std::string& path, const std::string& name) {
    table::OpenOptions o;
    o.path = path;
    o.shared = true;
    auto t = table::Table::open(o);
    if (!t) return "(nie otwiera się)";
    t->go_top();
    table::Value v = t->get(name);
    return lib::trim(os::utf8_from_852(v.text));
  }

  void make_release() {
    record(rel + "wk.dbf", {{"rok", "2026"}, {"zuv", "26.01.033"}});
    record(rel + "wb.dbf", {{"baza", "026.01.033"}, {"zuv", "26.01.033"}, {"ok", "T"}, {"rok", "2026"}});
    file(rel + "zuv.exe", "nowy zuv");
    file(rel + "un_zuv.exe", "nowy un_zuv");
    file(rel + "ot4xb.dll", "nowa biblioteka");
    file(rel + "zuv_ksef.dll", "nowa zuv_ksef");
    file(rel + "str\\ks_dok.dbf", "wzorzec ks_dok");
    file(rel + "str\\klient.fpt", "wzorzec klient");
    file(rel + "str\\semafor.dbf", "semafor");
    file(rel + "xml\\jpk.xsd", "xsd");
    file(rel + "public\\kursy.dbf", "kursy");
    file(rel + "txt\\faktura.txt", "faktura 2026");
    file(rel + "txt\\nowy.txt", "nowy wzorzec");
    file(rel + "mask\\01_01_01.scn", "maska");
    file(rel + "vistrel\\p1.txt", "vistrel");
    file(rel + "czytaj.to\\zmiany.chm", "pomoc");
    file(rel + "w001\\dek.xml", "deklaracja");
    file(rel + "ksef\\ksef.cfg", "ksef");
    file(rel + "ksef\\pl\\opis.txt", "opis ksef");
  }

  // An installed program of version zuv for year rok, using the database baza.
  void make_installed(const std::string& zuv = "25.01.050", const std::string& rok = "2026") {
    record(prog + "wersja.dbf", {{"rok", rok}, {"zuv", zuv}});
    database_path(baza);
    file(prog + "ot4xb.dll", "stara biblioteka");
    file(prog + "zuv.exe", "stary zuv");
    file(prog + "zuv_stary.dll", "stara dodatkowa");
    file(prog + "txt\\faktura.txt", "faktura poprawiona przez operatora");
    file(prog + "setings\\ns.cfg", "STACJA1");
  }
  void make_database(const std::string& baza_v = "026.01.016", const std::string& zuv = "25.01.050",
                     const std::string& ok = "T", const std::string& rok = "2026") {
    record(baza + "wersja.dbf", {{"baza", baza_v}, {"zuv", zuv}, {"ok", ok}, {"rok", rok}});
    file(baza + "install.dbf", "rejestr");
    file(baza + "semafor.dbf", "semafor");
    file(baza + "str\\ks_dok.dbf", "ks_dok");
    file(baza + "str\\klient.fpt", "klient");
    // The installation stamp as the suite keeps it: dates, times and the version text.
    const std::string stamp = baza + "public\\pub_dat.dbf";
    mkdirs(baza + "public\\");
    ASSERT_TRUE(table::Table::create(stamp, {{"NV_D_CHECK", 'D', 8, 0}, {"NV_T_CHECK", 'C', 8, 0},
                                             {"NV_R_CHECK", 'C', 40, 0}, {"NV_D_DOWN0", 'D', 8, 0},
                                             {"NV_D_DOWN1", 'D', 8, 0}, {"NV_T_DOWN0", 'C', 8, 0},
                                             {"NV_T_DOWN1", 'C', 8, 0}}));
    table::OpenOptions o;
    o.path = stamp;
    auto t = table::Table::open(o);
    ASSERT_TRUE(t && t->append());
    EXPECT_TRUE(t->put("NV_D_DOWN0", table::Value::of_date("20260105")));
    EXPECT_TRUE(t->put("NV_T_DOWN0", table::Value::of_text("12:00:00")));
    ASSERT_TRUE(t->commit());
  }

  // Every file below dir (hidden and system ones too) by its path under dir, with its
  // bytes: two equal trees hold the same files with the same contents. The undo area a
  // run keeps beside them is its record, not the program's or the database's content.
  std::map<std::string, std::string> tree(const std::string& dir, bool top = true) {
    std::map<std::string, std::string> out;
    for (const auto& e : os::list_directory(dir + "*.*", "DHS")) {
      if (e.name == "." || e.name == ".." || (top && e.name == "cofnij")) continue;
      if (e.attributes.find('D') == std::string::npos) {
        out[e.name] = test::read_all(dir + e.name);
        continue;
      }
      out[e.name + "\\"] = "";
      for (const auto& [name, bytes] : tree(dir + e.name + "\\", false)) out[e.name + "\\" + name] = bytes;
    }
    return out;
  }

  // ---- the transcript --------------------------------------------------------------
  // The message dialog with this title and text (';' as the dialog's line break).
  bool shown(const std::string& title, const std::string& text) const {
    std::string lines = text;
    for (size_t at; (at = lines.find(';')) != std::string::npos;) lines.replace(at, 1, " / ");
    return fe.transcript_text().find("\"" + title + "\" | " + lines + " |") != std::string::npos;
  }
  std::string transcript() const { return fe.transcript_text(); }

  test::ScratchDir scratch;
  std::string rel, prog, baza;
  table::WorkAreas areas;
  gui::ManualClock clock;
  gui::ScriptFrontend fe{clock};
  ui::Dialogs d{fe};
  FlowEnv env{d, areas, {}, {}, {}, {}, {}, {}, {}, {}};
  std::vector<std::string> calls;
  std::string upgrade_answer = "00";
  bool estimate_answer = true;
  std::string failing_disk;
  int paused_cs = 0;

 private:
  tables::ScopedPauses pauses_;
};

}  // namespace zuv::flows::testing
