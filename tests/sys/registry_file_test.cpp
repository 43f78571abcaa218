// The Linux registry file: its exact form, files written by hand or by Windows, damaged
// files and failed writes.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <iconv.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "platform/os/durable.h"
#include "platform/os/fault.h"
#include "platform/os/registry.h"
#include "platform/error/error.h"
#include "sys/registry.h"

namespace zuv::sys {
namespace {

namespace reg = os::reg;
namespace fs = std::filesystem;

std::string recode(const std::string& in, const char* from, const char* to) {
  iconv_t cd = iconv_open(to, from);
  std::string out(in.size() * 4 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  size_t left = in.size(), room = out.size();
  char* dst = out.data();
  iconv(cd, &src, &left, &dst, &room);
  iconv_close(cd);
  out.resize(out.size() - room);
  return out;
}

std::string read_bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

// A file as regedit writes it: UTF-16LE with BOM, CR LF.
std::string v5(const std::string& utf8_lf) {
  std::string crlf;
  for (char c : utf8_lf) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return "\xFF\xFE" + recode(crlf, "UTF-8", "UTF-16LE");
}

class RegistryFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zuv-regfile-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    file_ = dir_ / "registry.reg";
    setenv("ZUV_REGISTRY_FILE", file_.c_str(), 1);
  }
  void TearDown() override {
    fs::remove_all(dir_);
    unsetenv("ZUV_REGISTRY_FILE");
  }
  std::string text() { return recode(read_bytes(file_).substr(2), "UTF-16LE", "UTF-8"); }
  fs::path dir_, file_;
};

TEST_F(RegistryFile, WrittenInTheWindowsExportForm) {
  XbpReg r = XbpReg::New("HKEY_CURRENT_USER\\Software\\Trevanor\\Zuv\\2026", true);
  r.Standard(RegValue::of("Parametry instalacyjne ZUV"));
  r.SetValue("Program", RegValue::of("C:\\Księgowość\\"));
  r.SetValue("Cytat", RegValue::of("\"a\""));
  r.SetValue("NoModify", RegValue::of(1));
  r.SaveStringType("B");
  r.SetValue("Bajty", RegValue::of("AB"));
  std::string bytes = read_bytes(file_);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(text(),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Trevanor]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Trevanor\\Zuv]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Trevanor\\Zuv\\2026]\r\n"
            "@=\"Parametry instalacyjne ZUV\"\r\n"
            "\"Program\"=\"C:\\\\Księgowość\\\\\"\r\n"
            "\"Cytat\"=\"\\\"a\\\"\"\r\n"
            "\"NoModify\"=dword:00000001\r\n"
            "\"Bajty\"=hex:41,42\r\n\r\n");
  EXPECT_FALSE(fs::exists(file_.string() + os::kNewSuffix));
}

