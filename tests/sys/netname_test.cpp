// The workstation name: its rules, its sources in order of preference, and its cache.
#include "sys/netname.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>

#include "platform/os/codepage.h"
#else
#include <unistd.h>
#endif

#include "sys/registry.h"

namespace zuv::sys {
namespace {

void set_env(const char* name, const char* value) {
#ifdef _WIN32
  _wputenv_s(os::widen(name).c_str(), os::widen(value ? value : "").c_str());
#else
  if (value) setenv(name, value, 1);
  else unsetenv(name);
#endif
}

class WorkstationName : public ::testing::Test {
 protected:
  void SetUp() override {
    NERKA({}, NerkaForm::Forget);
    set_env("QMX_NAME", nullptr);
  }
  void TearDown() override {
    NERKA({}, NerkaForm::Forget);
    set_env("QMX_NAME", nullptr);
  }
};

TEST_F(WorkstationName, RulesMakeAPlainUpperCaseIdentifier) {
  EXPECT_EQ(workstation_name_from("ŁÓDŹ-KSIĘGOWOŚĆ  2"), "LODZKSIEGOWOSC_2");
  EXPECT_EQ(workstation_name_from("  łódź księgowość  "), "LODZ_KSIEGOWOSC");
  EXPECT_EQ(workstation_name_from("a_b__c"), "A_B_C") << "underscores count as blanks";
  EXPECT_EQ(workstation_name_from("x.y/z\\w-v:u;t,s\"r'q"), "XYZWVUTSRQ");
  EXPECT_EQ(workstation_name_from("<a>=b!c@d+e"), "ABCDE");
  EXPECT_EQ(workstation_name_from("Ąćęłńóśżź"), "ACELNOSZZ");
  EXPECT_EQ(workstation_name_from("Áäčçëěéí"), "AACCEEEJ") << "Í becomes J";
  EXPECT_EQ(workstation_name_from("öőřšşťüúůýž"), "OEORSSTUEUUYZ");
  EXPECT_EQ(workstation_name_from("pc#1"), "PC#1") << "other characters are kept";
}

TEST_F(WorkstationName, OperatorsNameWinsThenEnvironmentThenComputerName) {
  set_env("QMX_NAME", "biuro-góra");
  EXPECT_EQ(NERKA("  stanowisko 3 "), "STANOWISKO_3");
  NERKA({}, NerkaForm::Forget);
  EXPECT_EQ(NERKA(""), "BIUROGORA") << "the variable wins over the computer name";
  NERKA({}, NerkaForm::Forget);
  set_env("QMX_NAME", nullptr);
  EXPECT_EQ(NERKA(), workstation_name_from(NETNAME()));
  EXPECT_FALSE(NERKA().empty());
}

TEST_F(WorkstationName, CacheHoldsUntilForgottenAndPaddedFormHasTwentyCharacters) {
  EXPECT_EQ(NERKA("pierwsza"), "PIERWSZA");
  EXPECT_EQ(NERKA("druga"), "PIERWSZA") << "kept after the first computation";
  EXPECT_EQ(NERKA("druga", NerkaForm::Padded), "PIERWSZA            ");
  EXPECT_EQ(NERKA("druga", NerkaForm::Forget), "");
  EXPECT_EQ(NERKA("druga"), "DRUGA");
  NERKA({}, NerkaForm::Forget);
  EXPECT_EQ(NERKA("ŁÓDŹ-KSIĘGOWOŚĆ  2", NerkaForm::Padded), "LODZKSIEGOWOSC_2    ");
  NERKA({}, NerkaForm::Forget);
  EXPECT_EQ(NERKA("bardzo dluga nazwa stanowiska", NerkaForm::Padded), "BARDZO_DLUGA_NAZWA_S");
  EXPECT_EQ(NERKA(), "BARDZO_DLUGA_NAZWA_STANOWISKA");
}

TEST_F(WorkstationName, NameOfOnlyRemovedCharactersFallsBackToDefault) {
  EXPECT_EQ(NERKA("--..--"), "BEZ_NAZWY");
}

TEST(ComputerName, ComesFromTheRegistryWhenItHoldsIt) {
#ifndef _WIN32
  auto dir = std::filesystem::temp_directory_path() / ("zuv-netname-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  setenv("ZUV_REGISTRY_FILE", (dir / "registry.reg").c_str(), 1);
  detail::forget_netname();
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  EXPECT_EQ(NETNAME(), host) << "without the registry value: the host name";
  XbpReg::New("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\ComputerName\\ComputerName", true)
      .SetValue("ComputerName", RegValue::of("KADRY-2"));
  EXPECT_EQ(NETNAME(), host) << "kept after the first call";
  detail::forget_netname();
  EXPECT_EQ(NETNAME(), "KADRY-2");
  detail::forget_netname();
  unsetenv("ZUV_REGISTRY_FILE");
  std::filesystem::remove_all(dir);
#else
  detail::forget_netname();
  wchar_t buf[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
  ASSERT_TRUE(GetComputerNameW(buf, &n));
  EXPECT_EQ(NETNAME(), os::narrow(std::wstring_view(buf, n)));
#endif
}

}  // namespace
}  // namespace zuv::sys
