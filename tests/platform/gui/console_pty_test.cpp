// The console front end on a pseudo-terminal, typed at as a person would.
#ifndef _WIN32
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <chrono>
#include <thread>

#include "platform/gui/console.h"
#include "platform/gui/install_screen_desc.h"
#include "ui/dialogs.h"

using namespace zuv;
using namespace std::chrono_literals;

namespace {

class AtomicClock : public gui::Clock {
 public:
  double seconds() override { return now.load(); }
  void sleep_cs(int cs) override { std::this_thread::sleep_for(std::chrono::milliseconds(cs * 10)); }
  std::atomic<double> now{100.0};
};

// A pseudo-terminal: the front end on its slave side, the test typing on its master
// side and collecting everything shown.
struct Pty {
  int master = -1, slave = -1;
  std::string screen;
  std::atomic<bool> stop{false};
  std::thread reader;
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    reader = std::thread([this] {
      char buf[4096];
      while (!stop) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
          ssize_t n = read(master, buf, sizeof buf);
          if (n > 0) {
            std::lock_guard<std::mutex> g(m);
            screen.append(buf, static_cast<size_t>(n));
          }
        }
      }
    });
  }
  ~Pty() {
    stop = true;
    reader.join();
    close(slave);
    close(master);
  }
  // Types after a pause, so the front end is already waiting in raw mode.
  void type(std::string keys, std::chrono::milliseconds after = 150ms) {
    typing.push_back(std::thread([this, keys, after] {
      std::this_thread::sleep_for(after);
      (void)!write(master, keys.data(), keys.size());
    }));
  }
  void join_typing() {
    for (auto& t : typing) t.join();
    typing.clear();
  }
  std::string shown() {
    std::this_thread::sleep_for(60ms);
    std::lock_guard<std::mutex> g(m);
    return screen;
  }
  std::mutex m;
  std::vector<std::thread> typing;
};

struct Fixture {
  Pty pty;
  AtomicClock clock;
  gui::ConsoleFrontend fe{clock, gui::make_fd_terminal(pty.slave, pty.slave)};
  ui::Dialogs d{fe};
  int alarm(std::string keys, const std::string& kind, std::vector<std::string> buttons = {}) {
    pty.type(std::move(keys));
    int r = d.ALARM(kind, "Z", "Czy kontynuować;pracę?", buttons);
    pty.join_typing();
    return r;
  }
};

}  // namespace

TEST(ConsolePty, ButtonsByNumberLetterArrowsAndEsc) {
  Fixture f;
  EXPECT_EQ(f.alarm("2", "4"), 2);
  EXPECT_EQ(f.alarm("r", "4"), 2);
  EXPECT_EQ(f.alarm("P", "4"), 1);
  EXPECT_EQ(f.alarm("\r", "4"), 1);
  EXPECT_EQ(f.alarm("\x1b[C\r", "4"), 2);                // Right, Enter
  EXPECT_EQ(f.alarm("\x1b[D\r", "5", {"A", "B", "C"}), 3);  // Left wraps round
  EXPECT_EQ(f.alarm("\x1b", "4"), 0);                    // Esc alone
  EXPECT_EQ(f.alarm("\r", "5", {"Kontynuuję", "Chcę przerwać\x04"}), 2);
  std::string s = f.pty.shown();
  EXPECT_NE(s.find("[1] Potwierdzam"), std::string::npos);
  EXPECT_NE(s.find("[2] Rezygnuję"), std::string::npos);
  EXPECT_NE(s.find("Czy kontynuować"), std::string::npos);
  EXPECT_EQ(s.find("\x04"), std::string::npos);
}

TEST(ConsolePty, TimeOutAnswersZero) {
  Fixture f;
  std::thread later([&] {
    std::this_thread::sleep_for(200ms);
    f.clock.now = f.clock.now + 121;
  });
  EXPECT_EQ(f.d.ALARM("3", "B", "Błąd"), 0);
  later.join();
}

TEST(ConsolePty, EntryPromptWithItsCheck) {
  Fixture f;
  f.pty.type("zła\n", 150ms);
  f.pty.type("dobra\n", 400ms);
  EXPECT_EQ(f.d.QMX_EDTSTR("NowyKatalog", 100, "Nowy katalog", "Wprowadź nazwę",
                           [](const std::string& s) { return s == "dobra"; }),
            "dobra");
  f.pty.join_typing();
  EXPECT_NE(f.pty.shown().find("Nie przyjęto"), std::string::npos);
  f.pty.type("\n");
  EXPECT_EQ(f.d.QMX_EDTSTR("NowyKatalog", 100, "t", "p"), "NowyKatalog");  // Enter keeps the proposal
  f.pty.join_typing();
}

