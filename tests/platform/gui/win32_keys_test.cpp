// Keys posted to the real windows of the window front end, from a timer that fires
// inside each dialog's own message loop.
#ifdef _WIN32
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <deque>
#include <filesystem>
#include <functional>

#include "platform/gui/win32_window.h"
#include "platform/os/codepage.h"
#include "support/display.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"

using namespace zuv;

namespace {

// A step answers false when it cannot act yet (no window has the focus: on a loaded
// machine the dialog may not be active when the timer fires) and is tried again.
std::deque<std::function<bool()>> g_steps;
int g_waiting_ticks = 0;

BOOL CALLBACK close_window(HWND w, LPARAM) {
  if (IsWindowVisible(w)) PostMessageW(w, WM_CLOSE, 0, 0);
  return TRUE;
}

void CALLBACK step(HWND, UINT, UINT_PTR, DWORD) {
  if (g_steps.empty()) return;
  if (g_steps.front()()) {
    g_steps.pop_front();
    g_waiting_ticks = 0;
    return;
  }
  // A step that can never act would leave the dialog open for ever: close the
  // thread's windows so the test fails instead of hanging.
  if (++g_waiting_ticks == 500) {
    ADD_FAILURE() << "no window took the focus within 20 s";
    g_steps.clear();
    g_waiting_ticks = 0;
    EnumThreadWindows(GetCurrentThreadId(), close_window, 0);
  }
}

struct Driver {
  UINT_PTR timer;
  Driver() { timer = SetTimer(nullptr, 0, 40, step); }
  ~Driver() {
    KillTimer(nullptr, timer);
    g_steps.clear();
  }
  void key(WPARAM vk) {
    g_steps.push_back([vk] { return post_to_focus(WM_KEYDOWN, vk); });
  }
  void chr(wchar_t c) {
    g_steps.push_back([c] { return post_to_focus(WM_CHAR, c); });
  }
  void run(std::function<void()> f) {
    g_steps.push_back([f = std::move(f)] {
      f();
      return true;
    });
  }
  static bool post_to_focus(UINT message, WPARAM w) {
    HWND focus = GetFocus();
    return focus && PostMessageW(focus, message, w, 0);
  }
};

std::string focus_text() {
  wchar_t buf[256] = {};
  GetWindowTextW(GetFocus(), buf, 255);
  return os::narrow(buf);
}

bool focus_is_bold() {
  HFONT f = reinterpret_cast<HFONT>(SendMessageW(GetFocus(), WM_GETFONT, 0, 0));
  LOGFONTW lf{};
  GetObjectW(f, sizeof(lf), &lf);
  return lf.lfWeight >= FW_BOLD;
}

// Every test here needs windows that take the focus: without a display the program
// fails at once with the reason instead of waiting out its time-out.
class DisplayCheck : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string why;
    if (!zuv::testing::display_usable(&why)) FAIL() << why;
  }
};
const auto* const g_display_check = ::testing::AddGlobalTestEnvironment(new DisplayCheck);

struct Fixture {
  gui::ManualClock clock;
  gui::Win32Frontend fe{clock};
  ui::Dialogs d{fe};
  Driver drv;
};

}  // namespace

TEST(Win32Keys, MessageDialogKeys) {
  Fixture f;
  f.drv.chr(L'r');
  EXPECT_EQ(f.d.ALARM("4", "Z", "Czy?"), 2);
  f.drv.key(VK_RETURN);
  EXPECT_EQ(f.d.ALARM("4", "Z", "Czy?"), 1);

  std::string seen;
  bool bold = false;
  f.drv.run([&] {
    seen = focus_text();
    bold = focus_is_bold();
  });
  f.drv.key(VK_RETURN);
  EXPECT_EQ(f.d.ALARM("5", "U", "x", {"Kontynuuję", "Chcę przerwać\x04"}), 2);
  EXPECT_EQ(seen, "Chcę przerwać");  // shown without the mark, and focused
  EXPECT_TRUE(bold);

  f.drv.key(VK_RIGHT);
  f.drv.run([&] { seen = focus_text(); });
  f.drv.key(VK_RETURN);
  EXPECT_EQ(f.d.ALARM("5", "U", "x", {"Raz", "Dwa", "Trzy"}), 2);
  EXPECT_EQ(seen, "Dwa");
  f.drv.key(VK_UP);
  f.drv.key(VK_RETURN);
  EXPECT_EQ(f.d.ALARM("5", "U", "x", {"Raz", "Dwa", "Trzy"}), 3);
  f.drv.key(VK_ESCAPE);
  EXPECT_EQ(f.d.ALARM("3", "B", "x"), 0);
  f.drv.key(VK_RETURN);
  EXPECT_EQ(f.d.ALARM("3", "B", "x"), 1);
  f.drv.run([&] { PostMessageW(GetActiveWindow(), WM_CLOSE, 0, 0); });
  EXPECT_EQ(f.d.ALARM("5", "U", "x"), 0);
}