TEST_F(RegistryFile, AwkwardNamesAndDataSurviveTheFile) {
  XbpReg r = XbpReg::New("HKEY_LOCAL_MACHINE\\Software\\Klucz \"z\" \\ ukośnikiem", true);
  ASSERT_TRUE(r.Status());
  reg::Handle h = 0;
  ASSERT_EQ(reg::open_key(reg::kLocalMachine, r.cKey, reg::kAllAccess, h), 0);
  auto text_data = [](std::string s) {
    std::vector<std::uint8_t> d(s.begin(), s.end());
    d.push_back(0);
    return d;
  };
  std::vector<std::uint8_t> big(300);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i);
  std::vector<std::uint8_t> multi = text_data(std::string("jeden\0dwa\0", 10));
  struct Case {
    std::string name;
    std::uint32_t type;
    std::vector<std::uint8_t> data;
  } cases[] = {
      {"na\"zwa\\", reg::kString, text_data("wartość \"z\" \\ i \\\\")},
      {"wiersze", reg::kString, text_data("a\r\nb")},
      {"bez zera", reg::kString, {'a', 'b'}},
      {"rozwijany", reg::kExpandString, text_data("%TEMP%\\ż")},
      {"lista", reg::kMultiString, multi},
      {"duzy", reg::kBinary, big},
      {"pusty", reg::kBinary, {}},
      {"liczba", reg::kDword, {0xFE, 0xFF, 0xFF, 0xFF}},
      {"krotka", reg::kDword, {1, 2}},
      {"qword", 11, {1, 2, 3, 4, 5, 6, 7, 8}},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(reg::set_value(h, c.name, c.type, c.data), 0) << c.name;
  }
  for (const auto& c : cases) {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(reg::query_value(h, c.name, type, data), 0) << c.name;
    EXPECT_EQ(type, c.type) << c.name;
    EXPECT_EQ(data, c.data) << c.name;
  }
  reg::close_key(h);
  std::string t = text();
  EXPECT_NE(t.find("\"duzy\"=hex:00,01,02"), std::string::npos);
  EXPECT_NE(t.find(",\\\r\n  "), std::string::npos) << "long data continue on the next line";
  EXPECT_NE(t.find("\"wiersze\"=hex(1):"), std::string::npos) << "a text with line breaks is kept as hex";
  EXPECT_NE(t.find("\"liczba\"=dword:fffffffe"), std::string::npos);
  EXPECT_NE(t.find("\"qword\"=hex(b):01,02"), std::string::npos);
}

