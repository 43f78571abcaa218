// Taking a font file out of the session's font table, so that its file can be deleted
// while Windows has it loaded. Nothing to do where no such table exists.
#pragma once

#include <string_view>

namespace zuv::os {

// The font file (a Windows path text); the answer of the system is of no use to callers.
void remove_font_resource(std::string_view windows_path);

}  // namespace zuv::os