TEST(Win32Keys, WaitWindowAndPolishHotLetters) {
  Fixture f;
  {
    auto wait = f.d.ALARM_WAIT("Proszę czekać", "Trwa kopiowanie plików...");
    HWND w = FindWindowW(nullptr, L"Proszę czekać");
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_EQ(FindWindowExW(w, nullptr, L"BUTTON", nullptr), nullptr);  // no buttons
    SendMessageW(w, WM_CLOSE, 0, 0);  // the close box only hides it
    EXPECT_TRUE(IsWindow(w));
    EXPECT_FALSE(IsWindowVisible(w));
  }
  EXPECT_EQ(FindWindowW(nullptr, L"Proszę czekać"), nullptr);  // gone with its owner object
  f.drv.chr(L'ł');
  EXPECT_EQ(f.d.ALARM("5", "U", "x", {"Anuluj", "Łącz"}), 2);
  f.drv.chr(L'Ł');
  EXPECT_EQ(f.d.ALARM("5", "U", "x", {"Anuluj", "łącz"}), 2);
}

TEST(Win32Keys, TimeOutsOnTheDialogsOwnClock) {
  Fixture f;
  f.drv.run([&] { f.clock.advance(119); });
  f.drv.run([&] { f.clock.advance(2); });
  EXPECT_EQ(f.d.ALARM("3", "B", "x"), 0);
  f.drv.run([&] { f.clock.advance(999); });
  f.drv.key(VK_RETURN);  // still open after 999 s
  EXPECT_EQ(f.d.ALARM("5", "U", "x"), 1);
  f.drv.run([&] { f.clock.advance(1001); });
  EXPECT_EQ(f.d.ALARM("5", "U", "x"), 0);
}

TEST(Win32Keys, EntryDialog) {
  Fixture f;
  int checks = 0;
  auto check = [&](const std::string& s) {
    ++checks;
    return s == "dobra";
  };
  f.drv.run([] { SetWindowTextW(GetFocus(), L"zła"); });
  f.drv.key(VK_RETURN);  // refused: stays open
  f.drv.run([] { SetWindowTextW(GetFocus(), L"dobra"); });
  f.drv.key(VK_RETURN);
  EXPECT_EQ(f.d.QMX_EDTSTR("NowyKatalog", 100, "Nowy katalog", "Podaj;nazwę", check), "dobra");
  EXPECT_EQ(checks, 2);

  f.drv.key(VK_ESCAPE);
  EXPECT_EQ(f.d.QMX_EDTSTR("x", 10, "t", "p", check), "");
  // Tab to "Rezygnuję", Right to "Zapamiętaj", Enter presses it: the proposal.
  std::string on;
  f.drv.run([] { SetWindowTextW(GetFocus(), L"dobra"); });
  f.drv.key(VK_TAB);
  f.drv.key(VK_RIGHT);
  f.drv.run([&] { on = focus_text(); });
  f.drv.key(VK_RETURN);
  EXPECT_EQ(f.d.QMX_EDTSTR("x", 10, "t", "p", check), "dobra");
  EXPECT_EQ(on, "Zapamiętaj");
  EXPECT_EQ(checks, 3);
}

