#include "platform/table/settings.h"

namespace zuv::table {

std::string format_date(const std::string& ymd, const std::string& format) {
  bool empty = ymd.size() != 8 || ymd.find_first_not_of(' ') == std::string::npos;
  std::string out;
  for (std::size_t i = 0; i < format.size();) {
    auto take = [&](const char* token, std::size_t from, std::size_t len) {
      std::size_t n = std::char_traits<char>::length(token);
      if (format.compare(i, n, token) != 0) return false;
      out += empty ? std::string(len, ' ') : ymd.substr(from, len);
      i += n;
      return true;
    };
    if (take("yyyy", 0, 4) || take("yy", 2, 2) || take("mm", 4, 2) || take("dd", 6, 2)) continue;
    out += format[i++];
  }
  return out;
}

}  // namespace zuv::table
