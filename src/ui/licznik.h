// LICZNIK, the one progress bar of the process: a framed panel with a title and a bar
// that only grows. The arithmetic lives here; a ProgressView draws.
#pragma once

#include <memory>
#include <string>

#include "ui/alarm.h"

namespace zuv::ui {

using gui::ProgressGeometry;
using gui::ProgressView;

ProgressGeometry progress_geometry(Point pos, int width, int fh8 = 8);

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
