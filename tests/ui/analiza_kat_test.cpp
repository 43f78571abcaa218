#include "ui/analiza_kat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zuv::ui {
namespace {

class RecordingDialog : public MessageDialog {
 public:
  struct Call {
    std::string kind, title, text;
  };
  int ALARM(const std::string& kind, const std::string& title, const std::string& text,
            const std::vector<std::string>&) override {
    calls.push_back({kind, title, text});
    return 1;
  }
  std::vector<Call> calls;
};

TEST(AnalizaKat, RefusesBadDirectoriesWithTheirMessages) {
  struct Case {
    const char* directory;
    const char* kind;
    const char* text;  // nullptr: accepted
  };
  const Case cases[] = {
      {"C:\\", "P", "Katalog do instalacji Programu nie może być;głównym katalogiem dysku!"},
      {"C:", "B", "Katalog do instalacji Bazy danych nie może być;głównym katalogiem dysku!"},
      {"\\\\\\srv\\share\\dir\\", "P", "Katalog do instalacji Programu. Błędna nazwa!!!"},
      {"\\\\srv\\share", "B", "Katalog do instalacji Bazy danych. Błędna nazwa!!!"},
      {"\\\\srv\\share\\", "B", "Katalog do instalacji Bazy danych. Błędna nazwa!!!"},
      {"C:WINDOWS", "P", "Katalog do instalacji Programu. Błędna nazwa katalogu!!!"},
      {"Dane\\Zuv\\", "B", "Katalog do instalacji Bazy danych. Błędna nazwa katalogu!!!"},
      {"C:\\Windows\\x", "P", "Katalog do instalacji Programu nie powinien zawierać słowa \"WINDOWS\"!"},
      {"D:\\stare\\windows\\", "B", "Katalog do instalacji Bazy danych nie powinien zawierać słowa \"WINDOWS\"!"},
      {"\\\\srv\\share\\dir\\", "P", nullptr},
      {"\\\\srv\\windows\\dir\\", "P", nullptr},  // network paths skip the WINDOWS check
      {"D:\\Dane\\", "B", nullptr},
      {"C:\\Zuv\\Żółw\\", "P", nullptr},
  };
  for (const Case& c : cases) {
    RecordingDialog dialog;
    bool ok = ANALIZA_KAT(c.directory, c.kind, dialog);
    if (!c.text) {
      EXPECT_TRUE(ok) << c.directory;
      EXPECT_TRUE(dialog.calls.empty()) << c.directory;
      continue;
    }
    EXPECT_FALSE(ok) << c.directory;
    ASSERT_EQ(dialog.calls.size(), 1u) << c.directory;
    EXPECT_EQ(dialog.calls[0].kind, "3");
    EXPECT_EQ(dialog.calls[0].title, std::string(c.kind) == "P" ? "Katalog Programu" : "Katalog Bazy");
    EXPECT_EQ(dialog.calls[0].text, c.text) << c.directory;
  }
}

TEST(AnalizaKat, AnAbsoluteNativePathStandsForADriveOnLinuxOnly) {
  for (const char* dir : {"/srv/zuv/program/", "\\srv\\zuv\\baza\\"}) {
    RecordingDialog dialog;
#ifdef _WIN32
    EXPECT_FALSE(ANALIZA_KAT(dir, "P", dialog)) << dir;
#else
    EXPECT_TRUE(ANALIZA_KAT(dir, "P", dialog)) << dir;
    EXPECT_TRUE(dialog.calls.empty()) << dir;
#endif
  }
  RecordingDialog dialog;
  EXPECT_FALSE(ANALIZA_KAT("/", "B", dialog));  // the root stays refused
  EXPECT_FALSE(ANALIZA_KAT("/srv/windows/", "B", dialog));
}

}  // namespace
}  // namespace zuv::ui
