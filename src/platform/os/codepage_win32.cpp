#include <windows.h>

#include "platform/os/codepage.h"

namespace zuv::os {
namespace {
std::wstring to_wide(std::string_view s, UINT cp) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}
std::string from_wide(std::wstring_view w, UINT cp) {
  if (w.empty()) return {};
  const char* fallback = cp == CP_UTF8 ? nullptr : "?";
  int n = WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, fallback, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), s.data(), n, fallback, nullptr);
  return s;
}
}  // namespace

std::string convert(std::string_view text, CodePage from, CodePage to) {
  if (from == to || text.empty()) return std::string(text);
  return from_wide(to_wide(text, static_cast<UINT>(from)), static_cast<UINT>(to));
}

std::wstring widen(std::string_view utf8) { return to_wide(utf8, CP_UTF8); }
std::string narrow(std::wstring_view wide) { return from_wide(wide, CP_UTF8); }

}  // namespace zuv::os
