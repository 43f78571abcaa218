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
#endif
