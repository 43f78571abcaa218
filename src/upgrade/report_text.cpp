#include "upgrade/report_text.h"

#include "platform/base/discard.h"
#include "platform/os/clock.h"
#include "platform/os/codepage.h"
#include "platform/os/file_handle.h"
#include "platform/os/files.h"
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
  const std::string temp = path + ".zuvnew";
  const std::string native = os::native_path(temp);
  {
    os::FileHandle h;
    if (h.create(native, os::Share::Exclusive) != 0) return false;
    bool ok = bytes.empty() || h.write_at(0, bytes.data(), bytes.size()) == 0;
    ok = ok && h.flush() == 0;
    h.close();
    if (!ok) {
      base::let_go(os::delete_file(temp), "the failure is answered; a leftover is overwritten next time");
      return false;
    }
  }
  if (!os::rename_file(temp, path)) {
    base::let_go(os::delete_file(temp), "the failure is answered; a leftover is overwritten next time");
    return false;
  }
  return true;
}

}  // namespace zuv::upgrade
