// The run-time settings every table operation depends on. They belong to a work-area
// set (WorkAreas), never to hidden globals; STARTINIT fixes them for the program.
#pragma once

#include <string>

namespace zuv::table {

struct Settings {
  bool deleted_hidden = true;     // records marked deleted are skipped and not copied
  bool exact = true;              // text equality is not a prefix test
  bool soft_seek = true;          // a failed key search stops at the next greater key
  bool exclusive_default = true;  // a table opened without a mode is opened exclusively
  bool century = true;
  std::string date_format = "yyyy.mm.dd";
  int decimals_shown = 0;
  int typeahead = 100;
  std::string switch39 = "OFF";
  bool scoreboard = false;
  bool printer = false;
  bool cancel_enabled = false;
};

// A date ("YYYYMMDD", blank for empty) shown in the format: yyyy, yy, mm and dd are
// replaced by the date's parts; an empty date shows blanks in the same shape.
std::string format_date(const std::string& yyyymmdd, const std::string& format);

}  // namespace zuv::table
