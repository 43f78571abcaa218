#include "platform/os/path.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/os/environment.h"
#include "platform/os/files.h"
#include "platform/os/scratch_dir.h"

namespace zuv::os {
namespace {

TEST(PathParts, SplitAtTheLastSeparator) {
  EXPECT_EQ(file_name_part("C:\\Dane\\firma1\\klienci.dbf"), "klienci.dbf");
  EXPECT_EQ(directory_part("C:\\Dane\\firma1\\klienci.dbf"), "C:\\Dane\\firma1\\");
  EXPECT_EQ(file_name_part("C:\\Dane\\"), "");
  EXPECT_EQ(file_name_part("C:plik.txt"), "plik.txt");
  EXPECT_EQ(directory_part("C:plik.txt"), "C:");
  EXPECT_EQ(file_name_part("plik.txt"), "plik.txt");
  EXPECT_EQ(directory_part("plik.txt"), "");
}

#ifdef _WIN32
TEST(NativePath, IsTheWindowsTextItself) {
  EXPECT_EQ(native_path("C:\\Dane\\Firma1\\"), "C:\\Dane\\Firma1\\");
  EXPECT_EQ(native_path("\\\\srv\\share\\x.dbf"), "\\\\srv\\share\\x.dbf");
}
#else
// Restores a variable the test changes.
struct EnvGuard {
  std::string name, saved;
  explicit EnvGuard(std::string n) : name(std::move(n)), saved(get_env(name)) {}
  ~EnvGuard() { set_env(name, saved); }
};

TEST(NativePath, MapsDrivesNetworkPathsAndRelativePaths) {
  EnvGuard drives("ZUV_DRIVES"), root("ZUV_DRIVE_ROOT"), unc("ZUV_UNC_ROOT");
  set_env("ZUV_DRIVES", "C=/srv/c;d=/data/d/");
  set_env("ZUV_DRIVE_ROOT", "/var/zuv");
  set_env("ZUV_UNC_ROOT", "");
  EXPECT_EQ(native_path("C:\\Dane\\Firma1\\klienci.dbf"), "/srv/c/Dane/Firma1/klienci.dbf");
  EXPECT_EQ(native_path("D:\\"), "/data/d/");
  EXPECT_EQ(native_path("c:\\x"), "/srv/c/x");
  // Letters not in the map: a directory per drive under the root.
  EXPECT_EQ(native_path("E:\\Zuv\\"), "/var/zuv/e/Zuv/");
  // No current directory per drive: "E:x" starts at the drive's root.
  EXPECT_EQ(native_path("E:x"), "/var/zuv/e/x");
  EXPECT_EQ(native_path("\\\\Serwer\\Dane\\baza\\"), "/var/zuv/unc/Serwer/Dane/baza/");
  set_env("ZUV_UNC_ROOT", "/mnt/net");
  EXPECT_EQ(native_path("\\\\Serwer\\Dane\\"), "/mnt/net/Serwer/Dane/");
  // Relative paths stay relative; either separator is accepted.
  EXPECT_EQ(native_path(".\\zz-none\\plik.txt"), "./zz-none/plik.txt");
  EXPECT_EQ(native_path("zz-none\\a/b"), "zz-none/a/b");
  EXPECT_EQ(native_path("\\zz-none\\x"), "/zz-none/x");
  EXPECT_EQ(native_path(".\\"), "./");
}

TEST(NativePath, FindsExistingComponentsWhateverTheirCase) {
  test::ScratchDir dir;
  ASSERT_TRUE(make_directory(dir / "FIRMA1"));
  ASSERT_TRUE(make_directory(dir / "FIRMA1\\Ksef"));
  test::write_all(dir / "FIRMA1\\Ksef\\Klienci.DBF", "x");
  ASSERT_TRUE(make_directory(dir / "ŻÓŁW"));
  std::string root = native_path(dir.path());

  EXPECT_EQ(native_path(dir / "firma1\\ksef\\klienci.dbf"), root + "FIRMA1/Ksef/Klienci.DBF");
  EXPECT_TRUE(file_exists(dir / "Firma1\\KSEF\\KLIENCI.dbf"));
  EXPECT_EQ(native_path(dir / "żółw\\"), root + "ŻÓŁW/");
  // What does not exist keeps the caller's case, below an existing part too.
  EXPECT_EQ(native_path(dir / "firma1\\Nowy\\Plik.TXT"), root + "FIRMA1/Nowy/Plik.TXT");
  ASSERT_TRUE(make_directory(dir / "firma1\\Nowy"));
  EXPECT_TRUE(std::filesystem::is_directory(root + "FIRMA1/Nowy"));
  test::write_all(dir / "FIRMA1\\nowy\\Plik.TXT", "y");
  EXPECT_EQ(test::read_all(dir / "firma1\\NOWY\\plik.txt"), "y");

  // Where Linux holds both spellings, the exact one wins, else the same one every time.
  // Creating "firma1" is refused as on Windows: it is the same name as "FIRMA1".
  EXPECT_EQ(make_directory(dir / "firma1").code, oscode::kAlreadyExists);
  ASSERT_TRUE(std::filesystem::create_directory(root + "firma1"));
  EXPECT_EQ(native_path(dir / "firma1\\"), root + "firma1/");
  EXPECT_EQ(native_path(dir / "FIRMA1\\"), root + "FIRMA1/");
  EXPECT_EQ(native_path(dir / "Firma1\\"), root + "FIRMA1/");
}

TEST(NativePath, TheLastNameIsFoundInADirectoryGivenAsItIs) {
  test::ScratchDir dir;
  ASSERT_TRUE(make_directory(dir / "FIRMA1"));
  test::write_all(dir / "FIRMA1\\Klienci.DBF", "x");
  std::string root = native_path(dir.path());

  EXPECT_EQ(native_path(dir / "FIRMA1\\Klienci.DBF"), root + "FIRMA1/Klienci.DBF");
  EXPECT_EQ(native_path(dir / "FIRMA1\\KLIENCI.dbf"), root + "FIRMA1/Klienci.DBF");
  EXPECT_EQ(native_path(dir / "FIRMA1\\brak.dbf"), root + "FIRMA1/brak.dbf");
  // A second spelling beside it: the exact one first, else the lowest in byte order.
  ASSERT_TRUE(std::filesystem::copy_file(root + "FIRMA1/Klienci.DBF", root + "FIRMA1/KLIENCI.dbf"));
  EXPECT_EQ(native_path(dir / "FIRMA1\\Klienci.DBF"), root + "FIRMA1/Klienci.DBF");
  EXPECT_EQ(native_path(dir / "FIRMA1\\klienci.dbf"), root + "FIRMA1/KLIENCI.dbf");
  // A part that steps back is walked name by name.
  EXPECT_EQ(native_path(dir / "firma1\\..\\FIRMA1\\klienci.DBF"), root + "FIRMA1/../FIRMA1/KLIENCI.dbf");
}
#endif

}  // namespace
}  // namespace zuv::os
