// Undoing a firm step cut off midway, and the driver carried on after a cut. A cut is
// simulated by what it leaves: the step's marker and copies, and tables changed partly
// or wholly without the version record. The expected tables are worked out by hand.
#include <gtest/gtest.h>
#include <zlib.h>

#include <set>
#include <vector>

#include "lib/files.h"
#include "support/table_support.h"
#include "platform/error/error.h"
#include "platform/os/fault.h"
#include "platform/os/files.h"
#include "platform/os/held_writes.h"
#include "steps/step_routines.h"
#include "upgrade/firm_lifecycle.h"
#include "upgrade/firm_records.h"
#include "upgrade/recovery.h"
#include "upgrade/run_note.h"
#include "upgrade/upgrade_fixture.h"

namespace zuv::upgrade::testing {
namespace {

using table::Value;

// Writes go straight to the disk, so that what the keeper copies before them is seen.
struct NothingHeld {
  std::size_t was = os::held_writes::budget();
  NothingHeld() { os::held_writes::set_budget(0); }
  ~NothingHeld() { os::held_writes::set_budget(was); }
};

class Recovery : public UpgradeTest {
 protected:
  std::string firm = db + "firma1\\";
  std::vector<steps::FirmStep> rows;

  // The release's own row of a step, with its list of tables changed in place.
  const steps::FirmStep& release_row(std::string_view name) {
    for (const steps::FirmStep& s : steps::firm_steps())
      if (s.name == name) return s;
    ADD_FAILURE() << name;
    return steps::firm_steps().front();
  }
  void use_steps(std::initializer_list<std::string_view> names) {
    for (std::string_view n : names) rows.push_back(release_row(n));
    env.steps.firm = rows;
  }
  void dispatch() {
    steps::RunValues values;
    values.num_fir = 1;
    std::string error_text;
    MAKE_WINFIR(env, values, firm, prog, error_text, db, "026.01.016");
  }
  // One field of every record, in record order.
  std::vector<std::string> column(const std::string& path, const char* field) {
    std::vector<std::string> out;
    auto t = zuv::testing::open_for_reading(path);
    EXPECT_TRUE(t) << path;
    if (!t) return out;
    for (t->go_top(); !t->eof(); t->skip()) out.push_back(t->get(field).text);
    return out;
  }
  void put_field(const std::string& path, uint32_t recno, const char* field, const Value& v) {
    table::OpenOptions o;
    o.path = path;
    auto t = table::Table::open(o);
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->go_to(recno));
    ASSERT_TRUE(t->put(field, v));
    ASSERT_TRUE(t->commit());
    t->close();
  }
  bool recovery_dir_left() { return os::directory_exists(std::string_view(firm + kRecoveryDir)); }
  // Too large to be held by a marker line: kept as a copy beside.
  void make_large_v_z() {
    std::vector<std::map<std::string, Value>> rows(1200, {{"LPP", Value::of_text("7")}});
    make_table(firm + "v_z.dbf", {{"LPP", 'C', 8, 0}}, rows);
  }

  // Step 018's table: the two values it exchanges.
  void make_ksef_p() {
    make_firm(1, "026.01.017");
    make_table(firm + "ksef_p.dbf", {{"TYP_VAT", 'C', 1, 0}, {"TYP_ZAL", 'C', 1, 0}},
               {{{"TYP_VAT", Value::of_text("A")}, {"TYP_ZAL", Value::of_text("B")}}});
  }

