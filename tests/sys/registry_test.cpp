// The registry class and the thin functions, on the real Windows registry (under Wine)
// and on the Linux registry file. What Windows stored is read back by regedit.
#include "sys/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/error/error.h"
#include "sys/regedit_export.h"

namespace zuv::sys {
namespace {

namespace reg = os::reg;

void set_env(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");
#else
  if (value) setenv(name, value, 1);
  else unsetenv(name);
#endif
}

void remove_tree(const std::string& path) {
  XbpReg r = XbpReg::New(path);
  if (!r.Status()) return;
  for (const auto& k : r.KeyList()) remove_tree(path + "\\" + k);
  size_t slash = path.rfind('\\');
  XbpReg parent = XbpReg::New(path.substr(0, slash));
  parent.DelKey(path.substr(slash + 1));
}

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    dir_ = std::filesystem::temp_directory_path() /
           ("zuv-reg-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    set_env("ZUV_REGISTRY_FILE", (dir_ / "registry.reg").c_str());
#endif
    base_ = std::string("HKEY_CURRENT_USER\\Software\\ZuvTest\\") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    remove_tree(base_);
  }
  void TearDown() override {
    remove_tree(base_);
#ifndef _WIN32
    std::filesystem::remove_all(dir_);
    set_env("ZUV_REGISTRY_FILE", nullptr);
#endif
  }
  // No registry call may hand an error to the handler in these tests.
  ScopedHandler no_errors_{[](ErrorRecord& r) {
    ADD_FAILURE() << "unexpected error: " << r.description;
    return HandlerAnswer::Default;
  }};
  std::filesystem::path dir_;
  std::string base_;
};

TEST_F(Registry, KeyPathsBindByRootPrefixWithOrWithoutLeadingBackslash) {
  XbpReg made = XbpReg::New(base_ + "\\A", true);
  ASSERT_TRUE(made.Status());
  EXPECT_EQ(made.nHKey, reg::kCurrentUser);

  std::string sub = base_.substr(std::string("HKEY_CURRENT_USER\\").size()) + "\\A";
  for (const std::string& path : {"\\" + base_ + "\\A", "HKEY_CURRENT_USERS\\" + sub}) {
    XbpReg r = XbpReg::New(path);
    EXPECT_TRUE(r.Status()) << path;
    EXPECT_EQ(r.nHKey, reg::kCurrentUser) << path;
    EXPECT_EQ(r.cKey, sub) << path;
    EXPECT_EQ(r.KeyName(), "HKEY_CURRENT_USER\\" + sub);
  }

  XbpReg unknown = XbpReg::New("HKEY_NOWHERE\\Software", true);
  EXPECT_EQ(unknown.nHKey, 0u);
  EXPECT_FALSE(unknown.Status());
  EXPECT_FALSE(unknown.Create());
  EXPECT_TRUE(unknown.GetValue("x").is_nil());

  // Without the create flag a missing key stays missing until Create().
  XbpReg missing = XbpReg::New(base_ + "\\B");
  EXPECT_FALSE(missing.Status());
  EXPECT_TRUE(missing.Create());
  EXPECT_TRUE(XbpReg::New(base_ + "\\B").Status());
}

TEST_F(Registry, ValuesOfEveryKindReadBackAsWritten) {
  XbpReg r = XbpReg::New(base_, true);
  ASSERT_TRUE(r.Status());
  EXPECT_TRUE(r.SetValue("Tekst", RegValue::of("C:\\Księgowość\\ZUV 2026\\")));
  EXPECT_TRUE(r.SetValue("Pusty", RegValue::of("")));
  EXPECT_TRUE(r.SetValue("Liczba", RegValue::of(-7)));
  EXPECT_TRUE(r.SetValue("Duza", RegValue::of(0x7FFFFFFFLL)));
  RegValue list = RegValue::array({RegValue::of("a"), RegValue::of(12), RegValue::of(true), RegValue::nil(),
                                   RegValue::array({RegValue::of("żółw")})});
  EXPECT_TRUE(r.SetValue("Tablica", list));
  EXPECT_EQ(r.nCallSuccess, 0);

  XbpReg again = XbpReg::New(base_);
  EXPECT_EQ(again.GetValue("Tekst"), RegValue::of("C:\\Księgowość\\ZUV 2026\\"));
  EXPECT_EQ(again.GetValue("tekst"), RegValue::of("C:\\Księgowość\\ZUV 2026\\")) << "names are case-insensitive";
  EXPECT_EQ(again.GetValue("Pusty"), RegValue::of(""));
  EXPECT_EQ(again.GetValue("Liczba"), RegValue::of(-7));
  EXPECT_EQ(again.GetValue("Duza"), RegValue::of(0x7FFFFFFFLL));
  EXPECT_EQ(again.GetValue("Tablica"), list);
  EXPECT_EQ(again.xValue, list);

  // Texts saved as binary are ANSI bytes; read as "C" they are the same text again,
  // read as "N" the first four bytes as a number.
  again.SaveStringType("B");
  EXPECT_TRUE(again.SetValue("Binarny", RegValue::of("Łódź")));
  again.ReadBinType("C");
  EXPECT_EQ(again.GetValue("Binarny"), RegValue::of("Łódź"));
  again.SaveStringType("C");
  again.SetValue("Cztery", RegValue::of("ABCD"));
  again.SaveStringType("B");
  again.SetValue("Cztery", RegValue::of("ABCD"));
  again.ReadBinType("N");
  EXPECT_EQ(again.GetValue("Cztery"), RegValue::of(0x44434241LL));
  // "A" falls back to the bytes as text when they are not a serialised value.
  again.ReadBinType("A");
  EXPECT_EQ(again.GetValue("Cztery"), RegValue::of("ABCD"));
  // A fresh Init restores the default type settings unless told to keep them.
  again.Init(base_);
  EXPECT_EQ(again.ReadBinType(), "A");
  EXPECT_EQ(again.SaveStringType(), "C");
}

TEST_F(Registry, MissingKeysAndValuesGiveNothingAndWindowsCodes) {
  XbpReg r = XbpReg::New(base_, true);
  EXPECT_TRUE(r.GetValue("Brak").is_nil());
  EXPECT_EQ(r.nCallSuccess, reg::kFileNotFound);
  EXPECT_FALSE(r.DelValue("Brak"));
  EXPECT_EQ(r.nCallSuccess, reg::kFileNotFound);

  XbpReg gone = XbpReg::New(base_ + "\\Nie\\Ma");
  EXPECT_FALSE(gone.Status());
  EXPECT_TRUE(gone.GetValue("x").is_nil());
  EXPECT_EQ(gone.nCallSuccess, reg::kFileNotFound);
  EXPECT_FALSE(gone.SetValue("x", RegValue::of("y"))) << "writing never creates a key";
  EXPECT_FALSE(XbpReg::New(base_ + "\\Nie").Status());

  reg::Handle h = 0;
  std::string sub = base_.substr(18);
  EXPECT_EQ(REGOPENKEYEXA(reg::kCurrentUser, sub + "\\Nie", 0, reg::kQueryValue, h), reg::kFileNotFound);
  EXPECT_EQ(QUERYREGISTRY(reg::kCurrentUser, sub + "\\Nie", "x"), "");
  EXPECT_EQ(QUERYREGISTRY(reg::kCurrentUser, sub, "Brak"), "");
}

TEST_F(Registry, ExpandableStringsTakeEnvironmentValues) {
  XbpReg r = XbpReg::New(base_, true);
  reg::Handle h = 0;
  ASSERT_EQ(reg::open_key(reg::kCurrentUser, r.cKey, reg::kAllAccess, h), 0);
  auto put = [&](const char* name, std::string text) {
    std::vector<std::uint8_t> d(text.begin(), text.end());
    d.push_back(0);
    EXPECT_EQ(reg::set_value(h, name, reg::kExpandString, d), 0);
  };
  put("Pulpit", "%ZUVTEST_PROFILE%\\Desktop");
  put("Dwa", "%ZUVTEST_A%-%ZUVTEST_B%%ZUVTEST_A%");
  put("Brak", "x%ZUVTEST_UNSET%y");
  put("Jeden", "100% pewne");
  put("Petla", "%ZUVTEST_LOOP%");
  reg::close_key(h);
  set_env("ZUVTEST_PROFILE", "C:\\Users\\Księgowa");
  set_env("ZUVTEST_A", "a");
  set_env("ZUVTEST_B", "b");
  set_env("ZUVTEST_UNSET", nullptr);
  set_env("ZUVTEST_LOOP", "%ZUVTEST_LOOP%");
  EXPECT_EQ(r.GetValue("Pulpit"), RegValue::of("C:\\Users\\Księgowa\\Desktop"));
  EXPECT_EQ(r.GetValue("Dwa"), RegValue::of("a-ba"));
  EXPECT_EQ(r.GetValue("Brak"), RegValue::of("xy"));
  EXPECT_EQ(r.GetValue("Jeden"), RegValue::of("100% pewne"));
  EXPECT_EQ(r.GetValue("Petla"), RegValue::of("%ZUVTEST_LOOP%")) << "a value is not expanded again";
}

TEST_F(Registry, DefaultValueSubkeysAndLists) {
  XbpReg r = XbpReg::New(base_, true);
  EXPECT_EQ(r.Standard(RegValue::of("Parametry")), RegValue::of("Parametry"));
  EXPECT_EQ(r.Standard(), RegValue::of("Parametry"));

  EXPECT_TRUE(r.NewKey("beta"));
  EXPECT_EQ(r.cKey, base_.substr(18) + "\\beta");
  EXPECT_TRUE(r.MoveUp());
  EXPECT_EQ(r.cKey, base_.substr(18));
  EXPECT_TRUE(r.NewKey("Alfa"));
  r.MoveUp();
  EXPECT_TRUE(r.NewKey("gamma"));
  r.MoveUp();
  EXPECT_EQ(r.KeyList(), (std::vector<std::string>{"Alfa", "beta", "gamma"}));

  EXPECT_TRUE(r.MoveDown("Alfa"));
  EXPECT_TRUE(r.Status());
  EXPECT_EQ(r.KeyName(), base_ + "\\Alfa");
  r.MoveUp();
  EXPECT_FALSE(r.MoveDown("Delta"));
  EXPECT_TRUE(r.Status());
  EXPECT_EQ(r.KeyName(), base_) << "a missing subkey leaves the object where it was";

  r.SetValue("zeta", RegValue::of(1));
  r.SetValue("Beta", RegValue::of("b"));
  auto values = r.ValueList();
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0].first, "");
  EXPECT_EQ(values[1].first, "Beta");
  EXPECT_EQ(values[2].first, "zeta");
  EXPECT_EQ(values[2].second, RegValue::of(1));

  EXPECT_TRUE(r.DelValue("Beta"));
  EXPECT_TRUE(r.GetValue("Beta").is_nil());
  EXPECT_TRUE(r.DelKey("beta"));
  EXPECT_FALSE(r.DelKey("beta"));
  EXPECT_EQ(r.nCallSuccess, reg::kFileNotFound);
  EXPECT_EQ(r.KeyList(), (std::vector<std::string>{"Alfa", "gamma"}));

  ASSERT_EQ(r.RegOpenKeyEx(reg::kRead), 0);
  EXPECT_EQ(r.nSubKeys, 2u);
  EXPECT_EQ(r.nValues, 2u);
  EXPECT_EQ(r.nMaxSubKeyLen, 5u);
  EXPECT_EQ(r.nMaxValueNameLen, 4u);
  EXPECT_FALSE(r.cLastWriteTime.empty());
  r.RegCloseKey();
}

