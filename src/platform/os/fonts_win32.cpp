#include "platform/os/fonts.h"

#include <windows.h>

#include "platform/os/codepage.h"
#include "platform/os/path.h"

namespace zuv::os {

void remove_font_resource(std::string_view windows_path) {
  RemoveFontResourceW(widen(native_path(windows_path)).c_str());
}

}  // namespace zuv::os
