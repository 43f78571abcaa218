#include "platform/os/fonts.h"

namespace zuv::os {

// Fonts of the suite are loaded only by Windows; here a file is just a file.
void remove_font_resource(std::string_view) {}

}  // namespace zuv::os