  // Step 017's tables: the last closed date 2026-01-31 and four documents.
  void make_documents() {
    make_firm(1, "026.01.016");
    make_table(firm + "data.dbf", {{"LAST_DAT", 'D', 8, 0}}, {{{"LAST_DAT", Value::of_date("20260131")}}});
    auto doc = [](const char* lpp, double lp, const char* datak, const char* vat, const char* dok, const char* zapl) {
      return std::map<std::string, Value>{{"LPP", Value::of_text(lpp)},      {"TM", Value::of_text("1")},
                                          {"LP", Value::of_number(lp)},      {"DATAK", Value::of_date(datak)},
                                          {"DATA_VAT", Value::of_date(vat)}, {"D_DOK", Value::of_date(dok)},
                                          {"DATA_ZAPL", Value::of_date(zapl)}};
    };
    make_table(firm + "ks_dok.dbf",
               {{"LPP", 'C', 8, 0}, {"TM", 'C', 1, 0}, {"LP", 'N', 5, 0}, {"DATAK", 'D', 8, 0},
                {"DATA_VAT", 'D', 8, 0}, {"D_DOK", 'D', 8, 0}, {"DATA_ZAPL", 'D', 8, 0}},
               {doc("1", 2, "20260205", "20260110", "20260103", "        "),
                doc("2", 1, "20260131", "20251220", "20260120", "20260125"),
                doc("3", 0, "20251115", "20251115", "20251115", "        "),
                doc("4", 3, "20260201", "        ", "20250101", "        ")});
  }
  // By hand: booked are the documents dated on or after the last closed date, taken by
  // number (2, 1, 4). Document 2 gets its earliest 2026 date (20 January), document 1
  // its own (3 January); document 4 has none and takes the latest given so far.
  const std::vector<std::string> kDatesAfter017 = {"20260103", "20260120", "20251115", "20260120"};
};

// 018 exchanges two values: cut off after the exchange but before its version record,
// a plain rerun would exchange them back. The copies undo it first.
TEST_F(Recovery, Step018CutBeforeItsVersionRecordIsUndoneAndRunOnce) {
  make_ksef_p();
  use_steps({"I_26_01_018"});
  guard_step(firm, "I_26_01_018");
  put_field(firm + "ksef_p.dbf", 1, "TYP_VAT", Value::of_text("B"));
  put_field(firm + "ksef_p.dbf", 1, "TYP_ZAL", Value::of_text("A"));

  dispatch();
  EXPECT_EQ(column(firm + "ksef_p.dbf", "TYP_VAT"), std::vector<std::string>{"B"});
  EXPECT_EQ(column(firm + "ksef_p.dbf", "TYP_ZAL"), std::vector<std::string>{"A"});
  EXPECT_EQ(read_field(firm + "wersja.dbf", "baza"), "026.01.018");
  EXPECT_FALSE(recovery_dir_left());
}

// Cut off after the version record but before the step's changes were known to be on
// the disk (the kernel may write the version record first): the step is undone, its
// version record with it, and runs once more.
TEST_F(Recovery, Step018CutAfterItsVersionRecordIsUndoneAndRunOnce) {
  make_ksef_p();
  use_steps({"I_26_01_018"});
  guard_step(firm, "I_26_01_018");
  steps::RunValues values;
  steps::StepContext ctx{areas, rel, &values};
  steps::I_26_01_018(ctx, firm, prog, db, "026.01.017");
  tables::CLOSEALL(areas);

  EXPECT_EQ(recover_firm(firm).restored_step, "I_26_01_018");
  EXPECT_EQ(read_field(firm + "wersja.dbf", "baza"), "026.01.017");
  EXPECT_EQ(column(firm + "ksef_p.dbf", "TYP_VAT"), std::vector<std::string>{"A"});
  dispatch();
  EXPECT_EQ(column(firm + "ksef_p.dbf", "TYP_VAT"), std::vector<std::string>{"B"});
  EXPECT_EQ(column(firm + "ksef_p.dbf", "TYP_ZAL"), std::vector<std::string>{"A"});
  EXPECT_EQ(read_field(firm + "wersja.dbf", "wariant"), "018");
  EXPECT_FALSE(recovery_dir_left());
}

// Step 033 records a version below its own, so a firm cut off after it, whether its
// marker is still there or already gone, must not meet it again in the carried-on run
// (here it would fail: the firm has none of its tables).
TEST_F(Recovery, StepThatRecordsALowerVersionIsNotRunTwiceAfterACut) {
  const std::string marker = firm + kRecoveryDir + "krok.txt";
  for (const char* cut : {"marker kept", "marker gone", "kept with the firm's other steps"}) {
    SCOPED_TRACE(cut);
    make_firm(1, "026.01.030");
    use_steps({"I_26_01_033"});
    mark_firm_started(firm, false);
    guard_step(firm, "I_26_01_033");
    put_field(firm + "wersja.dbf", 1, "baza", Value::of_text("026.01.032"));
    if (cut != std::string("marker gone")) {
      ASSERT_EQ(os::held_writes::write_out_all(), 0);  // as the work ends
    }
    if (cut == std::string("marker gone")) {
      release_step(firm, "I_26_01_033");
    } else if (cut == std::string("marker kept")) {
      // Cut after the marker's last line said the step's work is on the disk.
      ASSERT_TRUE(lib::WRITEFILE(marker, bytes(marker) + "=\r\n"));
    } else {
      // The marker names the firm's first step; 033 is noted inside it.
      ASSERT_TRUE(lib::WRITEFILE(marker, "I_26_01_030\r\n!I_26_01_033\r\n=\r\n"));
    }

    EXPECT_NO_THROW(dispatch());
    EXPECT_EQ(read_field(firm + "wersja.dbf", "baza"), "026.01.032");
    EXPECT_FALSE(recovery_dir_left());
    rows.clear();
  }
}

TEST_F(Recovery, Step017RunsCleanAndAfterACutHalfway) {
  // The clean run, to be sure of the figures.
  make_documents();
  use_steps({"I_26_01_017"});
  dispatch();
  EXPECT_EQ(column(firm + "ks_dok.dbf", "DATAK"), kDatesAfter017);

  // Cut after the first document it rewrote: run again over the half-changed table,
  // document 4 would follow document 1 to 3 January.
  EXPECT_TRUE(lib::DEL_KAT(firm, "*.*"));
  make_documents();
  guard_step(firm, "I_26_01_017");
  put_field(firm + "ks_dok.dbf", 2, "DATAK", Value::of_date("20260120"));
  dispatch();
  EXPECT_EQ(column(firm + "ks_dok.dbf", "DATAK"), kDatesAfter017);
  EXPECT_EQ(read_field(firm + "wersja.dbf", "baza"), "026.01.017");
  EXPECT_FALSE(recovery_dir_left());
}

// Files the step made are gone again after the undo; the ones it changed are back
// byte for byte.
TEST_F(Recovery, UndoRestoresBytesAndRemovesWhatTheStepCreated) {
  make_firm(1, "026.01.026");
  make_table(firm + "v_z.dbf", {{"LPP", 'C', 8, 0}}, {{{"LPP", Value::of_text("7")}}});
  const std::string before = bytes(firm + "v_z.dbf");
  guard_step(firm, "I_26_01_027");
  put_field(firm + "v_z.dbf", 1, "LPP", Value::of_text("8"));
  ASSERT_TRUE(lib::WRITEFILE(firm + "v_z.cdx", std::string(1024, 'x')));

  FirmRecovery r = recover_firm(firm);
  EXPECT_EQ(r.restored_step, "I_26_01_027");
  EXPECT_EQ(bytes(firm + "v_z.dbf"), before);
  EXPECT_FALSE(exists(firm + "v_z.cdx"));
  EXPECT_FALSE(exists(firm + kRecoveryDir + std::string("v_z.dbf.kop")));

  // Settled once: a second start finds nothing to do.
  EXPECT_EQ(recover_firm(firm).restored_step, "");
}

// A run cut off after the firm's last step still empties the backup directory.
TEST_F(Recovery, ClosingWorkOfACurrentFirmIsFinished) {
  make_firm(1, "026.01.033");
  mark_firm_started(firm, false);
  EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(firm + "bak")));
  ASSERT_TRUE(lib::WRITEFILE(firm + "bak\\stary.dbf", "x"));
  use_steps({});
  dispatch();
  EXPECT_FALSE(exists(firm + "bak\\stary.dbf"));
  EXPECT_FALSE(recovery_dir_left());
}

