#include "platform/gui/dialog_desc.h"

#include <cmath>

#include "platform/os/unicode.h"

namespace zuv::gui {

Size ApproxMeasure::text_box(const std::string& utf8, const std::string& family, int points,
                             bool bold) {
  // Average glyph of a proportional face is a little over half its height.
  double per = points * (family == "Arial" ? 0.55 : 0.5) * (bold ? 1.1 : 1.0) * 96.0 / 72.0;
  int h = static_cast<int>(std::lround(points * 96.0 / 72.0 * 1.15));
  return {static_cast<int>(std::lround(per * static_cast<double>(os::char_count(utf8)))), h};
}

}  // namespace zuv::gui
