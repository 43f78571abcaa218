// What the front ends present: the descriptions the dialog rules of src/ui produce,
// and the running dialogs a front end drives by reporting what the operator did. The
// rules themselves (kinds, title codes, hot letters, layout, the chooser's disk work)
// stay in src/ui behind these interfaces, so the toolkit never includes ui/.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zuv::gui {

// ---- geometry and keys -------------------------------------------------------------

// Where a dialog is placed and who owns it.
struct Where {
  enum class Mode { AppWindow, Rect, Desktop } mode = Mode::AppWindow;
  int x = 0, y = 0, width = 0, height = 0;  // Rect: bottom-left origin on the desktop
  static Where desktop() { return {Mode::Desktop}; }
  static Where rect(int x, int y, int w, int h) { return {Mode::Rect, x, y, w, h}; }
  // Over a given window (its outer rectangle): placed on it, fonts scaled to it.
  static Where window(int x, int y, int w, int h) { return {Mode::AppWindow, x, y, w, h}; }
};

enum class Align { Center, Left, Right };

struct Rgb {
  int r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

struct Size {
  int w = 0, h = 0;
  bool operator==(const Size&) const = default;
};

struct Point {
  int x = 0, y = 0;
  bool operator==(const Point&) const = default;
};

// Measures a text in a font; the win32 front end asks GDI, the others estimate.
class TextMeasure {
 public:
  virtual ~TextMeasure() = default;
  virtual Size text_box(const std::string& utf8, const std::string& family, int points,
                        bool bold) = 0;
};

// Estimates from average glyph sizes: enough for the text front ends and for tests.
class ApproxMeasure : public TextMeasure {
 public:
  Size text_box(const std::string& utf8, const std::string& family, int points,
                bool bold) override;
};

// Keys the dialogs react to, as every front end reports them.
enum class Key { None, Esc, Enter, Tab, ShiftTab, Left, Right, Up, Down, F1, Space, Insert, Char };

// ---- the message dialog (ALARM) ----------------------------------------------------

struct AlarmDesc {
  char kind = '4';
  bool question = true;       // kinds 4-6
  bool wait_window = false;   // kind 1
  int icon = 101;
  Rgb panel;
  std::string title;
  std::vector<std::string> lines;
  Align align = Align::Center;
  std::vector<std::string> buttons;  // shown labels, the default mark removed
  int default_button = 1;            // 1-based; 0 for the wait window
  int timeout_seconds = 120;
  bool big_fonts = false;
  int text_points = 13, button_points = 11;
  // Geometry, bottom-left origin on the desktop.
  Size block, panel_size, dialog_size, button_size;
  Point dialog_pos;
};

// One running message dialog: focus, result and deadline.
class AlarmControl {
 public:
  virtual ~AlarmControl() = default;
  virtual const AlarmDesc& desc() const = 0;
  virtual int focus() const = 0;
  virtual void set_focus(int button) = 0;
  virtual bool done() const = 0;
  virtual int result() const = 0;
  virtual double deadline() const = 0;
  // Returns true when the time-out has passed (the dialog then ends with 0).
  virtual bool tick(double now) = 0;
  virtual void key(Key k, char32_t ch = 0) = 0;
  virtual void press(int button) = 0;
  virtual void close_box() = 0;
  virtual bool help_requested() const = 0;
};

// ---- the text entry (QMX_EDTSTR) ---------------------------------------------------

struct EntryDesc {
  std::string proposal;
  int length = 0;  // buffer length of the field, in characters
  std::string title;
  std::vector<std::string> prompt_lines;
  int icon = 104;
  Rgb prompt_panel{208, 208, 167};
  Rgb field_error{255, 184, 160};
  int prompt_points = 12, button_points = 10;
  Size dialog_size, prompt_size, field_size, button_size;
};

inline constexpr const char* kEntryAccept = "Zapamiętaj";
inline constexpr const char* kEntryCancel = "Rezygnuję";

// One attempt at a time: the front end reports what the operator did and shows the
// outcome (close, or flash the field red with a tone and keep it open).
class EntryControl {
 public:
  enum class Outcome { Accepted, Rejected, Cancelled };
  virtual ~EntryControl() = default;
  // Enter in the field or "Zapamiętaj".
  virtual Outcome accept(const std::string& text) = 0;
  // "Rezygnuję", Esc anywhere, the close box.
  virtual Outcome cancel() = 0;
  virtual const std::string& result() const = 0;
};

// ---- the directory chooser (QMXDIRSELECT) ------------------------------------------

struct DirNode {
  std::string caption;
  std::string path;  // ends in "\"
  int image_closed = 2105, image_open = 2106;
  bool loaded = false;  // children listed
  bool expanded = false;
  DirNode* parent = nullptr;
  std::vector<std::unique_ptr<DirNode>> children;
  bool is_drive() const { return parent == nullptr; }
};

// The chooser's tree and its commands, as a front end shows and drives them.
class DirChooserControl {
 public:
  virtual ~DirChooserControl() = default;