// Only what the step changes is kept, once, whatever way it changes it: written in
// place, replaced by a file made beside, or made new. A large file is copied beside,
// a small one is held by its marker line.
TEST_F(Recovery, OnlyTheFilesTheStepChangesAreKept) {
  NothingHeld direct;
  make_firm(1, "026.01.026");
  make_large_v_z();
  make_table(firm + "ks_kor.dbf", {{"LPP", 'C', 8, 0}}, {{{"LPP", Value::of_text("1")}}});
  make_table(firm + "vd.dbf", {{"LPP", 'C', 8, 0}}, {{{"LPP", Value::of_text("2")}}});
  const std::string v_z = bytes(firm + "v_z.dbf"), vd = bytes(firm + "vd.dbf");
  guard_step(firm, "I_26_01_027");
  put_field(firm + "v_z.dbf", 1, "LPP", Value::of_text("8"));
  put_field(firm + "v_z.dbf", 1, "LPP", Value::of_text("9"));
  ASSERT_TRUE(lib::WRITEFILE(firm + "zvd.dbf", "nowy"));
  ASSERT_TRUE(os::rename_file(firm + "zvd.dbf", firm + "vd.dbf").ok());

  const std::string marker = bytes(firm + kRecoveryDir + "krok.txt");
  EXPECT_EQ(marker.substr(0, marker.find("*vd.dbf|")), "I_26_01_027\r\n+v_z.dbf\r\n-zvd.dbf\r\n");
  EXPECT_EQ(marker.substr(marker.size() - 2), "\r\n");
  EXPECT_EQ(bytes(firm + kRecoveryDir + "v_z.dbf.kop"), v_z);
  EXPECT_FALSE(exists(firm + kRecoveryDir + std::string("ks_kor.dbf.kop")));
  EXPECT_FALSE(exists(firm + kRecoveryDir + std::string("vd.dbf.kop")));

  EXPECT_EQ(recover_firm(firm).restored_step, "I_26_01_027");
  EXPECT_EQ(bytes(firm + "v_z.dbf"), v_z);
  EXPECT_EQ(bytes(firm + "vd.dbf"), vd);
  EXPECT_FALSE(exists(firm + "zvd.dbf"));

  // Once released, nothing is left and later changes are not watched.
  guard_step(firm, "I_26_01_027");
  put_field(firm + "v_z.dbf", 1, "LPP", Value::of_text("8"));
  release_step(firm, "I_26_01_027");
  put_field(firm + "ks_kor.dbf", 1, "LPP", Value::of_text("3"));
  EXPECT_FALSE(exists(firm + kRecoveryDir + std::string("krok.txt")));
  EXPECT_FALSE(exists(firm + kRecoveryDir + std::string("ks_kor.dbf.kop")));
  EXPECT_EQ(column(firm + "v_z.dbf", "LPP").front(), "8       ");
}

