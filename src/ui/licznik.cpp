// LICZNIK, the progress bar: the arithmetic of its panel and of the growing fill.
#include "ui/licznik.h"

#include <algorithm>
#include <cmath>

#include "lib/text.h"

namespace zuv::ui {

ProgressGeometry progress_geometry(Point pos, int width, int fh8) {
  ProgressGeometry g;
  g.pos = pos;
  g.points = fh8;
  g.panel = {width, 60 * fh8 / 8};
  g.margin = g.panel.h / 5;
  g.bar_pos = {g.margin, g.margin};
  g.bar = {width - 2 * g.margin, g.panel.h - 3 * g.margin};
  g.fill = {std::max(g.bar.w - 2, 0), std::max(g.bar.h - 2, 0)};
  return g;
}

void Licznik::create(Point pos, int width, double maximum, const std::string& text, int fh8,
                     void* parent) {
  if (exists_) destroy();
  geo_ = progress_geometry(pos, width, fh8);
  geo_.parent = parent;
  maximum_ = maximum;
  counter_ = 0;
  drawn_ = 0;
  title_ = text;
  exists_ = true;
  if (view_) view_->create(geo_, title_);
}

void Licznik::restart(double maximum, const std::string& text) {
  maximum_ = maximum;
  counter_ = 0;
  drawn_ = 0;
  if (!text.empty()) title_ = text;
  if (!exists_) return;  // nothing to draw on yet
  if (view_) {
    view_->clear();
    if (!text.empty()) view_->set_title(text);
  }
}

void Licznik::advance(double n) {
  counter_ += n;
  if (counter_ > maximum_ || maximum_ <= 0) return;
  int x = static_cast<int>(lib::ROUND2(counter_ * geo_.fill.w / maximum_, 0));
  if (x <= drawn_) return;  // the bar only grows: one comparison per call otherwise
  drawn_ = x;
  if (exists_ && view_) view_->fill(std::min(drawn_, geo_.fill.w));
}

void Licznik::destroy() {
  if (!exists_) return;
  exists_ = false;
  if (view_) view_->destroy();
}

}  // namespace zuv::ui
