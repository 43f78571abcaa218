#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/native_display.h"

using zuv::app::parse_command_line;

namespace {

std::vector<std::string> line(std::vector<std::string> rest) {
  std::vector<std::string> a = {"zuvinst", "26.01.033", "026.01.033", "2026"};
  a.insert(a.end(), rest.begin(), rest.end());
  return a;
}

}  // namespace

TEST(SilentCommandLine, UpgradeAndInstallTakeTheirDirectoriesAndALog) {
  std::string error;
  auto up = parse_command_line(line({"--silent", "--upgrade", "C:\\ZUV\\", "--log", "run.log"}), &error);
  ASSERT_TRUE(up) << error;
  EXPECT_TRUE(up->silent);
  EXPECT_EQ(up->silent_flow, "upgrade");
  EXPECT_EQ(up->silent_dirs, (std::vector<std::string>{"C:\\ZUV\\"}));
  EXPECT_EQ(up->log, "run.log");
  EXPECT_EQ(up->params.size(), 3u);

  auto in = parse_command_line(line({"--install", "C:\\P\\", "D:\\B\\", "--silent"}), &error);
  ASSERT_TRUE(in) << error;
  EXPECT_EQ(in->silent_flow, "install");
  EXPECT_EQ(in->silent_dirs, (std::vector<std::string>{"C:\\P\\", "D:\\B\\"}));
  EXPECT_EQ(in->log, "");
}

TEST(SilentCommandLine, IncompleteOrMixedLinesAreRefusedInPolish) {
  std::string error;
  EXPECT_FALSE(parse_command_line(line({"--silent"}), &error));
  EXPECT_NE(error.find("--upgrade"), std::string::npos);
  EXPECT_FALSE(parse_command_line(line({"--silent", "--install", "C:\\P\\"}), &error));
  EXPECT_EQ(error, "Po --install podaj katalog programu i katalog bazy danych.");
  EXPECT_FALSE(parse_command_line(line({"--upgrade", "C:\\P\\"}), &error));  // without --silent
  EXPECT_FALSE(parse_command_line(line({"--silent", "--upgrade", "A\\", "--install", "B\\", "C\\"}), &error));
  EXPECT_FALSE(parse_command_line(line({"--silent", "--upgrade", "A\\", "--log"}), &error));
}

TEST(SilentCommandLine, SambaOptionsAndTheRecordedDatabasePathGoWhereTheyServe) {
  std::string error;
  auto up = parse_command_line(line({"--silent", "--upgrade", "/srv/zuv/program/", "--smb-credentials", "/root/c",
                                     "--no-samba-check"}),
                               &error);
  ASSERT_TRUE(up) << error;
  EXPECT_EQ(up->smb_credentials, "/root/c");
  EXPECT_TRUE(up->no_samba_check);
  auto db = parse_command_line(line({"--upgrade-db", "/b", "--program", "/p", "--smb-credentials=/c"}), &error);
  ASSERT_TRUE(db) << error;
  EXPECT_EQ(db->smb_credentials, "/c");
  auto in = parse_command_line(line({"--silent", "--install", "/p/", "/b/", "--db-path", "Z:\\ZUV\\BAZA\\"}), &error);
  ASSERT_TRUE(in) << error;
  EXPECT_EQ(in->db_path, "Z:\\ZUV\\BAZA\\");

  EXPECT_FALSE(parse_command_line(line({"--silent", "--install", "/p/", "/b/", "--no-samba-check"}), &error));
  EXPECT_NE(error.find("--smb-credentials i --no-samba-check"), std::string::npos) << error;
  EXPECT_FALSE(parse_command_line(line({"--silent", "--upgrade", "/p/", "--db-path", "Z:\\"}), &error));
  EXPECT_NE(error.find("--db-path"), std::string::npos) << error;
  EXPECT_FALSE(parse_command_line(line({"--upgrade-db", "/b", "--program", "/p", "--smb-credentials"}), &error));
  EXPECT_NE(error.find("--smb-credentials"), std::string::npos) << error;
}

TEST(SilentCommandLine, NativeDirectoriesAreShownAsGiven) {
  using zuv::app::given_natively;
  using zuv::app::shown_as_given;
#ifdef _WIN32
  EXPECT_FALSE(given_natively({"/srv/zuv/baza/"}));
#else
  EXPECT_TRUE(given_natively({"C:\\P\\", "/srv/zuv/baza/"}));
#endif
  EXPECT_FALSE(given_natively({"C:\\P\\", "\\\\srv\\zuv\\"}));
  EXPECT_EQ(shown_as_given(true, "Archiwum w /srv/zuv/baza/\\install\\"), "Archiwum w /srv/zuv/baza/install/");
  EXPECT_EQ(shown_as_given(false, "C:\\ZUV\\"), "C:\\ZUV\\");
}

TEST(UndoCommandLine, TheUndoTakesBothDirectoriesAndItsOptionsGoWhereTheyServe) {
  std::string error;
  auto undo = parse_command_line(line({"--undo-db", "D:\\B\\", "--program", "C:\\P\\", "--plan"}), &error);
  ASSERT_TRUE(undo) << error;
  EXPECT_TRUE(undo->undoing());
  EXPECT_TRUE(undo->headless());
  EXPECT_EQ(undo->undo_db, "D:\\B\\");
  EXPECT_TRUE(undo->upgrade_db.empty());
  EXPECT_TRUE(undo->plan);
  auto forget = parse_command_line(line({"--undo-db=/srv/b", "--program=/srv/p", "--forget-undo"}), &error);
  ASSERT_TRUE(forget) << error;
  EXPECT_TRUE(forget->forget_undo);
  auto no_undo = parse_command_line(line({"--silent", "--upgrade", "C:\\P\\", "--no-undo"}), &error);
  ASSERT_TRUE(no_undo) << error;
  EXPECT_TRUE(no_undo->no_undo);

  struct Bad {
    std::vector<std::string> rest;
    const char* said;
  };
  for (const Bad& b : {Bad{{"--undo-db", "D:\\B\\"}, "--program"},
                       Bad{{"--forget-undo"}, "--forget-undo"},
                       Bad{{"--undo-db", "D:\\B\\", "--upgrade-db", "D:\\B\\", "--program", "C:\\P\\"}, "razem"},
                       Bad{{"--silent", "--install", "C:\\P\\", "D:\\B\\", "--no-undo"}, "--no-undo"}}) {
    error.clear();
    EXPECT_FALSE(parse_command_line(line(b.rest), &error));
    EXPECT_NE(error.find(b.said), std::string::npos) << error;
  }
}