// A copy that cannot be made stops the change it came before: the table stays as it
// was and the marker does not vouch for a copy that is not there.
// A table corrected in place, then grown, then written over by name or renamed away:
// the copy kept at the first change is what the undo puts back.
TEST_F(Recovery, TableWrittenInPlaceThenReplacedIsPutBackAsTheStepMetIt) {
  make_firm(1, "026.01.026");
  make_table(firm + "v_z.dbf", {{"LPP", 'C', 8, 0}},
             {{{"LPP", Value::of_text("7")}}, {{"LPP", Value::of_text("6")}}, {{"LPP", Value::of_text("5")}}});
  make_table(firm + "vd.dbf", {{"LPP", 'C', 8, 0}}, {{{"LPP", Value::of_text("2")}}});
  const std::string before = bytes(firm + "v_z.dbf");
  for (int how = 0; how < 3; ++how) {
    SCOPED_TRACE(how);
    guard_step(firm, "I_26_01_027");
    put_field(firm + "v_z.dbf", 2, "LPP", Value::of_text("X"));
    {
      table::OpenOptions o;
      o.path = firm + "v_z.dbf";
      auto t = table::Table::open(o);
      ASSERT_TRUE(t && t->append());
      ASSERT_TRUE(t->put("LPP", Value::of_text("Y")) && t->commit());
    }
    if (how == 1) {
      ASSERT_TRUE(lib::WRITEFILE(firm + "v_z.dbf", "nowy"));
    } else if (how == 2) {
      ASSERT_TRUE(os::rename_file(firm + "v_z.dbf", firm + "v_y.dbf").ok());
    }
    EXPECT_EQ(recover_firm(firm).restored_step, "I_26_01_027");
    EXPECT_EQ(bytes(firm + "v_z.dbf"), before);
    EXPECT_FALSE(exists(firm + "v_y.dbf"));
    EXPECT_FALSE(recovery_dir_left() && exists(firm + kRecoveryDir + "krok.txt"));
  }
}

