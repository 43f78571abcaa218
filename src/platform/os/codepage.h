// Conversions between the code pages the program meets: 852 (table data, the suite's
// own texts), 1250 (Windows ANSI: text files, registry) and UTF-8 (screen, paths).
// A character the target cannot hold becomes '?'.
#pragma once

#include <string>
#include <string_view>

namespace zuv::os {

enum class CodePage { Utf8 = 65001, Cp852 = 852, Cp1250 = 1250 };

std::string convert(std::string_view text, CodePage from, CodePage to);

inline std::string utf8_from_852(std::string_view s) { return convert(s, CodePage::Cp852, CodePage::Utf8); }
inline std::string cp852_from_utf8(std::string_view s) { return convert(s, CodePage::Utf8, CodePage::Cp852); }
inline std::string utf8_from_1250(std::string_view s) { return convert(s, CodePage::Cp1250, CodePage::Utf8); }
inline std::string cp1250_from_utf8(std::string_view s) { return convert(s, CodePage::Utf8, CodePage::Cp1250); }

#ifdef _WIN32
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);
#endif

}  // namespace zuv::os
