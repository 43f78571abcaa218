// The undo areas on a small pair of trees: what a run changes in every way a run can,
// put back byte for byte; retries; another release; refusals; a cut undo finished.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/base/discard.h"
#include "platform/os/durable.h"
#include "platform/os/fault.h"
#include "platform/os/file_handle.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "platform/os/shelllink.h"
#include "support/table_support.h"
#include "sys/registry.h"
#include "upgrade/undo_area.h"

namespace zuv::upgrade {
namespace {

namespace fs = std::filesystem;

const std::string kRelease = "26.01.033 026.01.033 2026";
const std::string kKey = "HKEY_CURRENT_USER\\Software\\ZuvUndoTest";

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every directory and file below root, with the files' bytes.
using Tree = std::map<std::string, std::string>;
Tree tree(const fs::path& root) {
  Tree out;
  for (auto& e : fs::recursive_directory_iterator(root))
    out[fs::relative(e.path(), root).generic_string() + (e.is_directory() ? "/" : "")] =
        e.is_directory() ? "" : slurp(e.path());
  return out;
}

// The first path where two trees differ ("" when they agree), for a short report.
std::string differs(const Tree& want, const Tree& got) {
  for (const auto& [rel, bytes] : want)
    if (!got.count(rel) || got.at(rel) != bytes) return rel;
  for (const auto& [rel, bytes] : got)
    if (!want.count(rel)) return rel;
  return "";
}

class Undo : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(tmp_.path());
#ifndef _WIN32
    setenv("ZUV_REGISTRY_FILE", (root_ / "registry.reg").c_str(), 1);
#endif
    fs::create_directories(root_ / "trees" / "baza" / "firma1");
    fs::create_directories(root_ / "trees" / "baza" / "logs");
    fs::create_directories(root_ / "trees" / "baza" / "str");
    fs::create_directories(root_ / "trees" / "program");
    fs::create_directories(root_ / "pulpit");
    put("baza/wersja.dbf", "wersja przed");
    put("baza/firma1/ks_dok.dbf", std::string(20000, 'k'));
    put("baza/str/nazwy.dbf", "semafor");
    put("baza/logs/stary.log", "dziennik");
    put("program/zuv.exe", "program przed");
    db_ = text(root_ / "trees" / "baza");
    prog_ = text(root_ / "trees" / "program");
    sys::XbpReg existing = sys::XbpReg::New(kKey, true);
    ASSERT_TRUE(existing.SetValue("wersja", sys::RegValue::of("26.01.001")));
  }
  void TearDown() override {
    sys::XbpReg parent = sys::XbpReg::New("HKEY_CURRENT_USER\\Software");
    base::let_go(parent.DelKey("ZuvUndoTest\\Nowy"), "may be gone");
    base::let_go(parent.DelKey("ZuvUndoTest"), "may be gone");
#ifndef _WIN32
    unsetenv("ZUV_REGISTRY_FILE");
#endif
  }

  static std::string text(const fs::path& p) {
    std::string t = p.string();
    for (char& c : t)
      if (c == '/') c = '\\';
    return t + "\\";
  }
  void put(const std::string& rel, const std::string& bytes) {
    std::ofstream(root_ / "trees" / rel, std::ios::binary) << bytes;
  }
  fs::path trees() const { return root_ / "trees"; }

  // A run: every kind of change the installation makes.
  void run_changes(const std::string& tag) {
    ASSERT_EQ(start_undo_keeping(db_, prog_, kRelease), "");
    os::FileHandle h;  // written in place
    ASSERT_EQ(h.open(os::native_path(db_ + "firma1\\ks_dok.dbf"), os::Access::ReadWrite, os::Share::Exclusive), 0);
    ASSERT_EQ(h.write_at(100, tag.data(), tag.size()), 0);
    h.close();
    ASSERT_TRUE(os::write_durably(os::native_path(db_ + "wersja.dbf"), "wersja po " + tag).ok());  // replaced
    ASSERT_TRUE(os::write_durably(os::native_path(db_ + "firma1\\ks_dok.cdx"), "nowy indeks").ok());  // made
    ASSERT_TRUE(os::make_directory(db_ + "firma2").ok() || os::directory_exists(std::string_view(db_ + "firma2")));
    ASSERT_TRUE(os::write_durably(os::native_path(db_ + "firma2\\wersja.dbf"), "nowa firma").ok());
    if (os::file_exists(std::string_view(db_ + "logs\\stary.log"))) {
      ASSERT_TRUE(os::remove_tree(db_ + "logs").ok());
    }
    ASSERT_TRUE(os::write_durably(os::native_path(prog_ + "zuv.exe"), "program po " + tag).ok());
    sys::XbpReg reg = sys::XbpReg::New(kKey, true);
    ASSERT_TRUE(reg.SetValue("wersja", sys::RegValue::of("26.01.033")));
    sys::XbpReg made = sys::XbpReg::New(kKey + "\\Nowy", true);
    ASSERT_TRUE(made.SetValue("katalog", sys::RegValue::of(prog_)));
    ASSERT_TRUE(os::create_shell_link(text(root_ / "pulpit") + "Zuv.lnk", {prog_ + "zuv.exe", prog_, "", "ZUV"}));
    ASSERT_EQ(finish_undo_keeping(), "");
  }