TEST_F(Recovery, ChangeIsRefusedWhenItsCopyCannotBeKept) {
  NothingHeld direct;
  make_firm(1, "026.01.026");
  make_large_v_z();
  const std::string before = bytes(firm + "v_z.dbf");
  guard_step(firm, "I_26_01_027");
  {
    os::fault::Scope scope;
    os::fault::arm_from(os::fault::Op::Create, 1, 112);
    table::OpenOptions o;
    o.path = firm + "v_z.dbf";
    auto t = table::Table::open(o);
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->go_to(1));
    EXPECT_TRUE(t->put("LPP", Value::of_text("8")));
    bool written = false;
    try {
      written = t->commit();
    } catch (...) {
      // the engine reports the write error its own way
    }
    EXPECT_FALSE(written);
  }
  EXPECT_EQ(bytes(firm + kRecoveryDir + "krok.txt").find("+v_z.dbf"), std::string::npos);
  recover_firm(firm);
  EXPECT_EQ(bytes(firm + "v_z.dbf"), before);
}

// A marker line torn by the cut names a change that never began.
TEST_F(Recovery, TornMarkerLineIsLeftAlone) {
  make_firm(1, "026.01.026");
  ASSERT_TRUE(lib::WRITEFILE(firm + "a.txt", "po kroku"));
  ASSERT_TRUE(lib::WRITEFILE(firm + "b.txt", "bez zmian"));
  EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(firm + kRecoveryDir)));
  ASSERT_TRUE(lib::WRITEFILE(firm + kRecoveryDir + "a.txt.kop", "przed krokiem"));
  ASSERT_TRUE(lib::WRITEFILE(firm + kRecoveryDir + "wersja.stan", bytes(firm + "wersja.dbf")));
  ASSERT_TRUE(lib::WRITEFILE(firm + kRecoveryDir + "krok.txt", "I_26_01_027\r\n+a.txt\r\n-b.txt"));

  EXPECT_EQ(recover_firm(firm).restored_step, "I_26_01_027");
  EXPECT_EQ(bytes(firm + "a.txt"), "przed krokiem");
  EXPECT_EQ(bytes(firm + "b.txt"), "bez zmian");
}

// A small file is held by its line; a line whose bytes do not match its checksum was
// torn inside while being synced, and its change never began.
TEST_F(Recovery, FileHeldByItsMarkerLineIsPutBackUnlessTheLineIsTorn) {
  make_firm(1, "026.01.026");
  ASSERT_TRUE(lib::WRITEFILE(firm + "a.txt", "po kroku"));
  ASSERT_TRUE(lib::WRITEFILE(firm + "c.txt", "bez zmian"));
  EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(firm + kRecoveryDir)));
  auto line = [](const char* name, const std::string& held, unsigned long sum) {
    static const char* digits = "0123456789abcdef";
    std::string out = std::string("*") + name + "|" + std::to_string(sum) + "|";
    for (unsigned char ch : held) out += digits[ch >> 4], out += digits[ch & 15];
    return out + "\r\n";
  };
  const std::string held = std::string("przed\0krokiem\r\n", 16);
  ASSERT_TRUE(lib::WRITEFILE(firm + kRecoveryDir + "krok.txt",
                             "I_26_01_027\r\n" + line("a.txt", held, crc32(0, reinterpret_cast<const Bytef*>(held.data()), uInt(held.size()))) +
                                 line("c.txt", "inne", 12345)));

  EXPECT_EQ(recover_firm(firm).restored_step, "I_26_01_027");
  EXPECT_EQ(bytes(firm + "a.txt"), held);
  EXPECT_EQ(bytes(firm + "c.txt"), "bez zmian");
  EXPECT_FALSE(exists(firm + kRecoveryDir + "krok.txt"));
}