TEST_F(RegistryFile, FilesWrittenByHandOrByWindowsAreRead) {
  write_bytes(file_, v5("Windows Registry Editor Version 5.00\n"
                        "\n"
                        "; made by hand\n"
                        "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders]\n"
                        "\"Desktop\"=\"C:\\\\Users\\\\Anna\\\\Pulpit\"\n"
                        "\"Reczny\"=\"C:\\Dane\"\n"
                        "\"Dane\"=hex:01,2,\\\n"
                        "  03,04\n"
                        "  \"Wcięty\" = dword:0000000a\n"
                        "[HKEY_CURRENT_USER\\Software\\Stary]\n"
                        "\"x\"=\"1\"\n"
                        "\"y\"=\"2\"\n"
                        "\"y\"=-\n"
                        "[-HKEY_CURRENT_USER\\Software\\Stary]\n"
                        "[HKEY_CURRENT_USER\\Software\\Inny]\n"
                        "\"Wartość\"=hex(2):25,00,41,00,25,00,00,00\n"));
  XbpReg sf = XbpReg::New("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders");
  ASSERT_TRUE(sf.Status());
  EXPECT_EQ(sf.GetValue("Desktop"), RegValue::of("C:\\Users\\Anna\\Pulpit"));
  EXPECT_EQ(sf.GetValue("Reczny"), RegValue::of("C:\\Dane")) << "a single backslash typed by hand";
  sf.ReadBinType("C");
  EXPECT_EQ(sf.GetValue("Dane"), RegValue::of(std::string("\x01\x02\x03\x04")));
  EXPECT_EQ(sf.GetValue("Wcięty"), RegValue::of(10));
  EXPECT_FALSE(XbpReg::New("HKEY_CURRENT_USER\\Software\\Stary").Status());
  setenv("A", "ok", 1);
  EXPECT_EQ(XbpReg::New("HKEY_CURRENT_USER\\Software\\Inny").GetValue("wartość"), RegValue::of("ok"));

  // The same saved as UTF-8 by a text editor, with or without its mark.
  for (std::string mark : {std::string("\xEF\xBB\xBF"), std::string()}) {
    write_bytes(file_, mark + "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n"
                              "\"Ł\"=\"żółw\"\r\n\"E\"=hex(2):42,01,00,00\r\n");
    XbpReg a = XbpReg::New("HKEY_CURRENT_USER\\A");
    EXPECT_EQ(a.GetValue("ł"), RegValue::of("żółw"));
    EXPECT_EQ(a.GetValue("E"), RegValue::of("ł"));
  }

  // The older ANSI form, as Windows 9x and "regedit /a" export it, in code page 1250.
  write_bytes(file_, recode("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Trevanor\\Zuv\\2026]\r\n"
                            "\"Program\"=\"C:\\\\Księgowość\\\\\"\r\n"
                            "\"E\"=hex(2):b3,00\r\n",
                            "UTF-8", "CP1250"));
  XbpReg old = XbpReg::New("HKEY_CURRENT_USER\\Software\\Trevanor\\Zuv\\2026");
  EXPECT_EQ(old.GetValue("Program"), RegValue::of("C:\\Księgowość\\"));
  EXPECT_EQ(old.GetValue("E"), RegValue::of("ł"));
  // The first change rewrites it in the Unicode form, with nothing lost.
  EXPECT_TRUE(old.SetValue("Baza", RegValue::of("D:\\Dane\\")));
  EXPECT_EQ(read_bytes(file_).substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(XbpReg::New(old.KeyName()).GetValue("Program"), RegValue::of("C:\\Księgowość\\"));
}

TEST_F(RegistryFile, DamagedFileIsReportedAndNeverReplaced) {
  const std::string bad_files[] = {
      v5("Windows Registry Editor Version 4.00\n"),
      v5("Windows Registry Editor Version 5.00\n\"x\"=\"outside a key\"\n"),
      v5("Windows Registry Editor Version 5.00\n[HKEY_NOWHERE\\A]\n"),
      v5("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A\n"),
      v5("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"unclosed\n"),
      v5("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"x\"=dword:xyz\n"),
      v5("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"x\"=hex:0g\n"),
      v5("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"a\" b\n"),
      v5("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\nx=1\n"),
      std::string("\x00\x01\x02garbage", 10),
  };
  for (const std::string& bad : bad_files) {
    write_bytes(file_, bad);
    std::vector<ErrorRecord> seen;
    ScopedHandler h([&](ErrorRecord& r) {
      seen.push_back(r);
      return HandlerAnswer::Default;
    });
    XbpReg r = XbpReg::New("HKEY_CURRENT_USER\\A", true);
    EXPECT_FALSE(r.Status());
    EXPECT_EQ(r.nCallSuccess, reg::kBadDb);
    EXPECT_TRUE(r.GetValue("x").is_nil());
    EXPECT_FALSE(r.SetValue("x", RegValue::of("y")));
    EXPECT_EQ(QUERYREGISTRY(reg::kCurrentUser, "A", "x"), "");
    EXPECT_EQ(read_bytes(file_), bad) << "the damaged file is left as it was";
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].osCode, reg::kBadDb);
    EXPECT_EQ(seen[0].genCode, gencode::kCorrupt);
    EXPECT_EQ(seen[0].fileName, file_.string());
    EXPECT_NE(seen[0].description.find("Plik rejestru jest uszkodzony"), std::string::npos);
    EXPECT_TRUE(seen[0].canRetry);
  }
}

TEST_F(RegistryFile, RandomDamageIsEitherReadOrReportedNeverWrittenOver) {
  XbpReg r = XbpReg::New("HKEY_CURRENT_USER\\Software\\Trevanor\\Zuv\\2026", true);
  r.Standard(RegValue::of("Parametry instalacyjne ZUV"));
  r.SetValue("Program", RegValue::of("C:\\Księgowość\\"));
  r.SetValue("Tablica", RegValue::array({RegValue::of("abc"), RegValue::of(5)}));
  r.SetValue("NoModify", RegValue::of(1));
  std::string good = read_bytes(file_);
  std::mt19937 rng(11);
  int reported = 0;
  for (int round = 0; round < 400; ++round) {
    std::string damaged = good;
    int hits = 1 + static_cast<int>(rng() % 3);
    for (int k = 0; k < hits; ++k) {
      size_t at = 2 + rng() % (damaged.size() - 2);
      switch (rng() % 3) {
        case 0: damaged[at] = static_cast<char>(rng()); break;
        case 1: damaged.erase(at, 1 + rng() % 8); break;
        default: damaged.insert(at, 1, "[]\"=,:\\\n\r"[rng() % 9]); break;
      }
    }
    write_bytes(file_, damaged);
    bool seen = false;
    ScopedHandler h([&](ErrorRecord&) {
      seen = true;
      return HandlerAnswer::Default;
    });
    XbpReg k = XbpReg::New("HKEY_CURRENT_USER\\Software\\Trevanor\\Zuv\\2026");
    k.GetValue("Program");
    k.SetValue("Nowa", RegValue::of("x"));
    if (seen) {
      ++reported;
      EXPECT_EQ(read_bytes(file_), damaged) << "round " << round;
    }
  }
  EXPECT_GT(reported, 100);
}

