// LICZNIK, the one progress bar of the process: a framed panel with a title and a bar
// that only grows. The arithmetic lives here; a ProgressView draws.
#pragma once

#include <memory>
#include <string>

#include "ui/alarm.h"

namespace zuv::ui {

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

ProgressGeometry progress_geometry(Point pos, int width, int fh8 = 8);

// Presents the bar; all calls come from Licznik, in order.
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

class Licznik {
 public:
  explicit Licznik(ProgressView* view = nullptr) : view_(view) {}
  void set_view(ProgressView* view) { view_ = view; }

  // LICZNIK(position, width, maximum, text, parent)
  void create(Point pos, int width, double maximum, const std::string& text, int fh8 = 8,
              void* parent = nullptr);
  // LICZNIK("NEW", maximum, text)
  void restart(double maximum, const std::string& text);
  // LICZNIK() and LICZNIK(n)
  void advance(double n = 1);
  // LICZNIK("DEL")
  void destroy();

  bool exists() const { return exists_; }
  double counter() const { return counter_; }
  double maximum() const { return maximum_; }
  int drawn() const { return drawn_; }
  const std::string& title() const { return title_; }
  const ProgressGeometry& geometry() const { return geo_; }

 private:
  ProgressView* view_;
  bool exists_ = false;
  ProgressGeometry geo_;
  double maximum_ = 0, counter_ = 0;
  int drawn_ = 0;
  std::string title_;
};

}  // namespace zuv::ui