// A marker naming a file outside the firm's directory was not written by a step: nothing
// of it is put back, not even the firm's own files it names, and it stays to be looked at.
TEST_F(Recovery, MarkerNamingAFileOutsideTheFirmPutsNothingBack) {
  make_firm(1, "026.01.026");
  ASSERT_TRUE(lib::WRITEFILE(firm + "a.txt", "po kroku"));
  ASSERT_TRUE(lib::WRITEFILE(db + "obcy.txt", "poza firmą"));
  EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(firm + kRecoveryDir)));
  ASSERT_TRUE(lib::WRITEFILE(firm + kRecoveryDir + "a.txt.kop", "przed krokiem"));
  for (const char* outside : {"-..\\obcy.txt", "-c:obcy.txt", "-", "+../obcy.txt"}) {
    const std::string marker = std::string("I_26_01_027\r\n+a.txt\r\n") + outside + "\r\n";
    ASSERT_TRUE(lib::WRITEFILE(firm + kRecoveryDir + "krok.txt", marker));
    EXPECT_THROW(recover_firm(firm), Break) << outside;
    EXPECT_EQ(bytes(firm + "a.txt"), "po kroku") << outside;
    EXPECT_EQ(bytes(db + "obcy.txt"), "poza firmą") << outside;
    EXPECT_EQ(bytes(firm + kRecoveryDir + "krok.txt"), marker);
  }
}

// The marker as read back: the step, the version before it, whether its work stands.
TEST(StepMarkerText, LinesAreReadByTheirKindAndATornLastLineIsNotRead) {
  StepMarker m = read_step_marker("I_26_01_027\r\n@026.01.026\r\n-b.txt\r\n!I_26_01_028\r\n+a.txt\r\n=");
  EXPECT_EQ(m.step, "I_26_01_027");
  EXPECT_EQ(m.version_before, "026.01.026");
  EXPECT_FALSE(m.done);  // the closing line was torn by the cut
  EXPECT_EQ(m.noted, std::vector<std::string>{"I_26_01_028"});
  ASSERT_EQ(m.files.size(), 2u);
  EXPECT_EQ(m.files[0].kind, '-');
  EXPECT_EQ(m.files[0].name, "b.txt");
  EXPECT_EQ(m.files[1].kind, '+');
  EXPECT_EQ(m.files[1].name, "a.txt");
  EXPECT_TRUE(read_step_marker("I_26_01_027\r\n+a.txt\r\n=\r\n").done);
  EXPECT_TRUE(read_step_marker("I_26_01_027").step.empty());
  EXPECT_TRUE(read_step_marker("I\r\n*..\\x|0|\r\n").damaged);  // an empty file held, outside
}

// A firm number no register holds (past any integer) is a damaged line, not a firm.
TEST(RunNoteText, OnlyThisDatabaseAndReleaseAndRealFirmNumbers) {
  const std::string text = "026.01.010\r\nbaza=abc\r\nwydanie=026.01.040\r\n12\r\n99999999999999999999\r\n7x\r\n";
  auto note = read_run_note_text(text, "abc", "026.01.040");
  ASSERT_TRUE(note);
  EXPECT_EQ(note->version, "026.01.010");
  EXPECT_EQ(note->finished, (std::set<long long>{12}));
  EXPECT_FALSE(read_run_note_text(text, "abd", "026.01.040"));
  EXPECT_FALSE(read_run_note_text(text, "abc", "026.01.041"));
  EXPECT_FALSE(read_run_note_text(text, "", "026.01.040"));
}

// Cut off after the release's version record replaced the database's: the next run
// decides the structure steps by the version the cut run started from.
TEST_F(Recovery, DriverCarriesOnFromTheVersionTheCutRunStartedFrom) {
  // Unfinished, as the release's record is renamed in.
  make_database("026.01.033", "N");
  make_register({1});
  make_firm(1, "026.01.033");
  note_run_start(db, "026.01.016", kWersjaB, false);

  EXPECT_EQ(run("026.01.033"), "00");
  EXPECT_EQ(step_log().calls, (std::vector<std::string>{"STR_26_01_027", "STR_26_01_032"}));
  EXPECT_FALSE(exists(db + "odzysk.txt"));
  EXPECT_EQ(read_field(db + "wersja.dbf", "ok"), "T");
  // A note that outlived its finished run (a power cut took its removal) is not
  // carried on: the structure steps are not run again from its version.
  note_run_start(db, "026.01.016", kWersjaB, false);
  step_log().calls.clear();
  EXPECT_EQ(run("026.01.033"), "00");
  EXPECT_EQ(step_log().calls, std::vector<std::string>{});
  EXPECT_FALSE(exists(db + "odzysk.txt"));
}