TEST_F(Registry, ThinFunctionsReadTextsAndReportShortBuffers) {
  XbpReg r = XbpReg::New(base_, true);
  r.SetValue("ComputerName", RegValue::of("KSIĘGOWA-1"));
  std::string sub = base_.substr(18);
  EXPECT_EQ(QUERYREGISTRY(reg::kCurrentUser, sub, "ComputerName"), "KSIĘGOWA-1");

  reg::Handle h = 0;
  ASSERT_EQ(REGOPENKEYEXA(reg::kCurrentUser, sub, 0, reg::kQueryValue, h), 0);
  std::uint32_t type = 0, length = 0;
  EXPECT_EQ(REGQUERYVALUEEXA(h, "ComputerName", 0, type, nullptr, length), 0);
  EXPECT_EQ(type, reg::kString);
  EXPECT_EQ(length, std::string("KSIĘGOWA-1").size() + 1);
  std::string buffer;
  std::uint32_t short_length = 3;
  EXPECT_EQ(REGQUERYVALUEEXA(h, "ComputerName", 0, type, &buffer, short_length), reg::kMoreData);
  EXPECT_EQ(short_length, length);
  EXPECT_EQ(REGQUERYVALUEEXA(h, "ComputerName", 0, type, &buffer, length), 0);
  EXPECT_EQ(buffer, std::string("KSIĘGOWA-1") + '\0');
  EXPECT_EQ(REGCLOSEKEY(h), 0);
}