TEST_F(RegistryFile, UnreadableFileIsReportedAndNothingIsWritten) {
  fs::create_directories(file_);  // a directory where the file should be
  std::vector<ErrorRecord> seen;
  ScopedHandler h([&](ErrorRecord& r) {
    seen.push_back(r);
    return HandlerAnswer::Default;
  });
  XbpReg r = XbpReg::New("HKEY_CURRENT_USER\\A", true);
  EXPECT_FALSE(r.Status());
  EXPECT_EQ(r.nCallSuccess, reg::kCantRead);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen[0].genCode, gencode::kRead);
  EXPECT_NE(seen[0].description.find("Nie można odczytać pliku rejestru"), std::string::npos);
  EXPECT_TRUE(fs::is_directory(file_));
}

TEST_F(RegistryFile, RetryAfterRepairReadsTheRepairedFile) {
  write_bytes(file_, v5("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"1\n"));
  int asked = 0;
  ScopedHandler h([&](ErrorRecord&) {
    ++asked;
    write_bytes(file_, v5("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"1\"\n"));
    return HandlerAnswer::Retry;
  });
  EXPECT_EQ(XbpReg::New("HKEY_CURRENT_USER\\A").GetValue("x"), RegValue::of("1"));
  EXPECT_EQ(asked, 1);
}

TEST_F(RegistryFile, FailedWriteLeavesThePreviousFile) {
  XbpReg r = XbpReg::New("HKEY_CURRENT_USER\\A", true);
  r.SetValue("x", RegValue::of("stary"));
  std::string before = read_bytes(file_);
  for (auto op : {os::fault::Op::Create, os::fault::Op::Write, os::fault::Op::Rename}) {
    os::fault::Scope scope;
    os::fault::arm(op, 1, 28);
    EXPECT_FALSE(r.SetValue("x", RegValue::of("nowy")));
    EXPECT_EQ(r.nCallSuccess, reg::kCantWrite);
    os::fault::disarm();
    EXPECT_EQ(read_bytes(file_), before);
    EXPECT_FALSE(fs::exists(file_.string() + os::kNewSuffix));
  }
  EXPECT_EQ(r.GetValue("x"), RegValue::of("stary"));
}

TEST_F(RegistryFile, PlaceComesFromTheSettingOrTheUsersConfigDirectory) {
  EXPECT_EQ(reg::registry_file(), file_.string());
  unsetenv("ZUV_REGISTRY_FILE");
  setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  EXPECT_EQ(reg::registry_file(), (dir_ / "zuv" / "registry.reg").string());
  XbpReg::New("HKEY_CURRENT_USER\\A", true);
  EXPECT_TRUE(fs::exists(dir_ / "zuv" / "registry.reg")) << "the directory is made on the first write";
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_NE(reg::registry_file().find("/.config/zuv/registry.reg"), std::string::npos);
  // A missing file is an empty registry, not an error.
  setenv("ZUV_REGISTRY_FILE", (dir_ / "none.reg").c_str(), 1);
  EXPECT_FALSE(XbpReg::New("HKEY_CURRENT_USER\\A").Status());
  EXPECT_FALSE(fs::exists(dir_ / "none.reg"));
}

}  // namespace
}  // namespace zuv::sys
#endif