  // Window geometry of the chooser at its initial size (bottom-left origin).
  static constexpr int kUnit = 12;
  static constexpr int kWidth = 19 * 12 + 8;
  static int height_for(int parent_height) { return std::min(24 * 12 + 34, parent_height - 24); }

  virtual void getTree(DirNode* item) = 0;
  virtual void getDownTree(DirNode* item) = 0;
  virtual void StartDir(std::string path) = 0;
  // Marked (cursor): load its children, follow in the field.
  virtual void mark(DirNode* item) = 0;
  // Selected or expanded: load the grandchildren, expand.
  virtual void select(DirNode* item) = 0;
  virtual void set_path_text(const std::string& text) = 0;
  // "OK": true when a path was chosen (done() then holds).
  virtual bool check_kat() = 0;
  virtual void cancel() = 0;
  virtual void NodeEdit(bool create_new) = 0;
  virtual void NodeDelete() = 0;

  virtual bool done() const = 0;
  virtual const std::string& result() const = 0;
  virtual const std::string& path_text() const = 0;
  virtual DirNode* marked() const = 0;
  virtual const std::vector<std::unique_ptr<DirNode>>& drives() const = 0;
  // Bumped whenever the tree's shape changes, so a front end knows to rebuild.
  virtual int generation() const = 0;
};

// ---- the progress bar (LICZNIK) ----------------------------------------------------

struct ProgressGeometry {
  Point pos;         // of the panel in its parent, bottom-left origin
  Size panel;        // width from the caller, height INT(60 * fh8 / 8)
  int margin = 12;   // INT(panel height / 5)
  Point bar_pos;     // (m, m) inside the panel
  Size bar;          // the bar control
  Size fill;         // its fill area: 2 pixels smaller each way
  int points = 8;
  // The window that holds the panel (a native handle); null: the application window.
  void* parent = nullptr;
};

// Presents the bar; all calls come from the progress routine, in order.
class ProgressView {
 public:
  virtual ~ProgressView() = default;
  virtual void create(const ProgressGeometry& g, const std::string& title) = 0;
  virtual void set_title(const std::string& title) = 0;
  virtual void clear() = 0;
  // Fill from the left edge to `width` pixels of the fill area.
  virtual void fill(int width) = 0;
  virtual void destroy() = 0;
};

// ---- the main window ---------------------------------------------------------------

struct MainButton {
  std::string caption;
  Point pos;  // bottom-left origin in the drawing area
  Size size;
  bool bold = false;  // DP on, PP off
  std::function<void()> on_activate;
};

struct MainWindowDesc {
  std::string title;
  Size outer{630, 260};
  Point pos;  // top-left on the desktop: centred
  Rgb background{208, 208, 167};
  int icon = 100;
  int bitmap = 200;
  int button_points = 12;
  int h_org = 370;
};

class MainWindowControl {
 public:
  virtual ~MainWindowControl() = default;
  // Places the picture and the buttons for a drawing area of this size.
  virtual void layout(Size client) = 0;
  virtual const MainWindowDesc& desc() const = 0;
  virtual std::vector<MainButton>& buttons() = 0;
  virtual Point picture_pos() const = 0;
  virtual Size picture_size() const = 0;
  virtual int focus() const = 0;  // 1-based
  virtual void set_focus(int b) = 0;
  virtual void key(Key k) = 0;
  virtual void press(int b) = 0;
  virtual void close() = 0;
  virtual bool finished() const = 0;
  virtual bool enabled() const = 0;
  // A front end that draws real windows follows these.
  std::function<void(bool)> on_enable;
  std::function<void(int)> on_focus;
};

}  // namespace zuv::gui
