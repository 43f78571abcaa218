// Names looked up case-insensitively stay right while their directory changes: through
// this layer (the kept listing is updated) and behind its back (the listing is read
// again). Linux only: Windows answers these look-ups itself.
#ifndef _WIN32

#include "platform/os/dir_listing_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/os/file_handle.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "platform/os/scratch_dir.h"

namespace zuv::os {
namespace {

void touch(const std::string& native) {
  int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << native;
  ::close(fd);
}

// Whether a listing of this directory is kept at all: two look-ups of a missing name
// read it only once then. Kernels and file systems without fine-grained directory times
// keep nothing, and there only the answers can be checked.
bool kept(const test::ScratchDir& dir) {
  native_path(dir / "zz-brak-1");
  std::uint64_t before = dir_listing::reads();
  native_path(dir / "zz-brak-2");
  return dir_listing::reads() == before;
}

TEST(DirListing, ChangesThroughTheLayerAreSeenAtOnceWithoutReadingAgain) {
  test::ScratchDir dir;
  std::string root = native_path(dir.path());
  bool keeps = kept(dir);
  std::uint64_t reads = dir_listing::reads();

  EXPECT_EQ(native_path(dir / "Nowy.TXT"), root + "Nowy.TXT");
  ASSERT_EQ(write_file(dir / "NOWY.txt", "abc").code, 0);
  EXPECT_EQ(native_path(dir / "nowy.txt"), root + "NOWY.txt");
  EXPECT_TRUE(file_exists(dir / "Nowy.Txt"));

  ASSERT_TRUE(rename_file(dir / "nowy.txt", dir / "Inny.txt"));
  EXPECT_EQ(native_path(dir / "NOWY.TXT"), root + "NOWY.TXT");
  EXPECT_FALSE(file_exists(dir / "nowy.txt"));
  EXPECT_EQ(native_path(dir / "INNY.TXT"), root + "Inny.txt");

  ASSERT_TRUE(copy_file(dir / "inny.txt", dir / "Kopia.TXT"));
  EXPECT_EQ(native_path(dir / "kopia.txt"), root + "Kopia.TXT");
  ASSERT_TRUE(delete_file(dir / "INNY.TXT"));
  EXPECT_EQ(native_path(dir / "inny.txt"), root + "inny.txt");
  EXPECT_FALSE(file_exists(dir / "Inny.txt"));

  ASSERT_TRUE(make_directory(dir / "Kat"));
  EXPECT_EQ(native_path(dir / "KAT\\"), root + "Kat/");
  ASSERT_TRUE(remove_directory(dir / "kat"));
  EXPECT_EQ(native_path(dir / "KAT\\"), root + "KAT/");

  // The handle layer takes native names.
  FileHandle h;
  ASSERT_EQ(h.create(root + "Plik.tmp", Share::Exclusive), 0);
  h.close();
  EXPECT_EQ(native_path(dir / "PLIK.TMP"), root + "Plik.tmp");
  ASSERT_EQ(replace_file(root + "Plik.tmp", root + "Dane.DBF"), 0);
  EXPECT_EQ(native_path(dir / "plik.tmp"), root + "plik.tmp");
  EXPECT_EQ(native_path(dir / "DANE.dbf"), root + "Dane.DBF");
  ASSERT_EQ(link_file(root + "Dane.DBF", root + "Link.DBF"), 0);
  EXPECT_EQ(native_path(dir / "link.dbf"), root + "Link.DBF");
  // Renaming one link of a file onto another leaves both.
  ASSERT_EQ(replace_file(root + "Link.DBF", root + "Dane.DBF"), 0);
  EXPECT_EQ(native_path(dir / "LINK.DBF"), root + "Link.DBF");
  ASSERT_EQ(remove_file(root + "Link.DBF"), 0);
  EXPECT_EQ(native_path(dir / "LINK.DBF"), root + "LINK.DBF");

  if (keeps) {
    EXPECT_EQ(dir_listing::reads(), reads);  // every change went into the listing
  }
}

TEST(DirListing, ChangesBehindTheLayersBackAreSeen) {
  test::ScratchDir dir;
  std::string root = native_path(dir.path());
  // Again and again, with no pause: a change within one clock tick of the last look
  // must show too.
  for (int i = 0; i < 50; ++i) {
    std::string n = std::to_string(i);
    EXPECT_EQ(native_path(dir / ("obcy" + n + ".txt")), root + "obcy" + n + ".txt");
    touch(root + "OBCY" + n + ".TXT");
    EXPECT_EQ(native_path(dir / ("obcy" + n + ".txt")), root + "OBCY" + n + ".TXT");
    ASSERT_EQ(::rename((root + "OBCY" + n + ".TXT").c_str(), (root + "Inny" + n + ".txt").c_str()), 0);
    EXPECT_EQ(native_path(dir / ("obcy" + n + ".txt")), root + "obcy" + n + ".txt");
    EXPECT_EQ(native_path(dir / ("INNY" + n + ".TXT")), root + "Inny" + n + ".txt");
    ASSERT_EQ(::unlink((root + "Inny" + n + ".txt").c_str()), 0);
    EXPECT_EQ(native_path(dir / ("INNY" + n + ".TXT")), root + "INNY" + n + ".TXT");
  }

  // Right after a change through the layer, whose new times the listing took.
  ASSERT_EQ(write_file(dir / "Nasz.txt", "x").code, 0);
  touch(root + "OBCY.TXT");
  EXPECT_EQ(native_path(dir / "Obcy.Txt"), root + "OBCY.TXT");
  EXPECT_EQ(native_path(dir / "NASZ.TXT"), root + "Nasz.txt");
}

TEST(DirListing, OfSeveralSpellingsTheLowestInByteOrderWinsAlsoAfterOneGoes) {
  test::ScratchDir dir;
  std::string root = native_path(dir.path());
  EXPECT_EQ(native_path(dir / "KLIENCI.DBF"), root + "KLIENCI.DBF");
  touch(root + "Klienci.DBF");
  touch(root + "kLiEnCi.dbf");
  touch(root + "KLIENCI.dbf");
  // 'L' (4C) sorts before 'l' (6C), and 'K' (4B) before 'k' (6B).
  EXPECT_EQ(native_path(dir / "klienci.DBF"), root + "KLIENCI.dbf");
  ASSERT_EQ(remove_file(root + "KLIENCI.dbf"), 0);
  EXPECT_EQ(native_path(dir / "klienci.DBF"), root + "Klienci.DBF");
  ASSERT_EQ(::unlink((root + "Klienci.DBF").c_str()), 0);
  EXPECT_EQ(native_path(dir / "klienci.DBF"), root + "kLiEnCi.dbf");
  // A spelling added through the layer that sorts lower takes over.
  FileHandle h;
  ASSERT_EQ(h.create(root + "KLIENCI.Dbf", Share::Exclusive), 0);
  h.close();
  EXPECT_EQ(native_path(dir / "klienci.DBF"), root + "KLIENCI.Dbf");
}

TEST(DirListing, ADirectoryReplacedAtTheSamePathIsReadAnew) {
  test::ScratchDir dir;
  std::string root = native_path(dir.path());
  ASSERT_TRUE(make_directory(dir / "Firma"));
  ASSERT_EQ(write_file(dir / "Firma\\Alfa.txt", "a").code, 0);
  EXPECT_EQ(native_path(dir / "FIRMA\\ALFA.TXT"), root + "Firma/Alfa.txt");

  // Through the layer.
  ASSERT_TRUE(delete_file(dir / "firma\\alfa.txt"));
  ASSERT_TRUE(remove_directory(dir / "firma"));
  ASSERT_TRUE(make_directory(dir / "Firma"));
  touch(root + "Firma/ALFA.TXT");
  EXPECT_EQ(native_path(dir / "firma\\alfa.txt"), root + "Firma/ALFA.TXT");

  // Behind its back: a directory made elsewhere is moved in, and nothing in it changes
  // after the move.
  ASSERT_EQ(::mkdir((root + "nowa").c_str(), 0755), 0);
  touch(root + "nowa/aLFA.txt");
  EXPECT_EQ(native_path(dir / "Firma\\Alfa.TXT"), root + "Firma/ALFA.TXT");
  ASSERT_EQ(::rename((root + "Firma").c_str(), (root + "stara").c_str()), 0);
  ASSERT_EQ(::rename((root + "nowa").c_str(), (root + "Firma").c_str()), 0);
  EXPECT_EQ(native_path(dir / "Firma\\Alfa.TXT"), root + "Firma/aLFA.txt");
  EXPECT_EQ(native_path(dir / "STARA\\alfa.txt"), root + "stara/ALFA.TXT");
}

}  // namespace
}  // namespace zuv::os

#endif