TEST(Win32Keys, MainWindowKeysFocusAndFlows) {
  Fixture f;
  std::vector<std::string> focus;
  int flows = 0;
  std::vector<std::function<void()>> actions(5);
  ui::MainWindowSession* sp = nullptr;
  actions[2] = [&] {
    ++flows;
    sp->set_enabled(false);
    f.d.ALARM("2", "I", "przepływ");
    sp->set_enabled(true);
    sp->set_focus(3);
  };
  ui::MainWindowDesc desc;
  desc.title = "Instalacja programu ZUV wersja 26.01.001";
  desc.pos = {100, 100};
  ui::MainWindowSession s(desc, {"Napraw Bazę danych", "Napraw instalację Programu", "Aktualizacja programu",
                                 "Pierwsza instalacja programu", "Zakończ instalację"},
                          actions);
  sp = &s;
  auto note = [&] { f.drv.run([&] { focus.push_back(focus_text()); }); };
  note();                   // the upgrade button has the focus at the start
  f.drv.key(VK_DOWN);       // down: the button below
  f.drv.key(VK_DOWN);
  note();
  f.drv.key(VK_UP);         // Up on "Napraw Bazę danych" goes to "Napraw instalację Programu"
  note();
  f.drv.key(VK_RETURN);     // a repair button: nothing happens
  f.drv.key(VK_UP);
  f.drv.key(VK_RETURN);     // the flow: its message, closed with Enter
  f.drv.key(VK_RETURN);
  note();                   // the focus is back on the flow's button
  f.drv.key(VK_ESCAPE);
  f.fe.run_main_window(s);
  EXPECT_EQ(flows, 1);
  EXPECT_EQ(focus, (std::vector<std::string>{"Aktualizacja programu", "Napraw Bazę danych",
                                             "Napraw instalację Programu", "Aktualizacja programu"}));
  EXPECT_TRUE(s.finished());
}

TEST(Win32Keys, DirectoryChooser) {
  namespace fs = std::filesystem;
  fs::path root = fs::temp_directory_path() / "zuv_win32_dirsel";
  fs::remove_all(root);
  fs::create_directories(root / "a");
  fs::create_directories(root / "b");
  const std::string start = os::narrow(root.native()) + "\\";
  Fixture f;

  f.drv.key(VK_RETURN);  // OK on the start directory
  EXPECT_EQ(f.d.QMXDIRSELECT(start), start);
  f.drv.key(VK_ESCAPE);
  EXPECT_EQ(f.d.QMXDIRSELECT(start), "");
  EXPECT_EQ(f.d.last_directory(), start);  // a cancel leaves the last choice alone

  // Space collapses the marked directory, and again expands it.
  std::vector<bool> expanded;
  auto note = [&] {
    f.drv.run([&] {
      HWND tree = GetFocus();
      HTREEITEM sel = TreeView_GetSelection(tree);
      expanded.push_back((TreeView_GetItemState(tree, sel, TVIS_EXPANDED) & TVIS_EXPANDED) != 0);
    });
  };
  f.drv.key(VK_SPACE);
  note();
  f.drv.key(VK_SPACE);
  note();
  f.drv.key(VK_ESCAPE);
  f.d.QMXDIRSELECT(start);
  ASSERT_EQ(expanded.size(), 2u);
  EXPECT_NE(expanded[0], expanded[1]);

  // Insert: a new directory through the entry dialog, then OK chooses it.
  f.drv.key(VK_INSERT);
  f.drv.run([] { SetWindowTextW(GetFocus(), L"nowy"); });
  f.drv.key(VK_RETURN);
  f.drv.key(VK_RETURN);
  EXPECT_EQ(f.d.QMXDIRSELECT(start), start + "nowy\\");
  EXPECT_TRUE(fs::is_directory(root / "nowy"));

  // A typed path that does not exist: created on the first answer.
  f.drv.run([&] {
    HWND edit = FindWindowExW(GetActiveWindow(), nullptr, L"EDIT", nullptr);
    SetWindowTextW(edit, os::widen(start + "x\\y").c_str());
  });
  f.drv.key(VK_RETURN);
  f.drv.key(VK_RETURN);  // "Potwierdzam"
  EXPECT_EQ(f.d.QMXDIRSELECT(start), start + "x\\y\\");
  EXPECT_TRUE(fs::is_directory(root / "x" / "y"));
  fs::remove_all(root);
}
// The interrupt check over the windows: Esc answers true, every other waiting event
// still reaches its window.
TEST(Win32Keys, InterruptCheckTakesEscAndDispatchesTheRest) {
  struct Counting : gui::win32::Window {
    int pings = 0;
    LRESULT on_message(UINT msg, WPARAM w, LPARAM l) override {
      if (msg == WM_APP + 1) {
        ++pings;
        return 0;
      }
      return Window::on_message(msg, w, l);
    }
  } window;
  window.create(0, WS_OVERLAPPEDWINDOW, "NIC", RECT{10, 10, 210, 110}, nullptr);
  ASSERT_NE(window.hwnd(), nullptr);
  gui::SystemClock clock;
  gui::Win32Frontend fe(clock);
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);

  EXPECT_FALSE(fe.check_interrupt());  // nothing waiting
  PostMessageW(window.hwnd(), WM_KEYDOWN, VK_RETURN, 0);
  PostMessageW(window.hwnd(), WM_APP + 1, 0, 0);
  EXPECT_FALSE(fe.check_interrupt());
  EXPECT_EQ(window.pings, 1);
  PostMessageW(window.hwnd(), WM_KEYDOWN, VK_ESCAPE, 0);
  PostMessageW(window.hwnd(), WM_APP + 1, 0, 0);
  EXPECT_TRUE(fe.check_interrupt());
  EXPECT_EQ(window.pings, 2);  // drained and dispatched after the Esc as well
  EXPECT_FALSE(fe.check_interrupt());
}