// Esc is typed alone; Enter follows only as a fallback, late, so a front end that
// waits for the line's end fails here instead of hanging.
template <typename Dialog>
bool ends_on_esc_alone(Fixture& f, Dialog dialog) {
  std::atomic<bool> fallback{false}, returned{false};
  f.pty.type("\x1b");
  std::thread late([&] {
    for (int i = 0; i < 150 && !returned; ++i) std::this_thread::sleep_for(10ms);
    if (returned) return;
    fallback = true;
    (void)!write(f.pty.master, "\r", 1);
  });
  dialog();
  bool at_once = !fallback;
  returned = true;
  late.join();
  f.pty.join_typing();
  return at_once;
}

TEST(ConsolePty, EscCancelsAtOnce) {
  Fixture f;
  std::string entry = "x";
  EXPECT_TRUE(ends_on_esc_alone(f, [&] { entry = f.d.QMX_EDTSTR("NowyKatalog", 100, "t", "p"); }));
  EXPECT_EQ(entry, "");
  std::string dir = "x";
  EXPECT_TRUE(ends_on_esc_alone(f, [&] { dir = f.d.QMXDIRSELECT(std::string("\\")); }));
  EXPECT_EQ(dir, "");
  EXPECT_EQ(f.pty.shown().find("^["), std::string::npos);
}

TEST(ConsolePty, TheProposalIsEditedWithCursorKeysBackspaceAndDelete) {
  Fixture f;
  // End, seven Backspaces take "Katalog" off, "Folder" goes on, Home and Delete take
  // the first letter: "owyFolder".
  f.pty.type("\x1b[F\x7f\x7f\x7f\x7f\x7f\x7f\x7f" "Folder\x1b[H\x1b[3~\r");
  EXPECT_EQ(f.d.QMX_EDTSTR("NowyKatalog", 100, "t", "p"), "owyFolder");
  f.pty.join_typing();
  // Left into the middle, a Polish letter typed there.
  f.pty.type("\x1b[D\x1b[C\x1b[C\x1b[Dż\r");
  EXPECT_EQ(f.d.QMX_EDTSTR("ab", 100, "t", "p"), "ażb");
  f.pty.join_typing();
  // The first letter typed replaces the whole proposal; the buffer length holds.
  f.pty.type("wxyz\r");
  EXPECT_EQ(f.d.QMX_EDTSTR("ab", 3, "t", "p"), "wxy");
  f.pty.join_typing();
}

TEST(ConsolePty, ChooserCreatesSlashTypedLevelsAndShowsOneSeparator) {
  Fixture f;
  std::filesystem::path root = std::filesystem::temp_directory_path() / "zuv_console_chooser";
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
  std::string typed = root.string() + "/nowy/głęboki";
  f.pty.type(typed + "\r", 200ms);
  f.pty.type("1", 700ms);  // "Czy mam go utworzyć?" -> yes
  std::string expected = typed + "\\";
  for (char& c : expected)
    if (c == '/') c = '\\';
  EXPECT_EQ(f.d.QMXDIRSELECT(std::string("\\")), expected);
  f.pty.join_typing();
  EXPECT_TRUE(std::filesystem::is_directory(root / "nowy" / "głęboki"));
  std::string shown = f.pty.shown();
  EXPECT_NE(shown.find("Katalog: \x1b[1m\\"), std::string::npos);
  EXPECT_EQ(shown.find("-> /"), std::string::npos);
  std::filesystem::remove_all(root);
}

TEST(ConsolePty, InterruptCheckAnswersEscOnly) {
  Fixture f;
  EXPECT_FALSE(f.fe.check_interrupt());  // nothing typed
  f.pty.type("a\x1b[A", 0ms);
  f.pty.join_typing();
  bool any = false;
  for (int i = 0; i < 100; ++i) any = any || f.fe.check_interrupt();
  EXPECT_FALSE(any);  // letters and arrows are no interrupt
  f.pty.type("b\x1b", 0ms);
  f.pty.join_typing();
  bool esc = false;
  for (int i = 0; i < 300 && !esc; ++i) esc = f.fe.check_interrupt();
  EXPECT_TRUE(esc);
  EXPECT_EQ(f.pty.shown().find("^["), std::string::npos);
}

