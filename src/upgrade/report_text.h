// The text files an upgrade leaves for the operator and the suite ("ins_raport.txt",
// "error.log"): Windows ANSI (code page 1250) with CR LF line ends, where the report
// lines use ';' as their line break, as every message of the program does.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zuv::upgrade {

// "(" + today as the program shows dates + "/" + hh:mm + ")", the stamp on the first
// line of every report.
std::string report_stamp();

// One report entry as it goes to the file: code page 1250, ';' turned into CR LF, and a
// CR LF after it. from_oem: the entry is in code page 852 (a step's line), else UTF-8.
std::string report_line_bytes(std::string_view entry, bool from_oem = false);

// Writes bytes to a new file beside path, flushes it to the disk and renames it over
// path, so a failure leaves the old file as it was. False when any of it failed.
[[nodiscard]] bool replace_file_with(const std::string& path, std::string_view bytes);

}  // namespace zuv::upgrade
