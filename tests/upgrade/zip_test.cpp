// The kit archive: our ZIP writer checked by the system's own ZIP tools, the kit's
// masks, and the repair of a damaged archive.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "lib/files.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "support/table_support.h"
#include "upgrade/backup_archive.h"
#include "upgrade/upgrade_fixture.h"
#include "upgrade/zip_archive.h"

namespace zuv::upgrade::testing {
namespace {

using ::testing::ElementsAre;
using zuv::testing::table_run;

class Zip : public UpgradeTest {
 protected:
  Zip() {
    EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(rel + "STR")));
    EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(rel + "czytaj.to")));
    EXPECT_TRUE(lib::WRITEFILE(rel + "czytaj.to\\nowosci.txt", "Nowo\xB6" "ci wersji\r\n"));
    EXPECT_TRUE(lib::WRITEFILE(rel + "zuv.exe", std::string(200000, 'Z') + "MZ"));
    std::string big;
    for (unsigned i = 0; i < 300000; ++i) big += static_cast<char>((i * 7919u) % 251u);
    EXPECT_TRUE(lib::WRITEFILE(rel + "STR\\dane.bin", big));
    EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(db + "install")));
  }
  // The tools' verdict: exit code, and the output when asked.
  static bool tools_here() {
#ifdef _WIN32
    return false;
#else
    return true;
#endif
  }
  std::string archive() { return kit_archive_name(db, kWersjaP); }
};

TEST_F(Zip, KitArchivePassesTheSystemsZipTools) {
  PAKUJ_DO_ZIPA(env, db);
  ASSERT_TRUE(exists(archive()));
  auto contents = read_zip(archive());
  ASSERT_TRUE(contents);
  // ".\*.DBF" first (wb.dbf), then the other masks in their order; no "ksef" at all.
  EXPECT_THAT(contents->names, ElementsAre("wb.dbf", "czytaj.to/nowosci.txt", "zuv.exe", "STR/dane.bin",
                                           "STR/nazwy.dbf", "STR/ue.dbf", "XML/jpk.xml"));
  EXPECT_EQ(contents->comment, "ZUVTrevanor-NK");
  if (!tools_here()) GTEST_SKIP() << "no ZIP tools under Wine";
  const std::string a = os::native_path(archive());
  std::string out;
  EXPECT_EQ(table_run({"/usr/bin/unzip", "-t", a}, &out), 0) << out;
  EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;
  EXPECT_EQ(table_run({"/usr/bin/zipinfo", "-z", a}, &out), 0);
  EXPECT_NE(out.find("ZUVTrevanor-NK"), std::string::npos) << out;
  EXPECT_EQ(table_run({"/usr/bin/7z", "t", a}, &out), 0) << out;
  EXPECT_EQ(table_run({"/usr/bin/unzip", "-p", a, "STR/dane.bin"}, &out), 0);
  EXPECT_TRUE(out == bytes(rel + "STR\\dane.bin")) << "the data differ after unpacking";
}

TEST_F(Zip, SameVersionKeepsItsArchiveAndANewVersionReplacesTheOlder) {
  EXPECT_TRUE(lib::WRITEFILE(archive(), "zostaje"));
  PAKUJ_DO_ZIPA(env, db);
  EXPECT_EQ(bytes(archive()), "zostaje");

  env.wersja_p = "26.01.034";
  PAKUJ_DO_ZIPA(env, db);
  EXPECT_FALSE(exists(archive()));
  EXPECT_TRUE(read_zip(kit_archive_name(db, "26.01.034")));
}

TEST_F(Zip, NothingToPackOrAFileThatCannotBeReadLeavesNoArchive) {
  EXPECT_FALSE(MAKEZIP(env, archive(), {".\\brak\\*.*"}));
  EXPECT_FALSE(exists(archive()));
  ZipWriter zip;
  ASSERT_TRUE(zip.open(archive()));
  EXPECT_EQ(zip.addfile(rel + "wb.dbf", ".\\wb.dbf"), kZipOk);
  EXPECT_EQ(zip.addfile(rel + "nie_ma.dbf", ".\\nie_ma.dbf"), -1);
  zip.close();
  EXPECT_FALSE(exists(archive()));
  EXPECT_FALSE(exists(archive() + ".zuvnew"));
}