  testing::TableTempDir tmp_;
  fs::path root_;
  std::string db_, prog_;
};

TEST_F(Undo, EveryKindOfChangeComesBackByteForByteWithTheRegistryAndShortcuts) {
  const auto before = tree(trees());
  run_changes("1");
  EXPECT_NE(differs(tree(trees()), before), "");
  EXPECT_TRUE(fs::exists(root_ / "pulpit" / "Zuv.lnk"));

  const UndoResult plan = undo_installation(db_, prog_, kRelease, true);
  EXPECT_EQ(plan.code, kUndoDone) << plan.message;
  EXPECT_NE(plan.message.find("przywrócenie"), std::string::npos) << plan.message;
  EXPECT_TRUE(fs::exists(trees() / "baza" / "cofnij")) << "a plan changes nothing";

  const UndoResult done = undo_installation(db_, prog_, kRelease, false);
  ASSERT_EQ(done.code, kUndoDone) << done.message;
  auto after = tree(trees());
  after.erase("baza/cofnij/");  // gone too, checked below
  EXPECT_EQ(differs(after, before), "");
  EXPECT_FALSE(fs::exists(trees() / "baza" / "cofnij"));
  EXPECT_FALSE(fs::exists(trees() / "program" / "cofnij"));
  EXPECT_FALSE(fs::exists(root_ / "pulpit" / "Zuv.lnk"));
  EXPECT_EQ(sys::XbpReg::New(kKey).GetValue("wersja"), sys::RegValue::of("26.01.001"));
  sys::XbpReg made = sys::XbpReg::New(kKey + "\\Nowy");
  EXPECT_FALSE(made.Status()) << "the key the run made is gone";
}

TEST_F(Undo, RetriesAddToTheAreaAndAnotherReleaseStartsAfresh) {
  const auto before = tree(trees());
  run_changes("1");
  run_changes("2");  // a retry of the same release: the state before the first run stays
  ASSERT_EQ(undo_installation(db_, prog_, kRelease, false).code, kUndoDone);
  EXPECT_EQ(differs(tree(trees()), before), "");

  run_changes("1");
  // The next release's upgrade drops this release's areas before it keeps its own.
  ASSERT_EQ(start_undo_keeping(db_, prog_, "26.02.001 026.02.001 2026"), "");
  ASSERT_EQ(finish_undo_keeping(), "");
  EXPECT_EQ(read_undo_area(db_ + kUndoDir).release, "26.02.001 026.02.001 2026");
  EXPECT_EQ(read_undo_area(db_ + kUndoDir).kept_files, 0u);
  const UndoResult old = undo_installation(db_, prog_, kRelease, false);
  EXPECT_EQ(old.code, kUndoRefused);
  EXPECT_NE(old.message.find("26.02.001"), std::string::npos) << old.message;
  EXPECT_EQ(forget_undo(db_, prog_), "");
  EXPECT_FALSE(fs::exists(trees() / "baza" / "cofnij"));
}

TEST_F(Undo, AnyWorkAfterTheRunRefusesAndChangesNothing) {
  run_changes("1");
  put("baza/str/notatka.txt", "ktoś pracował");
  const auto worked = tree(trees());
  const UndoResult refused = undo_installation(db_, prog_, kRelease, false);
  EXPECT_EQ(refused.code, kUndoRefused);
  EXPECT_NE(refused.message.find("notatka.txt"), std::string::npos) << refused.message;
  EXPECT_EQ(differs(tree(trees()), worked), "");

  fs::remove(trees() / "baza" / "str" / "notatka.txt");
  put("program/zuv.exe", "program po 1");  // the same bytes, written again later: the time tells
  fs::last_write_time(trees() / "program" / "zuv.exe", fs::file_time_type::clock::now() + std::chrono::hours(1));
  EXPECT_EQ(undo_installation(db_, prog_, kRelease, false).code, kUndoRefused);
}

TEST_F(Undo, AnUndoCutMidwayIsFinishedByTheNextAndAnUpgradeWaitsForIt) {
  const auto before = tree(trees());
  run_changes("1");
  {
    os::fault::Scope disarm;
    os::fault::arm(os::fault::Op::Rename, 3, os::oscode::kAccessDenied);
    const UndoResult cut = undo_installation(db_, prog_, kRelease, false);
    EXPECT_EQ(cut.code, kUndoFailed) << cut.message;
  }
  EXPECT_NE(undo_half_done_refusal(db_, prog_), "");
  EXPECT_NE(start_undo_keeping(db_, prog_, kRelease), "");
  EXPECT_FALSE(undo_keeping());
  const UndoResult done = undo_installation(db_, prog_, kRelease, false);
  ASSERT_EQ(done.code, kUndoDone) << done.message;
  EXPECT_EQ(differs(tree(trees()), before), "");
  EXPECT_EQ(undo_half_done_refusal(db_, prog_), "");
}

}  // namespace
}  // namespace zuv::upgrade
