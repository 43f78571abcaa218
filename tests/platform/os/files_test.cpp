#include "platform/os/files.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/os/clock.h"
#include "platform/os/codepage.h"
#include "platform/os/environment.h"
#include "platform/os/fault.h"
#include "platform/os/file_handle.h"
#include "platform/os/path.h"
#include "platform/os/scratch_dir.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace zuv::os {
namespace {

using test::read_all;
using test::ScratchDir;
using test::write_all;

std::vector<std::string> names(const std::vector<DirEntry>& entries) {
  std::vector<std::string> out;
  for (const DirEntry& e : entries) out.push_back(e.name);
  std::sort(out.begin(), out.end());
  return out;
}

// Holds a file the way another program's exclusive open does: deny-all sharing on
// Windows, our advisory exclusive lock on Linux.
class ExclusiveHolder {
 public:
  explicit ExclusiveHolder(const std::string& path) {
#ifdef _WIN32
    handle_ = CreateFileW(widen(native_path(path)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    held_ = handle_ != INVALID_HANDLE_VALUE;
#else
    fd_ = ::open(native_path(path).c_str(), O_RDWR);
    held_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
#endif
  }
  ~ExclusiveHolder() {
#ifdef _WIN32
    if (held_) CloseHandle(handle_);
#else
    if (fd_ >= 0) ::close(fd_);
#endif
  }
  bool held() const { return held_; }

 private:
  bool held_ = false;
#ifdef _WIN32
  HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
  int fd_ = -1;
#endif
};

TEST(Listing, AttributeFiltersMasksAndEntryFields) {
  ScratchDir dir;
  write_all(dir / "ABC.DBF", "12345");
  write_all(dir / "b.dbf", "");
  write_all(dir / "readme", "r");
  write_all(dir / "ukryty.dbf", "h");
  write_all(dir / "systemowy.dbf", "s");
  ASSERT_TRUE(make_directory(dir / "SUB"));
  ASSERT_TRUE(make_directory(dir / "SUB.DBF"));
  ASSERT_TRUE(make_directory(dir / "tajny"));
  ASSERT_TRUE(change_attributes(dir / "ukryty.dbf", "+H"));
  ASSERT_TRUE(change_attributes(dir / "systemowy.dbf", "+S"));
  ASSERT_TRUE(change_attributes(dir / "tajny", "+H"));

  // Plain files only, without any attribute.
  EXPECT_EQ(names(list_directory(dir / "*.*")), (std::vector<std::string>{"ABC.DBF", "b.dbf", "readme"}));
  EXPECT_EQ(names(list_directory(dir / "*.dbf")), (std::vector<std::string>{"ABC.DBF", "b.dbf"}));
  // "D" adds directories, with "." and "..", but not hidden ones.
  EXPECT_EQ(names(list_directory(dir / "*.*", "D")),
            (std::vector<std::string>{".", "..", "ABC.DBF", "SUB", "SUB.DBF", "b.dbf", "readme"}));
  EXPECT_EQ(names(list_directory(dir / "*.DBF", "D")), (std::vector<std::string>{"ABC.DBF", "SUB.DBF", "b.dbf"}));
  // "DHS": everything.
  EXPECT_EQ(list_directory(dir / "*.*", "DHS").size(), 10u);
  EXPECT_EQ(names(list_directory(dir / "*.dbf", "H")), (std::vector<std::string>{"ABC.DBF", "b.dbf", "ukryty.dbf"}));
  // A directory part alone lists everything in it; a missing directory lists nothing.
  EXPECT_EQ(list_directory(dir.path()).size(), 3u);
  EXPECT_TRUE(list_directory(dir / "brak\\*.*", "DHS").empty());

  auto entries = list_directory(dir / "*.*", "DHS");
  auto find = [&](const std::string& n) {
    return *std::find_if(entries.begin(), entries.end(), [&](const DirEntry& e) { return e.name == n; });
  };
  DirEntry abc = find("ABC.DBF");
  EXPECT_EQ(abc.size, 5u);
  EXPECT_EQ(abc.date.size(), 8u);
  EXPECT_EQ(abc.date, today_dtos());
  ASSERT_EQ(abc.time.size(), 8u);
  EXPECT_EQ(abc.time[2], ':');
  EXPECT_EQ(find("SUB").attributes.find('D'), 0u);
  EXPECT_NE(find("tajny").attributes.find('H'), std::string::npos);
  EXPECT_NE(find("systemowy.dbf").attributes.find('S'), std::string::npos);
  EXPECT_EQ(find("readme").attributes.find_first_of("DRHS"), std::string::npos);

#ifndef _WIN32
  // A leading dot hides a name on Linux, "." and ".." excepted.
  write_all(dir / ".ukryty", "x");
  EXPECT_EQ(list_directory(dir / ".*").size(), 0u);
  EXPECT_EQ(names(list_directory(dir / ".*", "DH")), (std::vector<std::string>{".", "..", ".ukryty"}));
  EXPECT_TRUE(change_attributes(dir / ".ukryty", "-H"));  // the dot stays, and so does the flag
  EXPECT_TRUE(get_attributes(dir / ".ukryty").value & kHidden);
  // Linux gives "." and ".." first, then the names in upper-case order.
  std::vector<std::string> order;
  for (const DirEntry& e : list_directory(dir / "*.*", "D")) order.push_back(e.name);
  EXPECT_EQ(order, (std::vector<std::string>{".", "..", "ABC.DBF", "b.dbf", "readme", "SUB", "SUB.DBF"}));
#endif
}

TEST(Attributes, ReadOnlyProtectsAFileUntilCleared) {
  ScratchDir dir;
  std::string f = dir / "stary.dbf";
  write_all(f, "old");
  write_all(dir / "nowy.dbf", "new");
  ASSERT_TRUE(change_attributes(f, "+R"));
  EXPECT_EQ(get_attributes(f).value & (kReadOnly | kHidden | kSystem), unsigned(kReadOnly));

  EXPECT_EQ(copy_file(dir / "nowy.dbf", f).code, oscode::kAccessDenied);
  EXPECT_EQ(delete_file(f).code, oscode::kAccessDenied);
  EXPECT_EQ(rename_file(dir / "nowy.dbf", f).code, oscode::kAccessDenied);
  EXPECT_EQ(write_file(f, "x").code, oscode::kAccessDenied);
  EXPECT_EQ(read_all(f), "old");
  EXPECT_TRUE(file_exists(dir / "nowy.dbf"));

  // A copy carries the source's read-only flag.
  ASSERT_TRUE(copy_file(f, dir / "kopia.dbf"));
  EXPECT_TRUE(get_attributes(dir / "kopia.dbf").value & kReadOnly);

  ASSERT_TRUE(change_attributes(f, "+H+S"));
  EXPECT_EQ(get_attributes(f).value & (kReadOnly | kHidden | kSystem), unsigned(kReadOnly | kHidden | kSystem));
  ASSERT_TRUE(change_attributes(f, "-R-S-H"));
  EXPECT_EQ(get_attributes(f).value & (kReadOnly | kHidden | kSystem), 0u);
  EXPECT_TRUE(delete_file(f));
  EXPECT_FALSE(file_exists(f));
  EXPECT_EQ(get_attributes(f).code, oscode::kFileNotFound);
}

TEST(Attributes, ChangeTextsParse) {
  AttrChange c = parse_attribute_change("-R-S-H");
  EXPECT_EQ(c.clear, unsigned(kReadOnly | kSystem | kHidden));
  EXPECT_EQ(c.set, 0u);
  c = parse_attribute_change("+h-r");
  EXPECT_EQ(c.set, unsigned(kHidden));
  EXPECT_EQ(c.clear, unsigned(kReadOnly));
  c = parse_attribute_change("R");
  EXPECT_EQ(c.set, unsigned(kReadOnly));
  EXPECT_EQ(attribute_letters(kDirectory | kHidden | kReadOnly), "DRH");
}

// The Windows-path and the native-path test have different names: a std::string of
// Windows text is never taken for a native path because of its C++ type.
TEST(FileOperations, WindowsPathTextAndNativePathsAreTestedByTheirOwnFunctions) {
  ScratchDir dir;
  EXPECT_TRUE(make_directory(dir / "Sub").ok());
  write_all(dir / "Sub\\Plik.txt", "x");
  const std::string windows_text = dir / "sub\\PLIK.TXT";
  EXPECT_TRUE(file_exists(windows_text));
  EXPECT_TRUE(native_file_exists(native_path(windows_text)));
#ifndef _WIN32
  // Backslashes and another letter case mean nothing to the native call.
  EXPECT_FALSE(native_file_exists(windows_text));
#endif
  EXPECT_FALSE(native_file_exists(native_path(dir / "Sub")));
}

TEST(FileOperations, CopyRenameDeleteAndDirectories) {
  ScratchDir dir;
  write_all(dir / "a.txt", "zawartość");
  EXPECT_TRUE(file_exists(dir / "a.txt"));
  EXPECT_FALSE(directory_exists(dir / "a.txt"));
  EXPECT_TRUE(directory_exists(dir.path()));
  EXPECT_FALSE(file_exists(dir.path()));
  EXPECT_EQ(file_size(dir / "a.txt").value, std::string("zawartość").size());
  EXPECT_EQ(file_size(dir / "brak.txt").code, oscode::kFileNotFound);

  // Copy over an existing file, keeping the source's time of last write.
  write_all(dir / "b.txt", "stara treść, dłuższa od nowej");
  ASSERT_TRUE(copy_file(dir / "a.txt", dir / "b.txt"));
  EXPECT_EQ(read_all(dir / "b.txt"), "zawartość");
  auto time_of = [&](const std::string& n) { return list_directory(dir / n).at(0).time; };
  EXPECT_EQ(time_of("a.txt"), time_of("b.txt"));
  EXPECT_EQ(copy_file(dir / "brak.txt", dir / "c.txt").code, oscode::kFileNotFound);
  EXPECT_EQ(copy_file(dir / "a.txt", dir / "brak\\c.txt").code, oscode::kPathNotFound);
  EXPECT_FALSE(file_exists(dir / "c.txt"));

  // Rename replaces the destination.
  write_all(dir / "c.txt", "c");
  ASSERT_TRUE(rename_file(dir / "c.txt", dir / "b.txt"));
  EXPECT_EQ(read_all(dir / "b.txt"), "c");
  EXPECT_FALSE(file_exists(dir / "c.txt"));
  EXPECT_EQ(rename_file(dir / "c.txt", dir / "d.txt").code, oscode::kFileNotFound);

  EXPECT_TRUE(delete_file(dir / "b.txt"));
  EXPECT_EQ(delete_file(dir / "b.txt").code, oscode::kFileNotFound);
  EXPECT_EQ(delete_file(dir / "brak\\b.txt").code, oscode::kPathNotFound);

  // Directories: one level at a time, only empty ones removed.
  EXPECT_EQ(make_directory(dir / "x\\y").code, oscode::kPathNotFound);
  ASSERT_TRUE(make_directory(dir / "x\\"));
  EXPECT_EQ(make_directory(dir / "x").code, oscode::kAlreadyExists);
  ASSERT_TRUE(make_directory(dir / "x\\y"));
  EXPECT_EQ(remove_directory(dir / "x").code, oscode::kDirNotEmpty);
  EXPECT_EQ(delete_file(dir / "x\\y").code, oscode::kAccessDenied);
  EXPECT_TRUE(remove_directory(dir / "x\\y"));
  EXPECT_TRUE(remove_directory(dir / "x"));
  EXPECT_FALSE(directory_exists(dir / "x"));

  // write_file truncates what was there.
  write_all(dir / "w.txt", "długi tekst");
  auto w = write_file(dir / "w.txt", "ab");
  EXPECT_TRUE(w.ok());
  EXPECT_EQ(w.value, 2u);
  EXPECT_EQ(read_all(dir / "w.txt"), "ab");
  EXPECT_EQ(write_file(dir / "brak\\w.txt", "ab").code, oscode::kPathNotFound);
}

TEST(FileOperations, FaultSwitchFailsTheChosenOperationWithItsCode) {
  ScratchDir dir;
  write_all(dir / "a.txt", "nowa");
  write_all(dir / "b.txt", "stara");
  fault::Scope scope;
  fault::arm(fault::Op::Copy, 1, oscode::kDiskFull);
  EXPECT_EQ(copy_file(dir / "a.txt", dir / "b.txt").code, oscode::kDiskFull);
  EXPECT_EQ(read_all(dir / "b.txt"), "stara");
  EXPECT_TRUE(copy_file(dir / "a.txt", dir / "c.txt"));  // only the first one fails

  fault::arm(fault::Op::Rename, 1, oscode::kSharingViolation);
  EXPECT_EQ(rename_file(dir / "c.txt", dir / "b.txt").code, oscode::kSharingViolation);
  EXPECT_EQ(read_all(dir / "b.txt"), "stara");

  fault::arm(fault::Op::Delete, 1, oscode::kAccessDenied);
  EXPECT_EQ(delete_file(dir / "c.txt").code, oscode::kAccessDenied);
  EXPECT_TRUE(file_exists(dir / "c.txt"));

  fault::arm(fault::Op::Create, 1, oscode::kDiskFull);
  EXPECT_EQ(make_directory(dir / "k").code, oscode::kDiskFull);
  EXPECT_FALSE(directory_exists(dir / "k"));
  fault::arm(fault::Op::Create, 1, oscode::kDiskFull);
  EXPECT_EQ(write_file(dir / "n.txt", "x").code, oscode::kDiskFull);
  EXPECT_FALSE(file_exists(dir / "n.txt"));

  fault::arm(fault::Op::Write, 1, oscode::kDiskFull);
  auto w = write_file(dir / "n.txt", "abc");
  EXPECT_EQ(w.code, oscode::kDiskFull);
  EXPECT_EQ(w.value, 0u);
}

TEST(FileOperations, FileHeldExclusivelyElsewhereGivesSharingViolation) {
  ScratchDir dir;
  write_all(dir / "baza.dbf", "dane");
  write_all(dir / "inny.dbf", "inne");
  ExclusiveHolder holder(dir / "baza.dbf");
  ASSERT_TRUE(holder.held());
  EXPECT_EQ(copy_file(dir / "baza.dbf", dir / "kopia.dbf").code, oscode::kSharingViolation);
  EXPECT_EQ(copy_file(dir / "inny.dbf", dir / "baza.dbf").code, oscode::kSharingViolation);
  EXPECT_EQ(delete_file(dir / "baza.dbf").code, oscode::kSharingViolation);
  // Windows answers "access denied" when the file a rename would replace is held.
  EXPECT_EQ(rename_file(dir / "inny.dbf", dir / "baza.dbf").code, oscode::kAccessDenied);
  EXPECT_EQ(rename_file(dir / "baza.dbf", dir / "nowa.dbf").code, oscode::kSharingViolation);
  EXPECT_TRUE(file_exists(dir / "inny.dbf"));
  EXPECT_FALSE(file_exists(dir / "kopia.dbf"));
}

TEST(FileOperations, RemoveTreeTakesEverythingBelowButNeverFollowsALink) {
  ScratchDir dir;
  ASSERT_TRUE(make_directory(dir / "drzewo").ok());
  ASSERT_TRUE(make_directory(dir / "drzewo\\głąb").ok());
  write_all(dir / "drzewo\\głąb\\tylko.dbf", "r");
  write_all(dir / "drzewo\\ukryty.txt", "h");
  ASSERT_TRUE(change_attributes(dir / "drzewo\\głąb\\tylko.dbf", "+R").ok());
  ASSERT_TRUE(change_attributes(dir / "drzewo\\ukryty.txt", "+H+S").ok());
  ASSERT_TRUE(make_directory(dir / "obok").ok());
  write_all(dir / "obok\\zostaje.txt", "z");
#ifndef _WIN32
  ASSERT_EQ(::symlink(native_path(dir / "obok").c_str(), native_path(dir / "drzewo\\link").c_str()), 0);
#endif
  // A disk that refuses deletes: the first refusal is answered, naming its file, and
  // the tree stays.
  {
    fault::Scope scope;
    fault::arm_from(fault::Op::Delete, 1, oscode::kAccessDenied);
    Status st = remove_tree(dir / "drzewo\\");
    EXPECT_EQ(st.code, oscode::kAccessDenied);
    EXPECT_NE(st.path().find("drzewo"), std::string::npos) << st.path();
    EXPECT_TRUE(directory_exists(dir / "drzewo\\głąb"));
  }
  EXPECT_TRUE(remove_tree(dir / "drzewo\\").ok());
  EXPECT_FALSE(directory_exists(dir / "drzewo"));
  EXPECT_EQ(read_all(dir / "obok\\zostaje.txt"), "z");
}

TEST(Environment, SetsReadsAndRemovesUtf8Values) {
  ASSERT_TRUE(set_env("ZUV_TEST_ZMIENNA", "zażółć gęślą"));
  EXPECT_EQ(get_env("ZUV_TEST_ZMIENNA"), "zażółć gęślą");
  ASSERT_TRUE(set_env("ZUV_TEST_ZMIENNA", ""));
  EXPECT_EQ(get_env("ZUV_TEST_ZMIENNA"), "");
  EXPECT_FALSE(set_env("ZŁA=NAZWA", "x"));
  EXPECT_EQ(get_env("ZUV_TEST_NIE_MA_TAKIEJ"), "");
  EXPECT_FALSE(host_name().empty());
}

TEST(Clock, TimeOfDayAgreesWithSecondsSinceMidnight) {
  double s = seconds_since_midnight();
  EXPECT_GE(s, 0.0);
  EXPECT_LT(s, 86400.0);
  std::string t = time_of_day();
  ASSERT_EQ(t.size(), 8u);
  int from_text = std::stoi(t.substr(0, 2)) * 3600 + std::stoi(t.substr(3, 2)) * 60 + std::stoi(t.substr(6, 2));
  double diff = from_text - s;
  EXPECT_TRUE(std::abs(diff) < 2.0 || std::abs(diff) > 86000.0) << t << " vs " << s;  // midnight roll-over
  LocalDateTime d = now();
  EXPECT_EQ(today_dtos().size(), 8u);
  EXPECT_GE(d.month, 1);
  EXPECT_LE(d.month, 12);
  EXPECT_LT(d.hundredths, 100);
}

}  // namespace
}  // namespace zuv::os