// The note is made before anything changes and kept by a run that is cut off.
TEST_F(Recovery, RunNoteKeepsTheLowerVersionAndTheFinishedFirms) {
  EXPECT_EQ(note_run_start(db, "026.01.010", kWersjaB, false).version, "026.01.010");
  RunNote note = note_run_start(db, "026.01.033", kWersjaB, false);
  EXPECT_EQ(note.version, "026.01.010");
  EXPECT_TRUE(note_firm_finished(db, note, 12));
  EXPECT_EQ(note_run_start(db, "026.01.033", kWersjaB, false).finished, (std::set<long long>{12}));
  // Another release's run, or a database without the identifier the note names, starts
  // afresh.
  EXPECT_FALSE(read_run_note(db, "027.01.001"));
  EXPECT_EQ(note_run_start(db, "026.01.033", "027.01.001", false).version, "026.01.033");
  EXPECT_TRUE(note_run_end(db));
  EXPECT_FALSE(exists(db + "baza_id.txt"));
  note = note_run_start(db, "026.01.016", kWersjaB, false);
  ASSERT_TRUE(lib::WRITEFILE(db + "baza_id.txt", "inna\r\n"));
  EXPECT_FALSE(read_run_note(db, kWersjaB));
  EXPECT_EQ(note_run_start(db, "026.01.033", kWersjaB, false).version, "026.01.033");
  // A note beside a version record that says this release's run finished is that run's
  // leftover (a power cut took its removal): the next run is a run of its own.
  ASSERT_TRUE(note_run_end(db));
  note = note_run_start(db, "026.01.016", kWersjaB, false);
  EXPECT_TRUE(carries_on(note, "026.01.033", false));
  EXPECT_FALSE(carries_on(note, "026.01.033", true));
  EXPECT_EQ(note_run_start(db, "026.01.033", kWersjaB, true).version, "026.01.033");
  // An older release's finished flag says nothing of this release's note.
  EXPECT_TRUE(carries_on(note, "026.01.020", true));
}

// Copies with the hidden or system attribute are the run's own like any other.
TEST_F(Recovery, HiddenCopiesGoWithTheRest) {
  make_firm(1, "026.01.033");
  mark_firm_started(firm, false);
  const std::string copy = firm + kRecoveryDir + "ks_dok.dbf.kop";
  ASSERT_TRUE(lib::WRITEFILE(copy, "kopia"));
  ASSERT_TRUE(os::change_attributes(copy, "+H +S").ok());
  mark_firm_finished(firm);
  EXPECT_FALSE(recovery_dir_left());
}

// The plan tells what the run will make of a firm whose worker was killed midway: its
// steps undone back to the version they met, and its complete rebuild still owed.
TEST_F(Recovery, PlanSeesTheFirmAsTheUndoWillLeaveIt) {
  make_firm(2, "013.01.001");
  mark_firm_started(db + "firma2\\", true);
  EXPECT_TRUE(peek_firm_recovery(db + "firma2\\").reindex_pending);
  make_firm(1, "022.01.050");
  mark_firm_started(firm, false);
  guard_step(firm, "I_26_01_001", "022.01.050");
  // The killed step had changed the version record, as steps do last.
  put_field(firm + "wersja.dbf", 1, "baza", Value::of_text("026.01.030"));
  FirmRecovery seen = peek_firm_recovery(firm);
  EXPECT_EQ(seen.restored_version, "022.01.050");
  EXPECT_TRUE(seen.finish_pending);
  EXPECT_EQ(read_field(firm + "wersja.dbf", "baza"), "026.01.030");  // the peek changed nothing
  dispatch();
  EXPECT_EQ(read_field(firm + "wersja.dbf", "baza"), kWersjaB);
  EXPECT_FALSE(recovery_dir_left());
}

// Records one version below its own, as 033 does.
int runs_below_itself = 0;
void records_below_itself(steps::StepContext&, const std::string& firm_dir, const std::string&, const std::string&,
                          const std::string&) {
  ++runs_below_itself;
  table::OpenOptions o;
  o.path = firm_dir + "wersja.dbf";
  auto t = table::Table::open(o);
  ASSERT_TRUE(t && t->go_to(1));
  ASSERT_TRUE(t->put("baza", Value::of_text("026.01.032")) && t->commit());
}

