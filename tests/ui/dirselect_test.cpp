// The tests of QMXDIRSELECT, the directory chooser.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/gui/script.h"
#include "platform/os/codepage.h"
#include "platform/os/fault.h"
#include "platform/os/files.h"
#include "ui/dialogs.h"

using namespace zuv;
namespace fs = std::filesystem;

namespace {

// A scratch tree and its path as the chooser writes it (ending in a separator).
struct Scratch {
  fs::path root;
  Scratch() {
    root = fs::temp_directory_path() /
           ("zuv_dirsel_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root);
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  std::string text() const {
#ifdef _WIN32
    return os::narrow(root.native()) + "\\";
#else
    // The chooser writes host paths as rooted Windows texts: "\tmp\x\".
    std::string t = root.string();
    for (char& c : t)
      if (c == '/') c = '\\';
    return t + "\\";
#endif
  }
  fs::path at(const std::string& rel) const { return root / fs::u8path(rel); }
};

struct Fixture {
  gui::ManualClock clock;
  gui::ScriptFrontend fe{clock};
  ui::Dialogs d{fe};
};

}  // namespace

TEST(DirChooser, CollationIsPolishAndCaseFolded) {
  std::vector<std::string> v = {"zeta", "Łódź", "lato", "ąb", "Ab", "Mama", "ab2"};
  std::sort(v.begin(), v.end(), ui::collate_less);
  EXPECT_EQ(v, (std::vector<std::string>{"Ab", "ab2", "ąb", "lato", "Łódź", "Mama", "zeta"}));
}

TEST(DirChooser, OkCancelAndTypedPathsCreatedOnRequest) {
  Scratch s;
  Fixture f;
  fs::create_directories(s.at("b"));
  fs::create_directories(s.at("A"));
  // Empty path: the message and the dialog stays; then Esc.
  f.fe.add_answer("  ");
  f.fe.add_answer("Enter");  // closes "Nie wybrano..."
  f.fe.add_answer("Esc");
  EXPECT_EQ(f.d.QMXDIRSELECT(s.text()), "");
  EXPECT_NE(f.fe.transcript_text().find("Nie wybrano żadanego katalogu!"), std::string::npos);
  EXPECT_EQ(f.d.last_directory(), "");

  // A path that does not exist: refused once, then created with every level.
  std::string deep = s.text() + "x\\y\\z";
  f.fe.add_answer(deep);
  f.fe.add_answer("2");
  f.fe.add_answer(deep);
  f.fe.add_answer("1");
  EXPECT_EQ(f.d.QMXDIRSELECT(s.text()), deep + "\\");
  EXPECT_TRUE(fs::is_directory(s.at("x/y/z")));
  EXPECT_EQ(f.d.last_directory(), deep + "\\");

  // Without a start the tree opens at the last choice.
  f.fe.add_answer("Esc");
  EXPECT_EQ(f.d.QMXDIRSELECT(), "");
  EXPECT_NE(f.fe.transcript().back().find("z\\"), std::string::npos) << f.fe.transcript().back();
  EXPECT_EQ(f.d.last_directory(), deep + "\\");
}

TEST(DirChooser, TreeCreateRenameDeleteOnDisk) {
  Scratch s;
  Fixture f;
  fs::create_directories(s.at("stary/dziecko/wnuk"));
  fs::create_directories(s.at("inny"));
  std::ofstream(s.at("stary/dziecko/plik.txt")) << "x";

  auto disk = ui::make_system_dirfs();
  ui::DirChooser c(*disk, f.d,
                   [&](const std::string& p, int len, const std::string& t, const std::string& pr,
                       ui::EntryCheck chk) { return f.d.QMX_EDTSTR(p, len, t, pr, chk); },
                   [&] { f.fe.tone(500, 1); });
  c.create();
  c.StartDir(s.text() + "stary");
  ASSERT_NE(c.marked(), nullptr);
  EXPECT_EQ(c.marked()->caption, "stary");
  ASSERT_EQ(c.marked()->children.size(), 1u);
  c.select(c.marked()->children[0].get());  // loads the grandchildren
  ASSERT_EQ(c.marked()->children.size(), 1u);
  c.mark(c.marked()->parent);

  // New directory: a failing name keeps the entry open (it already exists), then one
  // that works.
  f.fe.add_answer("dziecko");
  f.fe.add_answer("nowe");
  c.NodeEdit(true);
  EXPECT_TRUE(fs::is_directory(s.at("stary/nowe")));
  EXPECT_EQ(c.path_text(), s.text() + "stary\\nowe\\");

  // Rename carries the new name into the loaded descendants.
  c.StartDir(s.text() + "stary");
  f.fe.add_answer("inny");   // taken: the rename fails and the dialog stays
  f.fe.add_answer("świeży");
  c.NodeEdit(false);
  EXPECT_TRUE(fs::is_directory(s.at("świeży/dziecko/wnuk")));
  EXPECT_FALSE(fs::exists(s.at("stary")));
  ASSERT_EQ(c.marked()->caption, "świeży");
  for (auto& ch : c.marked()->children) {
    EXPECT_EQ(ch->path.rfind(s.text() + "świeży\\", 0), 0u) << ch->path;
    for (auto& g : ch->children) {
      EXPECT_EQ(g->path.rfind(s.text() + "świeży\\", 0), 0u) << g->path;
    }
  }

  // Delete asks first; "Rezygnuje" keeps everything.
  c.StartDir(s.text() + "świeży\\dziecko");
  f.fe.add_answer("2");
  c.NodeDelete();
  EXPECT_TRUE(fs::exists(s.at("świeży/dziecko/plik.txt")));
  f.fe.add_answer("1");
  c.NodeDelete();
  EXPECT_FALSE(fs::exists(s.at("świeży/dziecko")));
  EXPECT_EQ(c.marked()->caption, "świeży");

  // Drive roots: no rename (a tone), no delete (a message).
  c.mark(c.drives().front().get());
  int tones = f.fe.tones();
  c.NodeEdit(false);
  EXPECT_EQ(f.fe.tones(), tones + 1);
  f.fe.add_answer("1");
  c.NodeDelete();
  EXPECT_NE(f.fe.transcript_text().find("Skasowanie zawartości całego dysku"),
            std::string::npos);
}

TEST(DirChooser, SpaceTogglesAndKeptWindowIsReused) {
  Scratch s;
  Fixture f;
  fs::create_directories(s.at("a/b"));
  f.fe.add_answer("idź " + s.text() + "a");
  f.fe.add_answer("Esc");
  EXPECT_EQ(f.d.QMXDIRSELECT(s.text(), false), "");
  // The kept window answers again, then CLOSE forgets it.
  f.fe.add_answer(s.text() + "a");
  EXPECT_EQ(f.d.QMXDIRSELECT(s.text(), false), s.text() + "a\\");
  EXPECT_NE(f.fe.transcript().back().find("(zachowany)"), std::string::npos);
  EXPECT_EQ(f.d.QMXDIRSELECT(std::string("CLOSE")), "");
}

TEST(DirChooser, ADirectoryThatWillNotGoStaysInTheTree) {
  Scratch s;
  Fixture f;
  fs::create_directories(s.at("twardy/środek"));
  std::ofstream(s.at("twardy/środek/plik.dbf")) << "x";
  auto disk = ui::make_system_dirfs();
  ui::DirChooser c(*disk, f.d, nullptr, nullptr);
  c.create();
  c.StartDir(s.text() + "twardy");
  {
    os::fault::Scope scope;
    os::fault::arm_from(os::fault::Op::Delete, 1, 5);  // the disk refuses every delete
    f.fe.add_answer("1");
    c.NodeDelete();
  }
  EXPECT_TRUE(fs::exists(s.at("twardy/środek/plik.dbf")));
  ASSERT_NE(c.marked(), nullptr);
  EXPECT_EQ(c.marked()->caption, "twardy");
  ASSERT_EQ(c.marked()->children.size(), 1u);
  EXPECT_EQ(c.marked()->children[0]->caption, "środek");
}

TEST(DirChooser, LevelsListNoHiddenOrSystemDirectories) {
  Scratch s;
  fs::create_directories(s.at("widoczny"));
  fs::create_directories(s.at("kosz"));
  fs::create_directories(s.at("systemowy"));
  fs::create_directories(s.at(".kropka"));  // hidden on POSIX systems by its name
  std::ofstream(s.at("plik.txt")) << "x";
  ASSERT_TRUE(os::change_attributes(s.text() + "kosz", "+H").ok());
  ASSERT_TRUE(os::change_attributes(s.text() + "systemowy", "+S").ok());
  auto disk = ui::make_system_dirfs();
  std::vector<std::string> names = disk->subdirs(s.text());
  std::sort(names.begin(), names.end());
  // A dot name is hidden on POSIX systems and under Wine, a plain name on Windows.
  auto dot = os::get_attributes(s.text() + ".kropka");
  ASSERT_TRUE(dot.ok());
  if (dot.value & os::kHidden) {
    EXPECT_EQ(names, (std::vector<std::string>{"widoczny"}));
  }
  else {
    EXPECT_EQ(names, (std::vector<std::string>{".kropka", "widoczny"}));
  }
}

TEST(DirChooser, SlashTypedPathCreatesEveryLevelAndComesBackWithOneSeparator) {
  Scratch s;
  Fixture f;
  std::string typed = s.text() + "p/q/r";
  std::string expected = s.text() + "p\\q\\r\\";
  f.fe.add_answer(typed);
  f.fe.add_answer("1");
  EXPECT_EQ(f.d.QMXDIRSELECT(s.text()), expected);
  EXPECT_TRUE(fs::is_directory(s.at("p/q/r")));
  // A start typed with "/" opens the tree there, shown with "\" only.
  auto disk = ui::make_system_dirfs();
  ui::DirChooser c(*disk, f.d, nullptr, nullptr);
  c.create();
  std::string slashed = expected;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  c.StartDir(slashed);
  ASSERT_NE(c.marked(), nullptr);
  EXPECT_EQ(c.marked()->caption, "r");
  EXPECT_EQ(c.path_text(), expected);
}

TEST(DirChooser, ContextMenuHotLetters) {
  auto labels = [](bool expanded) {
    std::vector<std::string> out;
    for (const auto& e : ui::context_menu(expanded)) out.push_back(e.label);
    return out;
  };
  EXPECT_EQ(labels(false), (std::vector<std::string>{"~Wybierz", "~Rozwiń", "", "~Utwórz nowy",
                                                     "~Zmień nazwę", "~Skasuj"}));
  EXPECT_EQ(labels(true)[1], "~Zwiń");
}