TEST_F(Zip, TruncatedCentralDirectoryIsRebuiltFromTheLocalHeaders) {
  ASSERT_TRUE(MAKEZIP(env, archive(), kit_masks()));
  std::string whole = bytes(archive());
  // Cut in the middle of the central directory: the end record is gone.
  size_t cd = whole.find("PK\x01\x02");
  ASSERT_NE(cd, std::string::npos);
  zuv::testing::table_write_bytes(os::native_path(archive()), whole.substr(0, cd + 60));
  EXPECT_FALSE(read_zip(archive()));
  auto comment = archive_comment(archive());  // hands the damage to the repair
  ASSERT_TRUE(comment);
  EXPECT_EQ(*comment, "ZUVTrevanor-NK");
  EXPECT_EQ(read_zip(archive())->names.size(), 7u);
  EXPECT_TRUE(bytes(archive()) == whole) << "the repaired archive differs from the original";
  if (!tools_here()) GTEST_SKIP() << "no ZIP tools under Wine";
  std::string out;
  EXPECT_EQ(table_run({"/usr/bin/unzip", "-t", os::native_path(archive())}, &out), 0) << out;
  EXPECT_EQ(table_run({"/usr/bin/7z", "t", os::native_path(archive())}, &out), 0) << out;
}

TEST_F(Zip, EntryCutShortIsDroppedByTheRepair) {
  ASSERT_TRUE(MAKEZIP(env, archive(), kit_masks()));
  std::string whole = bytes(archive());
  // Inside the data of "STR/dane.bin": it and everything after it are lost.
  size_t at = whole.find("STR/dane.bin");
  zuv::testing::table_write_bytes(os::native_path(archive()), whole.substr(0, at + 500));
  auto kept = repair_zip(archive(), "ZUVTrevanor-NK");
  ASSERT_TRUE(kept);
  EXPECT_EQ(*kept, 3u);
  EXPECT_THAT(read_zip(archive())->names, ElementsAre("wb.dbf", "czytaj.to/nowosci.txt", "zuv.exe"));
  if (!tools_here()) GTEST_SKIP() << "no ZIP tools under Wine";
  std::string out;
  EXPECT_EQ(table_run({"/usr/bin/unzip", "-t", os::native_path(archive())}, &out), 0) << out;
  EXPECT_EQ(table_run({"/usr/bin/zipinfo", "-z", os::native_path(archive())}, &out), 0);
  EXPECT_NE(out.find("ZUVTrevanor-NK"), std::string::npos);
}

// 0xFFFF entries in the end record would send readers looking for ZIP64 records.
TEST_F(Zip, TheEntryThatAPlainArchiveCannotCountIsRefused) {
  ASSERT_TRUE(lib::WRITEFILE(rel + "pusty.txt", ""));
  ZipWriter w;
  ASSERT_TRUE(w.open(archive()));
  for (int i = 0; i < 65534; ++i) ASSERT_EQ(w.addfile(rel + "pusty.txt", "p" + std::to_string(i)), kZipOk) << i;
  EXPECT_EQ(w.addfile(rel + "pusty.txt", "o.jeden.za.duzo"), kZipTooLarge);
  ASSERT_TRUE(w.save("ZUVTrevanor-NK"));
  auto read = read_zip(archive());
  ASSERT_TRUE(read);
  EXPECT_EQ(read->names.size(), 65534u);
  EXPECT_EQ(read->names.back(), "p65533");
}

TEST(ZipNames, PathsAsWrittenBecomeArchiveNames) {
  EXPECT_EQ(zip_entry_name(".\\ksef\\runtimes\\win-x86\\native\\a.dll"), "ksef/runtimes/win-x86/native/a.dll");
  EXPECT_EQ(zip_entry_name(".\\zuv.exe"), "zuv.exe");
  EXPECT_EQ(zip_entry_name("C:\\kit\\STR\\x.dbf"), "kit/STR/x.dbf");
}

}  // namespace
}  // namespace zuv::upgrade::testing