// Fails after changing a table, as a step that meets a damaged record midway.
void fails_midway(steps::StepContext&, const std::string& firm_dir, const std::string&, const std::string&,
                  const std::string&) {
  table::OpenOptions o;
  o.path = firm_dir + "ksef_p.dbf";
  auto t = table::Table::open(o);
  ASSERT_TRUE(t && t->go_to(1));
  ASSERT_TRUE(t->put("TYP_VAT", Value::of_text("X")) && t->commit());
  t->close();
  firm_error(gencode::kCorrupt, 0, "Uszkodzona tabela", firm_dir + "ksef_p.dbf", "TEST");
}

// The firm's steps are undone together after a failure, and those before the failed
// one run again: the firm ends after its last completed step, with 018's exchange made
// exactly once and the failed step's change gone.
TEST_F(Recovery, FailedStepLeavesTheFirmAfterItsLastCompletedStep) {
  make_ksef_p();
  const steps::FirmStep with_failure[] = {release_row("I_26_01_018"),
                                          {"026.01.023", "I_26_01_023", fails_midway}};
  env.steps.firm = with_failure;
  EXPECT_THROW(dispatch(), Break);
  EXPECT_EQ(column(firm + "ksef_p.dbf", "TYP_VAT"), std::vector<std::string>{"B"});
  EXPECT_EQ(column(firm + "ksef_p.dbf", "TYP_ZAL"), std::vector<std::string>{"A"});
  EXPECT_EQ(read_field(firm + "wersja.dbf", "baza"), "026.01.018");
  EXPECT_FALSE(exists(firm + kRecoveryDir + "krok.txt"));

  // The next run takes only the failed step.
  use_steps({"I_26_01_018"});
  dispatch();
  EXPECT_EQ(column(firm + "ksef_p.dbf", "TYP_VAT"), std::vector<std::string>{"B"});
  EXPECT_FALSE(recovery_dir_left());
}

// The run notes a firm as brought through before the firm's own note goes: cut between
// the two, or unable to write the run's note, the firm's note still names its steps, so
// 033 (which records one version below its own) is not taken twice.
TEST_F(Recovery, FirmsNoteStaysUntilTheRunHasNotedTheFirm) {
  struct Cut {};
  const steps::FirmStep below[] = {{"026.01.033", "I_26_01_033", records_below_itself}};
  env.steps.firm = below;
  for (bool cut : {true, false}) {
    SCOPED_TRACE(cut ? "cut" : "run note not written");
    make_firm(1, "026.01.030");
    runs_below_itself = 0;
    steps::RunValues values;
    values.num_fir = 1;
    std::string error_text;
    auto noted = [&]() -> bool {
      if (cut) throw Cut{};
      return false;
    };
    if (cut)
      EXPECT_THROW(MAKE_WINFIR(env, values, firm, prog, error_text, db, "026.01.016", noted), Cut);
    else
      MAKE_WINFIR(env, values, firm, prog, error_text, db, "026.01.016", noted);
    EXPECT_EQ(runs_below_itself, 1);
    EXPECT_TRUE(exists(firm + kRecoveryDir + "firma.txt"));

    dispatch();
    EXPECT_EQ(runs_below_itself, 1);
    EXPECT_EQ(read_field(firm + "wersja.dbf", "baza"), "026.01.032");
    EXPECT_FALSE(recovery_dir_left());
  }
}

// A firm the cut run brought through is not met again: a second pass would take
// step 033 a second time.
TEST_F(Recovery, DriverSkipsAFirmTheCutRunFinished) {
  make_database("026.01.016");
  make_register({1, 2});
  make_firm(1, "026.01.032");
  make_firm(2, "026.01.032");
  // Cut after the run noted firm 1 but before the firm's own note went.
  mark_firm_started(firm, false);
  RunNote note = note_run_start(db, "026.01.016", kWersjaB, false);
  ASSERT_TRUE(note_firm_finished(db, note, 1));

  EXPECT_EQ(run("026.01.016"), "00");
  EXPECT_EQ(step_log().calls, (std::vector<std::string>{"STR_26_01_027", "STR_26_01_032", "I_26_01_033@firma2"}));
  EXPECT_FALSE(recovery_dir_left());
}

}  // namespace
}  // namespace zuv::upgrade::testing