TEST(Win32Keys, ChooserMenuHotLetters) {
  std::vector<std::pair<std::string, UINT>> entries;
  UINT id = 1;
  for (const auto& e : ui::context_menu(false)) entries.emplace_back(e.label, id++);
  HMENU menu = gui::win32::make_menu(entries);
  ASSERT_EQ(GetMenuItemCount(menu), 6);
  auto text = [&](UINT cmd) {
    wchar_t buf[64] = {};
    GetMenuStringW(menu, cmd, buf, 63, MF_BYCOMMAND);
    return os::narrow(buf);
  };
  EXPECT_EQ(text(1), "&Wybierz");
  EXPECT_EQ(text(2), "&Rozwiń");
  EXPECT_NE(GetMenuState(menu, 2, MF_BYPOSITION) & MF_SEPARATOR, 0u);
  EXPECT_EQ(text(5), "&Zmień nazwę");
  DestroyMenu(menu);
}

// The flow screen: typing reaches the session, the flow's texts and focus reach the
// window, the buttons' keys walk and press, Esc leaves.
TEST(Win32Keys, FlowScreenFieldsButtonsAndKeys) {
  Fixture f;
  gui::FlowScreenDesc desc;
  desc.name = "Pierwsza instalacja programu";
  desc.fields = {{"Wybierz katalog w którym zostanie zainstalowany PROGRAM", "C:\\", 128},
                 {"Wybierz katalog w którym zostanie (lub już jest) zainstalowana BAZA DANYCH", "", 128}};
  gui::FlowScreenSession* sp = nullptr;
  std::vector<std::string> seen, focus;
  int installs = 0, choices = 0;
  gui::FlowScreenSession s(
      desc,
      [&] {
        ++installs;
        seen.push_back(sp->text(1) + "|" + sp->text(2));
        // As a refusal does: the message, then the focus to the field to correct.
        f.d.ALARM("3", "Błędne katalogi", "Katalogi do instalacji Bazy Danych;i programu muszą być rózne!");
        sp->set_focus(2);
      },
      [&](int field) {
        ++choices;
        sp->set_text(field, "D:\\Baza Łódź\\");
      });
  sp = &s;
  auto note = [&] { f.drv.run([&] { focus.push_back(focus_text()); }); };
  f.drv.chr(L'Z');          // the program field has the focus, its text selected
  f.drv.key(VK_TAB);        // its chooser
  f.drv.key(VK_RETURN);     // chooses for field 1 and gives the focus back to it
  f.drv.key(VK_TAB);
  f.drv.key(VK_TAB);        // field 2
  f.drv.chr(L'B');
  f.drv.key(VK_TAB);        // its chooser
  f.drv.key(VK_LEFT);       // left: on along the tab order, to "Poprzedni ekran"
  note();
  f.drv.key(VK_LEFT);       // "Zainstaluj Program"
  note();
  f.drv.key(VK_RETURN);     // the install: its message, closed with Enter
  f.drv.key(VK_RETURN);
  f.drv.run([&] { focus.push_back(std::to_string(GetDlgCtrlID(GetFocus()))); });
  f.drv.key(VK_ESCAPE);
  EXPECT_TRUE(f.fe.run_flow_screen(s));
  EXPECT_EQ(choices, 1);
  EXPECT_EQ(installs, 1);
  EXPECT_EQ(seen, (std::vector<std::string>{"D:\\Baza Łódź\\|B"}));
  ASSERT_EQ(focus.size(), 3u);
  EXPECT_EQ(focus[0], "Poprzedni ekran");
  EXPECT_EQ(focus[1], "Zainstaluj Program");
  EXPECT_EQ(focus[2], "3102");  // the database field, as the flow asked
  EXPECT_TRUE(s.finished());
}
#endif
