// Windows-only pieces of the window front end: a thin window base class, fonts in the
// Central European character set, and the front end's declaration.
#pragma once

#ifdef _WIN32

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/gui/toolkit.h"

namespace zuv::gui {

namespace win32 {

HINSTANCE instance();
// A font of `points` nominal size in code page 238.
HFONT make_font(const std::wstring& family, int points, bool bold, bool italic);

// A pop-up menu: "~" before an entry's hot letter, an empty label a separator.
HMENU make_menu(const std::vector<std::pair<std::string, UINT>>& entries);

// Buttons that change while the mouse is over them: a push button turns bold (DP on
// entering, PP on leaving), an icon button shows its other picture.
void follow_mouse(HWND button, HFONT normal, HFONT bold);
void follow_mouse_icon(HWND button, HICON normal, HICON hover);

// One window and its messages; the object lives as long as the window.
class Window {
 public:
  Window() = default;
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // `outer` in screen coordinates (top-left origin) for top-level windows, in the
  // parent's client coordinates for child windows.
  void create(DWORD ex_style, DWORD style, const std::string& title, RECT outer, HWND parent);
  void destroy();
  void show();
  void set_icon(int id);
  void set_background(COLORREF c);
  // A push button with tab stop, in client coordinates (top-left origin).
  HWND add_button(const std::string& label, int id, int x, int y, int w, int h, HFONT font);
  HWND hwnd() const { return hwnd_; }

 protected:
  virtual LRESULT on_message(UINT msg, WPARAM w, LPARAM l);

 private:
  static LRESULT CALLBACK proc(HWND h, UINT msg, WPARAM w, LPARAM l);
  HWND hwnd_ = nullptr;
  HBRUSH background_ = nullptr;
};

}  // namespace win32

class Win32Frontend : public Frontend {
 public:
  explicit Win32Frontend(Clock& clock);
  ~Win32Frontend() override;

  Where reference() override;
  Where desktop() override;
  void run_alarm(AlarmControl& session) override;
  std::unique_ptr<WaitWindow> open_wait(const AlarmDesc& desc) override;
  std::string run_entry(const EntryDesc& desc, EntryControl& session) override;
  void run_dirselect(DirChooserControl& chooser, bool fresh) override;
  void drop_dirselect(DirChooserControl& chooser) override;
  ProgressView& progress_view() override;
  void run_main_window(MainWindowControl& session) override;
  bool run_flow_screen(FlowScreenSession& session) override;
  void tone(int frequency, int units) override;
  void idle(int milliseconds) override;
  bool check_interrupt() override;
  void show_install_screen(const InstallScreenDesc& desc) override;
  void close_install_screen() override;
  Size text_box(const std::string& utf8, const std::string& family, int points,
                    bool bold) override;

  // SETAPPWINDOW: the owner of the dialogs and the reference of their placement.
  HWND app_window() const { return app_window_; }
  void set_app_window(HWND h) { app_window_ = h; }
  // Bottom-left desktop coordinates to a screen rectangle.
  RECT to_screen(Point pos, Size size);

 private:
  HWND app_window_ = nullptr;
  std::unique_ptr<win32::Window> progress_;
  std::unique_ptr<win32::Window> install_screen_;
  std::map<DirChooserControl*, std::unique_ptr<win32::Window>> choosers_;
  std::map<std::string, HFONT> measure_fonts_;
};

}  // namespace zuv::gui

#endif