TEST(ConsolePty, ProgressBarRedrawsOnlyWhenItGrows) {
  Fixture f;
  f.d.LICZNIK(ui::Point{0, 0}, 400, 3000, "Tworzenie indeksów...");
  for (int i = 0; i < 3000; ++i) f.d.LICZNIK();
  f.d.LICZNIK("DEL");
  std::string s = f.pty.shown();
  size_t draws = 0;
  for (size_t p = 0; (p = s.find("\r   [", p)) != std::string::npos; ++p) ++draws;
  EXPECT_LE(draws, 41u);  // the empty bar and at most one redraw per character
  EXPECT_GE(draws, 40u);
  EXPECT_NE(s.find("100%"), std::string::npos);
}

namespace {

gui::InstallScreenDesc firm_screen(const std::string& firm) {
  gui::InstallScreenDesc desc;
  desc.heading = "Instalacja programu ZUV";
  desc.stage = "Aktualizacja Bazy Danych";
  desc.values = {firm, " ", "00:05", "18:00", "1/3"};
  return desc;
}

// Shows a bar and three refreshes of two firms on the front end.
void show_progress(gui::ConsoleFrontend& fe) {
  gui::ProgressGeometry g;
  g.fill.w = 400;
  gui::ProgressView& bar = fe.progress_view();
  bar.create(g, "Aktualizacja");
  fe.show_install_screen(firm_screen("(0001):Spółdzielnia Mieszkaniowa Pod Wielkim Dębem"));
  bar.fill(200);
  fe.show_install_screen(firm_screen("(0001):Spółdzielnia Mieszkaniowa Pod Wielkim Dębem"));
  fe.show_install_screen(firm_screen("(0002):Druga"));
  bar.destroy();
  fe.close_install_screen();
}

}  // namespace

TEST(ConsolePty, BarAndFirmShareOneLineCutToTheTerminalsWidth) {
  Fixture f;
  winsize ws{};
  ws.ws_col = 50;
  ws.ws_row = 20;
  ASSERT_EQ(ioctl(f.pty.slave, TIOCSWINSZ, &ws), 0);
  show_progress(f.fe);
  const std::string s = f.pty.shown();
  EXPECT_NE(s.find("Instalacja programu ZUV: Aktualizacja Bazy Danych"), std::string::npos) << s;
  EXPECT_NE(s.find("] 50%   (0001):Spółdzielnia"), std::string::npos) << s;
  EXPECT_NE(s.find("(0002):Druga"), std::string::npos) << s;
  // Every redraw starts the line again, clears what a longer one left, and fits.
  for (size_t at = 0; (at = s.find('\r', at)) != std::string::npos; ++at) {
    if (s.compare(at, 2, "\r\n") == 0) continue;  // the terminal's own line end
    const size_t end = s.find("\x1b[K", at);
    ASSERT_NE(end, std::string::npos) << s.substr(at);
    const std::string line = s.substr(at + 1, end - at - 1);
    size_t chars = 0;
    for (unsigned char c : line) chars += (c & 0xC0) != 0x80;
    EXPECT_LE(chars, 49u) << line;
  }
}

TEST(ConsoleLog, IntoAPipeEachStageAndFirmHasALineAndThereIsNoBar) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  AtomicClock clock;
  {
    gui::ConsoleFrontend fe{clock, gui::make_fd_terminal(p[0], p[1])};
    show_progress(fe);
  }
  close(p[1]);
  std::string s;
  char buf[4096];
  for (ssize_t n; (n = read(p[0], buf, sizeof buf)) > 0;) s.append(buf, static_cast<size_t>(n));
  close(p[0]);
  EXPECT_EQ(s.find('\r'), std::string::npos) << s;
  EXPECT_EQ(s.find("%"), std::string::npos) << s;
  EXPECT_EQ(s,
            "\n   Aktualizacja\n"
            "\n   Instalacja programu ZUV: Aktualizacja Bazy Danych\n"
            "   (0001):Spółdzielnia Mieszkaniowa Pod Wielkim Dębem  Pozostało firm: 1/3  Koniec instalacji za minut: "
            "00:05  Czyli o godz.: 18:00\n"
            "   (0002):Druga  Pozostało firm: 1/3  Koniec instalacji za minut: 00:05  Czyli o godz.: 18:00\n");
}
#endif
