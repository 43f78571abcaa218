#include "upgrade/report_text.h"

#include "platform/os/clock.h"
#include "platform/os/codepage.h"
#include "platform/os/durable.h"
#include "platform/os/path.h"
#include "platform/table/settings.h"

namespace zuv::upgrade {

std::string report_stamp() {
  std::string time = os::time_of_day();
  return "(" + table::format_date(os::today_dtos(), "yyyy.mm.dd") + "/" + time.substr(0, 5) + ")";
}

std::string report_line_bytes(std::string_view entry, bool from_oem) {
  std::string ansi = from_oem ? os::convert(entry, os::CodePage::Cp852, os::CodePage::Cp1250)
                              : os::cp1250_from_utf8(entry);
  std::string out;
  out.reserve(ansi.size() + 8);
  for (char c : ansi) {
    if (c == ';')
      out += "\r\n";
    else
      out += c;
  }
  out += "\r\n";
  return out;
}

bool replace_file_with(const std::string& path, std::string_view bytes) {
  return os::write_durably(os::native_path(path), bytes).ok();
}

}  // namespace zuv::upgrade
