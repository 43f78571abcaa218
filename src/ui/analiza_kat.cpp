#include "ui/analiza_kat.h"

#include "platform/error/call_context.h"
#include "platform/os/names.h"
#include "platform/os/unicode.h"

namespace zuv::ui {

bool ANALIZA_KAT(std::string_view directory, std::string_view kind, ui::MessageDialog& dialog) {
  CallContext routine("ANALIZA_KAT");
  const bool program = kind == "P";
  const std::string title = program ? "Katalog Programu" : "Katalog Bazy";
  const std::string subject = program ? "Katalog do instalacji Programu" : "Katalog do instalacji Bazy danych";
  auto refuse = [&](const std::string& text) {
    dialog.ALARM("3", title, subject + text);
    return false;
  };

  if (os::char_count(directory) <= 3) return refuse(" nie może być;głównym katalogiem dysku!");

  if (directory.substr(0, 2) == "\\\\") {
    std::string_view rest = directory.substr(2);
    size_t separators = 0;
    for (char c : rest)
      if (c == '\\') ++separators;
    if (rest.front() == '\\' || separators < 3) return refuse(". Błędna nazwa!!!");
    return true;
  }
#ifndef _WIN32
  // A Linux server has no drive letters: an absolute native path stands where Windows
  // has a drive root ('/', or a single backslash once turned into the logic's form).
  const bool native_absolute = directory.front() == '/' || (directory.front() == '\\' && directory[1] != '\\');
#else
  const bool native_absolute = false;
#endif
  if (!native_absolute && directory.substr(1, 2) != ":\\") return refuse(". Błędna nazwa katalogu!!!");
  if (os::upper_name(directory).find("WINDOWS") != std::string::npos) return refuse(" nie powinien zawierać słowa \"WINDOWS\"!");
  return true;
}

}  // namespace zuv::ui
