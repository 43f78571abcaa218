#include "lib/files.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/os/codepage.h"
#include "platform/os/fault.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "platform/os/scratch_dir.h"
#include "platform/error/error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace zuv::lib {
namespace {

using test::read_all;
using test::ScratchDir;
using test::write_all;

std::vector<std::string> file_names(const std::string& dir) {
  std::vector<std::string> out;
  for (const os::DirEntry& e : os::list_directory(dir + "*.*", "DHS"))
    if (e.name != "." && e.name != "..") out.push_back(e.name);
  std::sort(out.begin(), out.end());
  return out;
}

TEST(Fcopy, CopiesIntoADirectoryUnderTheSourceNameAndReplacesReadOnlyFiles) {
  ScratchDir dir;
  ASSERT_TRUE(MKDIR(dir / "src\\"));
  ASSERT_TRUE(MKDIR(dir / "dst\\"));
  write_all(dir / "src\\Klienci.DBF", "nowe dane");
  ASSERT_TRUE(FCOPY(dir / "src\\Klienci.DBF", dir / "dst\\"));
  EXPECT_EQ(read_all(dir / "dst\\Klienci.DBF"), "nowe dane");

  // A read-only (and hidden) destination is replaced all the same.
  write_all(dir / "dst\\stary.dbf", "stare dane");
  ASSERT_TRUE(os::change_attributes(dir / "dst\\stary.dbf", "+R+H"));
  ASSERT_TRUE(FCOPY(dir / "src\\Klienci.DBF", dir / "dst\\stary.dbf"));
  EXPECT_EQ(read_all(dir / "dst\\stary.dbf"), "nowe dane");
  EXPECT_EQ(os::get_attributes(dir / "dst\\stary.dbf").value & (os::kReadOnly | os::kHidden), 0u);
  EXPECT_EQ(file_names(dir / "dst\\"), (std::vector<std::string>{"Klienci.DBF", "stary.dbf"}));

  // A file copied onto itself stays whole (deleting the destination first would lose it).
  EXPECT_TRUE(FCOPY(dir / "dst\\Klienci.DBF", dir / "dst\\klienci.dbf"));
  EXPECT_EQ(read_all(dir / "dst\\Klienci.DBF"), "nowe dane");

  // A missing source fails after its retries and creates nothing.
  EXPECT_FALSE(FCOPY(dir / "src\\brak.dbf", dir / "dst\\"));
  EXPECT_EQ(file_names(dir / "dst\\").size(), 2u);
}

TEST(Fcopy, FailedCopyOrSwapLeavesTheOldDestinationAndNoTemporaryFile) {
  ScratchDir dir;
  write_all(dir / "nowy.dbf", "nowe dane");
  write_all(dir / "cel.dbf", "stare dane");
  ASSERT_TRUE(os::change_attributes(dir / "cel.dbf", "+R"));
  int handler_calls = 0;
  ScopedHandler outer([&](ErrorRecord&) {
    ++handler_calls;
    return HandlerAnswer::Default;
  });
  {
    os::fault::Scope scope;
    os::fault::arm_from(os::fault::Op::Copy, 1, os::oscode::kDiskFull);
    EXPECT_FALSE(FCOPY(dir / "nowy.dbf", dir / "cel.dbf"));
    EXPECT_EQ(os::fault::counted(os::fault::Op::Copy), 10);
  }
  EXPECT_EQ(read_all(dir / "cel.dbf"), "stare dane");
  EXPECT_TRUE(os::get_attributes(dir / "cel.dbf").value & os::kReadOnly);
  EXPECT_EQ(file_names(dir.path()), (std::vector<std::string>{"cel.dbf", "nowy.dbf"}));
  {
    os::fault::Scope scope;
    os::fault::arm_from(os::fault::Op::Rename, 1, os::oscode::kSharingViolation);
    EXPECT_FALSE(FCOPY(dir / "nowy.dbf", dir / "cel.dbf"));
  }
  EXPECT_EQ(read_all(dir / "cel.dbf"), "stare dane");
  EXPECT_TRUE(os::get_attributes(dir / "cel.dbf").value & os::kReadOnly);  // flags put back
  EXPECT_EQ(file_names(dir.path()), (std::vector<std::string>{"cel.dbf", "nowy.dbf"}));
  // The copy reaches the disk before it takes the destination's place: a sync that
  // fails leaves the old destination.
  {
    os::fault::Scope scope;
    os::fault::arm_from(os::fault::Op::Sync, 1, os::oscode::kIoError);
    EXPECT_FALSE(FCOPY(dir / "nowy.dbf", dir / "cel.dbf"));
  }
  EXPECT_EQ(read_all(dir / "cel.dbf"), "stare dane");
  EXPECT_EQ(file_names(dir.path()), (std::vector<std::string>{"cel.dbf", "nowy.dbf"}));
  // The trapped errors never reached the caller's handler.
  EXPECT_EQ(handler_calls, 0);
  ErrorRecord r;
  EXPECT_EQ(raise_error(r), HandlerAnswer::Default);
  EXPECT_EQ(handler_calls, 1);

  // A failure that passes is ridden out by the retries.
  {
    os::fault::Scope scope;
    os::fault::arm(os::fault::Op::Copy, 1, os::oscode::kSharingViolation);
    EXPECT_TRUE(FCOPY(dir / "nowy.dbf", dir / "cel.dbf"));
    EXPECT_EQ(os::fault::counted(os::fault::Op::Copy), 2);
    EXPECT_EQ(os::fault::counted(os::fault::Op::Sync), 2) << "the copy, then its directory";
  }
  EXPECT_EQ(read_all(dir / "cel.dbf"), "nowe dane");
  // A temporary left by a run cut short is cleared and does not stop the copy.
  write_all(dir / "cel.dbf.zuvnew", "resztki");
  ASSERT_TRUE(os::change_attributes(dir / "cel.dbf.zuvnew", "+R"));
  write_all(dir / "nowy.dbf", "trzecie");
  EXPECT_TRUE(FCOPY(dir / "nowy.dbf", dir / "cel.dbf"));
  EXPECT_EQ(read_all(dir / "cel.dbf"), "trzecie");
  EXPECT_EQ(file_names(dir.path()), (std::vector<std::string>{"cel.dbf", "nowy.dbf"}));
}

TEST(DelFile, AnswersAtOnceForAMissingFileAndClearsAttributesWhenNeeded) {
  ScratchDir dir;
  EXPECT_TRUE(DEL_FILE(dir / "brak.dbf"));
  write_all(dir / "a.dbf", "a");
  ASSERT_TRUE(os::change_attributes(dir / "a.dbf", "+R+S+H"));
  EXPECT_TRUE(DEL_FILE(dir / "a.dbf"));
  EXPECT_FALSE(os::file_exists(dir / "a.dbf"));

  // A file that stays undeletable: false after the passes, and the file is still there.
  write_all(dir / "b.dbf", "b");
  os::fault::Scope scope;
  os::fault::arm_from(os::fault::Op::Delete, 1, os::oscode::kSharingViolation);
  EXPECT_FALSE(DEL_FILE(dir / "b.dbf"));
  EXPECT_EQ(os::fault::counted(os::fault::Op::Delete), 11);
  EXPECT_TRUE(os::file_exists(dir / "b.dbf"));
}

TEST(DelFile, FileHeldExclusivelyIsNotDeletedAndFcopyCannotReplaceIt) {
  ScratchDir dir;
  write_all(dir / "baza.dbf", "dane");
  write_all(dir / "nowa.dbf", "nowe");
#ifdef _WIN32
  HANDLE h = CreateFileW(os::widen(os::native_path(dir / "baza.dbf")).c_str(), GENERIC_READ, 0, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
#else
  int fd = ::open(os::native_path(dir / "baza.dbf").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
#endif
  EXPECT_FALSE(DEL_FILE(dir / "baza.dbf"));
  EXPECT_FALSE(FCOPY(dir / "nowa.dbf", dir / "baza.dbf"));
  EXPECT_FALSE(FCOPY(dir / "baza.dbf", dir / "kopia.dbf"));
#ifdef _WIN32
  CloseHandle(h);
#else
  ::close(fd);
#endif
  EXPECT_EQ(read_all(dir / "baza.dbf"), "dane");
  EXPECT_EQ(file_names(dir.path()), (std::vector<std::string>{"baza.dbf", "nowa.dbf"}));
}

TEST(CopyKat, CopiesPlainFilesUnderLowerCaseNamesHonouringSkipListAndFragments) {
  ScratchDir dir;
  ASSERT_TRUE(MKDIR(dir / "src"));
  ASSERT_TRUE(MKDIR(dir / "src\\PODKAT"));
  ASSERT_TRUE(MKDIR(dir / "dst"));
  for (const char* n : {"ABC.DBF", "XABC.DBF", "Inne.TXT", "ŻÓŁW.DBF", "PODKAT\\W.DBF"})
    write_all(dir / ("src\\" + std::string(n)), n);

  EXPECT_TRUE(COPY_KAT(dir / "src\\", dir / "dst\\"));
  EXPECT_EQ(file_names(dir / "dst\\"), (std::vector<std::string>{"abc.dbf", "inne.txt", "xabc.dbf", "żółw.dbf"}));
  EXPECT_EQ(read_all(dir / "dst\\abc.dbf"), "ABC.DBF");

  ScratchDir d2;
  ASSERT_TRUE(MKDIR(d2 / "dst"));
  // The skip list is upper-cased; a name is skipped only whole, between commas.
  EXPECT_TRUE(COPY_KAT(dir / "src\\", d2 / "dst\\", "*.dbf", ",abc.dbf,żółw.dbf,"));
  EXPECT_EQ(file_names(d2 / "dst\\"), (std::vector<std::string>{"xabc.dbf"}));

  ScratchDir d3;
  ASSERT_TRUE(MKDIR(d3 / "dst"));
  // A fragment skips every name containing it; empty fragments skip nothing.
  EXPECT_TRUE(COPY_KAT(dir / "src\\", d3 / "dst\\", "*.*", "\\", {"abc", ""}));
  EXPECT_EQ(file_names(d3 / "dst\\"), (std::vector<std::string>{"inne.txt", "żółw.dbf"}));

  // No source or no destination: nothing copied.
  EXPECT_TRUE(COPY_KAT("", d3 / "dst\\"));
  EXPECT_TRUE(COPY_KAT(dir / "src\\", ""));
  EXPECT_EQ(file_names(d3 / "dst\\").size(), 2u);
}

TEST(CopyAlesKat, CreatesTheDestinationPathAndCopiesTheTreeKeepingCase) {
  ScratchDir dir;
  ASSERT_TRUE(MKDIR(dir / "ksef"));
  ASSERT_TRUE(MKDIR(dir / "ksef\\Wzory"));
  ASSERT_TRUE(MKDIR(dir / "ksef\\Wzory\\FA3"));
  ASSERT_TRUE(MKDIR(dir / "ksef\\pusty"));
  write_all(dir / "ksef\\Schemat.XSD", "s");
  write_all(dir / "ksef\\Wzory\\FA3\\Faktura.XML", "f");
  write_all(dir / "ksef\\Wzory\\opis.txt", "o");

  // On Linux the second scratch directory is a drive root ("U:\"): only it exists, and
  // everything below it is made level by level.
  ScratchDir other;
  const std::string target = other / "Dane\\Firma\\Rok\\";
  EXPECT_TRUE(COPY_ALES_KAT(dir / "ksef\\", target, "*.*"));
  EXPECT_TRUE(os::directory_exists(target));
  EXPECT_EQ(file_names(target), (std::vector<std::string>{"Schemat.XSD", "Wzory", "pusty"}));
  EXPECT_EQ(file_names(target + "Wzory\\"), (std::vector<std::string>{"FA3", "opis.txt"}));
  EXPECT_EQ(read_all(target + "Wzory\\FA3\\Faktura.XML"), "f");
  EXPECT_TRUE(os::directory_exists(target + "pusty\\"));

  // Again over what is there: files replaced, nothing doubled.
  write_all(dir / "ksef\\Wzory\\opis.txt", "nowy opis");
  EXPECT_TRUE(COPY_ALES_KAT(dir / "ksef\\", target, "*.*"));
  EXPECT_EQ(read_all(target + "Wzory\\opis.txt"), "nowy opis");
  // A missing source copies nothing and still answers true.
  EXPECT_TRUE(COPY_ALES_KAT(dir / "brak\\", target, "*.*"));
}

TEST(DelKat, DeletesMatchingFilesSkippingBySubstringAndKeepsDirectories) {
  ScratchDir dir;
  ASSERT_TRUE(MKDIR(dir / "k"));
  ASSERT_TRUE(MKDIR(dir / "k\\SUB"));
  for (const char* n : {"ABC.DBF", "BC.DBF", "XBC.DBF", "A.CDX", "ns.cfg", "ro.dbf", "SUB\\IN.DBF"})
    write_all(dir / ("k\\" + std::string(n)), "x");
  ASSERT_TRUE(os::change_attributes(dir / "k\\ro.dbf", "+R"));

  // No trailing backslash needed; "ABC.DBF" in the skip list keeps BC.DBF as well.
  EXPECT_TRUE(DEL_KAT(dir / "k", "*.dbf", "ABC.DBF"));
  EXPECT_EQ(file_names(dir / "k\\"), (std::vector<std::string>{"A.CDX", "ABC.DBF", "BC.DBF", "SUB", "ns.cfg"}));
  EXPECT_TRUE(os::file_exists(dir / "k\\SUB\\IN.DBF"));

  // A lower-case skip list protects its file too; fragments skip by substring.
  EXPECT_TRUE(DEL_KAT(dir / "k\\", "*.*", "ns.cfg", {"cdx"}));
  EXPECT_EQ(file_names(dir / "k\\"), (std::vector<std::string>{"A.CDX", "SUB", "ns.cfg"}));
  EXPECT_TRUE(DEL_KAT(dir / "k\\"));
  EXPECT_EQ(file_names(dir / "k\\"), (std::vector<std::string>{"SUB"}));
  EXPECT_TRUE(os::directory_exists(dir / "k\\"));

  // An empty name never empties the root of the drive.
  write_all(dir / "root.dbf", "x");
  EXPECT_TRUE(DEL_KAT(""));
  EXPECT_TRUE(os::file_exists(dir / "root.dbf"));
}

// A firm table marked hidden or system is still one of the firm's files: the walks
// that copy and delete see it as they see any other.
TEST(FileWalks, CopyAndDeleteSeeHiddenAndSystemFiles) {
  ScratchDir dir;
  ASSERT_TRUE(MKDIR(dir / "src"));
  ASSERT_TRUE(MKDIR(dir / "src\\pod"));
  write_all(dir / "src\\jawny.dbf", "j");
  write_all(dir / "src\\ukryty.dbf", "u");
  write_all(dir / "src\\pod\\ukryty.txt", "p");
  ASSERT_TRUE(os::change_attributes(dir / "src\\ukryty.dbf", "+H"));
  ASSERT_TRUE(os::change_attributes(dir / "src\\pod\\ukryty.txt", "+H"));
  std::vector<std::string> expected = {"jawny.dbf", "ukryty.dbf"};
  // A system file where the file system keeps the flag.
  write_all(dir / "src\\systemowy.dbf", "s");
  if (os::change_attributes(dir / "src\\systemowy.dbf", "+S") &&
      (os::get_attributes(dir / "src\\systemowy.dbf").value & os::kSystem))
    expected.push_back("systemowy.dbf");
  else
    EXPECT_TRUE(os::delete_file(dir / "src\\systemowy.dbf").ok());
  std::sort(expected.begin(), expected.end());
  // What the plain listing hides.
  ASSERT_EQ(os::list_directory(dir / "src\\*.*").size(), 1u);

  ASSERT_TRUE(MKDIR(dir / "dst"));
  EXPECT_TRUE(COPY_KAT(dir / "src\\", dir / "dst\\"));
  EXPECT_EQ(file_names(dir / "dst\\"), expected);

  ScratchDir other;
  EXPECT_TRUE(COPY_ALES_KAT(dir / "src\\", other / "kopia\\", "*.*"));
  EXPECT_EQ(read_all(other / "kopia\\ukryty.dbf"), "u");
  EXPECT_EQ(read_all(other / "kopia\\pod\\ukryty.txt"), "p");

  EXPECT_TRUE(DEL_KAT(dir / "dst\\"));
  EXPECT_TRUE(file_names(dir / "dst\\").empty());
  EXPECT_TRUE(DEL_KAT(dir / "src\\", "*.dbf"));
  EXPECT_EQ(file_names(dir / "src\\"), (std::vector<std::string>{"pod"}));
}

TEST(WriteFile, WritesWholeTextAndReportsFailures) {
  ScratchDir dir;
  EXPECT_TRUE(WRITEFILE(dir / "a.txt", "linia 1\r\nlinia 2"));
  EXPECT_EQ(read_all(dir / "a.txt"), "linia 1\r\nlinia 2");
  EXPECT_TRUE(WRITEFILE(dir / "a.txt", ""));
  EXPECT_EQ(read_all(dir / "a.txt"), "");
  EXPECT_FALSE(WRITEFILE(dir / "brak\\a.txt", "x"));
  // A file that could not be created is not success, whatever the text's length.
  EXPECT_FALSE(WRITEFILE(dir / "brak\\a.txt", ""));
  os::fault::Scope scope;
  os::fault::arm(os::fault::Op::Write, 1, os::oscode::kDiskFull);
  EXPECT_FALSE(WRITEFILE(dir / "b.txt", "abc"));
}

TEST(Mkdir, CreatesOneLevelWithOrWithoutTrailingBackslash) {
  ScratchDir dir;
  EXPECT_TRUE(MKDIR(dir / "a\\"));
  EXPECT_TRUE(MKDIR(dir / "a\\b"));
  EXPECT_FALSE(MKDIR(dir / "x\\y\\"));
  EXPECT_FALSE(MKDIR(dir / "a"));
  EXPECT_TRUE(os::directory_exists(dir / "a\\b\\"));
}

TEST(Makedir, CreatesEveryMissingLevel) {
  ScratchDir dir;
  EXPECT_FALSE(MAKEDIR(""));
  EXPECT_FALSE(MAKEDIR("   "));
  EXPECT_FALSE(MAKEDIR("\\"));
  EXPECT_TRUE(MAKEDIR(dir / "a\\b\\c\\"));
  EXPECT_TRUE(os::directory_exists(dir / "a\\b\\c"));
  EXPECT_TRUE(MAKEDIR("  " + dir / "x\\ż\\ółw  "));
  EXPECT_TRUE(os::directory_exists(dir / "x\\ż\\ółw"));
  EXPECT_FALSE(MAKEDIR(dir / "a\\b\\c")) << "the last level existed already";
  EXPECT_TRUE(os::directory_exists(dir / "a\\b\\c"));
}

TEST(OemUpper, UpperCasesPolishLettersInCodePage852) {
  EXPECT_EQ(oem_upper("żółw.dbf"), os::cp852_from_utf8("ŻÓŁW.DBF"));
  EXPECT_EQ(oem_upper("ąćęłńóśźż"), os::cp852_from_utf8("ĄĆĘŁŃÓŚŹŻ"));
  EXPECT_EQ(oem_upper("abc.dbf"), "ABC.DBF");
}

}  // namespace
}  // namespace zuv::lib