TEST(RegistryHelpers, AtnumFindsTheNthOccurrence) {
  EXPECT_EQ(ATNUM("%", "%A%B%", 1), 1u);
  EXPECT_EQ(ATNUM("%", "%A%B%", 2), 3u);
  EXPECT_EQ(ATNUM("%", "%A%B%", 3), 5u);
  EXPECT_EQ(ATNUM("%", "%A%B%", 4), 0u);
  EXPECT_EQ(ATNUM("aa", "aaaa", 2), 3u) << "occurrences do not overlap";
  EXPECT_EQ(ATNUM("", "abc", 1), 0u);
  EXPECT_EQ(ATNUM("x", "abc", 0), 0u);
}

TEST(RegistryHelpers, SerialisedValuesRejectDamagedBytes) {
  RegValue v = RegValue::array({RegValue::of("abc"), RegValue::of(-5)});
  std::vector<std::uint8_t> bytes = VAR2BIN(v);
  RegValue back;
  ASSERT_TRUE(BIN2VAR(bytes, back));
  EXPECT_EQ(back, v);
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    std::vector<std::uint8_t> shorter(bytes.begin(), bytes.begin() + static_cast<long>(cut));
    EXPECT_FALSE(BIN2VAR(shorter, back)) << cut;
  }
  bytes.push_back(0);
  EXPECT_FALSE(BIN2VAR(bytes, back)) << "trailing bytes";
  std::vector<std::uint8_t> huge = {'Z', 'V', '1', 'A', 0xFF, 0xFF, 0xFF, 0x7F};
  EXPECT_FALSE(BIN2VAR(huge, back));
}

#ifdef _WIN32
TEST_F(Registry, RegeditSeesWhatWasWritten) {
  XbpReg r = XbpReg::New(base_, true);
  r.Standard(RegValue::of("Parametry instalacyjne ZUV"));
  r.SetValue("Program", RegValue::of("C:\\Księgowość\\"));
  r.SetValue("NoModify", RegValue::of(1));
  r.SetValue("Ujemna", RegValue::of(-2));
  r.SaveStringType("B");
  r.SetValue("Bajty", RegValue::of("AB"));
  std::string out = testing::regedit_export(base_);
  ASSERT_FALSE(out.empty()) << "regedit /E produced nothing";
  EXPECT_NE(out.find("[" + base_ + "]\n"), std::string::npos) << out;
  EXPECT_NE(out.find("@=\"Parametry instalacyjne ZUV\"\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\"Program\"=\"C:\\\\Księgowość\\\\\"\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\"NoModify\"=dword:00000001\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\"Ujemna\"=dword:fffffffe\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\"Bajty\"=hex:41,42\n"), std::string::npos) << out;
}
#endif

}  // namespace
}  // namespace zuv::sys
