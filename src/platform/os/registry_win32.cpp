// The registry on Windows: the wide calls of advapi32, with UTF-8 at our side.
#include <windows.h>

#include "platform/os/codepage.h"
#include "platform/os/registry.h"

namespace zuv::os::reg {
namespace {

HKEY hkey(Handle h) {
  // Predefined roots are sign-extended 32-bit values in a 64-bit HKEY.
  if (h >= 0x80000000u && h <= 0x800000FFu)
    return reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(h))));
  return reinterpret_cast<HKEY>(h);
}

Handle handle(HKEY k) { return reinterpret_cast<Handle>(k); }

bool is_string_type(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// String data travel as UTF-8 with their zero on our side and UTF-16 in the registry.
std::vector<std::uint8_t> from_registry(DWORD type, const std::vector<BYTE>& raw) {
  if (!is_string_type(type)) return {raw.begin(), raw.end()};
  std::wstring w(reinterpret_cast<const wchar_t*>(raw.data()), raw.size() / 2);
  std::string u = narrow(w);
  return {u.begin(), u.end()};
}

std::vector<BYTE> to_registry(DWORD type, const std::vector<std::uint8_t>& data) {
  if (!is_string_type(type)) return {data.begin(), data.end()};
  std::wstring w = widen(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
  const BYTE* p = reinterpret_cast<const BYTE*>(w.data());
  return {p, p + w.size() * sizeof(wchar_t)};
}

}  // namespace

std::string root_name(Handle root) {
  switch (root) {
    case kClassesRoot: return "HKEY_CLASSES_ROOT";
    case kCurrentUser: return "HKEY_CURRENT_USER";
    case kLocalMachine: return "HKEY_LOCAL_MACHINE";
    case kUsers: return "HKEY_USERS";
    case kCurrentConfig: return "HKEY_CURRENT_CONFIG";
    case kDynData: return "HKEY_DYN_DATA";
    default: return "";
  }
}

std::string registry_file() { return ""; }

long open_key(Handle root, std::string_view subkey, std::uint32_t access, Handle& key) {
  HKEY k = nullptr;
  LONG rc = RegOpenKeyExW(hkey(root), widen(subkey).c_str(), 0, access, &k);
  if (rc == ERROR_SUCCESS) key = handle(k);
  return rc;
}

long create_key(Handle root, std::string_view subkey, std::uint32_t access, Handle& key, bool* created) {
  HKEY k = nullptr;
  DWORD disposition = 0;
  LONG rc = RegCreateKeyExW(hkey(root), widen(subkey).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                            nullptr, &k, &disposition);
  if (rc == ERROR_SUCCESS) {
    key = handle(k);
    if (created) *created = disposition == REG_CREATED_NEW_KEY;
  }
  return rc;
}

long close_key(Handle key) { return RegCloseKey(hkey(key)); }

long query_info_key(Handle key, KeyInfo& info) {
  wchar_t cls[256] = {};
  DWORD cls_len = 256;
  DWORD subkeys = 0, max_sub = 0, max_cls = 0, values = 0, max_name = 0, max_value = 0, sd = 0;
  FILETIME ft{};
  LONG rc = RegQueryInfoKeyW(hkey(key), cls, &cls_len, nullptr, &subkeys, &max_sub, &max_cls, &values, &max_name,
                             &max_value, &sd, &ft);
  if (rc != ERROR_SUCCESS) return rc;
  info.class_name = narrow(std::wstring_view(cls, cls_len));
  info.subkeys = subkeys;
  info.max_subkey_len = max_sub;
  info.max_class_len = max_cls;
  info.values = values;
  info.max_value_name_len = max_name;
  info.max_value_len = max_value;
  info.security_descriptor = sd;
  info.last_write_time = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return rc;
}

long enum_key(Handle key, std::uint32_t index, std::string& name) {
  wchar_t buf[256];
  DWORD len = 256;
  LONG rc = RegEnumKeyExW(hkey(key), index, buf, &len, nullptr, nullptr, nullptr, nullptr);
  if (rc == ERROR_SUCCESS) name = narrow(std::wstring_view(buf, len));
  return rc;
}

long enum_value(Handle key, std::uint32_t index, std::string& name, std::uint32_t& type,
                std::vector<std::uint8_t>& data) {
  DWORD max_name = 0, max_value = 0;
  LONG rc = RegQueryInfoKeyW(hkey(key), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &max_name,
                             &max_value, nullptr, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  for (;;) {
    std::wstring wname(max_name + 2, L'\0');
    DWORD name_len = static_cast<DWORD>(wname.size());
    std::vector<BYTE> raw(max_value + 2);
    DWORD raw_len = static_cast<DWORD>(raw.size());
    DWORD t = 0;
    rc = RegEnumValueW(hkey(key), index, wname.data(), &name_len, nullptr, &t, raw.data(), &raw_len);
    if (rc == ERROR_MORE_DATA) {  // the value grew meanwhile
      max_name = max_name * 2 + 64;
      max_value = max_value * 2 + 64;
      continue;
    }
    if (rc != ERROR_SUCCESS) return rc;
    raw.resize(raw_len);
    name = narrow(std::wstring_view(wname.data(), name_len));
    type = t;
    data = from_registry(t, raw);
    return rc;
  }
}

long query_value(Handle key, std::string_view name, std::uint32_t& type, std::vector<std::uint8_t>& data) {
  std::wstring wname = widen(name);
  for (;;) {
    DWORD len = 0, t = 0;
    LONG rc = RegQueryValueExW(hkey(key), wname.c_str(), nullptr, &t, nullptr, &len);
    if (rc != ERROR_SUCCESS) return rc;
    std::vector<BYTE> raw(len);
    rc = RegQueryValueExW(hkey(key), wname.c_str(), nullptr, &t, raw.data(), &len);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) return rc;
    raw.resize(len);
    type = t;
    data = from_registry(t, raw);
    return rc;
  }
}

long set_value(Handle key, std::string_view name, std::uint32_t type, const std::vector<std::uint8_t>& data) {
  std::vector<BYTE> raw = to_registry(type, data);
  return RegSetValueExW(hkey(key), widen(name).c_str(), 0, type, raw.data(), static_cast<DWORD>(raw.size()));
}

long delete_key(Handle parent, std::string_view subkey) { return RegDeleteKeyW(hkey(parent), widen(subkey).c_str()); }

long delete_value(Handle key, std::string_view name) { return RegDeleteValueW(hkey(key), widen(name).c_str()); }

}  // namespace zuv::os::reg
