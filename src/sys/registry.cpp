#include "sys/registry.h"
#include "sys/registry_watch.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "lib/text.h"
#include "platform/os/codepage.h"
#include "platform/os/environment.h"

namespace zuv::sys {

namespace {
RegistryWatcher* g_registry_watcher = nullptr;
}  // namespace

void watch_registry(RegistryWatcher* watcher) { g_registry_watcher = watcher; }
RegistryWatcher* registry_watcher() { return g_registry_watcher; }

namespace reg = os::reg;

namespace {

// Root texts in the order they are tried; a path is matched by prefix, so
// "HKEY_CURRENT_USERS\..." still lands on HKEY_CURRENT_USER.
const std::pair<const char*, reg::Handle> kRootOrder[] = {
    {"HKEY_LOCAL_MACHINE", reg::kLocalMachine}, {"HKEY_CLASSES_ROOT", reg::kClassesRoot},
    {"HKEY_USERS", reg::kUsers},                {"HKEY_CURRENT_USER", reg::kCurrentUser},
    {"HKEY_CURRENT_CONFIG", reg::kCurrentConfig}, {"HKEY_DYN_DATA", reg::kDynData}};

std::int32_t bin2l(const std::vector<std::uint8_t>& d) {
  std::uint32_t x = 0;
  for (size_t i = 0; i < 4; ++i) x |= static_cast<std::uint32_t>(i < d.size() ? d[i] : 0) << (8 * i);
  return static_cast<std::int32_t>(x);
}

std::vector<std::uint8_t> l2bin(long long n) {
  auto x = static_cast<std::uint32_t>(static_cast<std::int32_t>(n));
  return {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(x >> 8), static_cast<std::uint8_t>(x >> 16),
          static_cast<std::uint8_t>(x >> 24)};
}

// Text of a string value: up to its first zero.
std::string c_text(const std::vector<std::uint8_t>& d) {
  std::string s(d.begin(), d.end());
  size_t z = s.find('\0');
  return z == std::string::npos ? s : s.substr(0, z);
}

std::string ansi_bytes_as_text(const std::vector<std::uint8_t>& d) {
  return os::convert(std::string_view(reinterpret_cast<const char*>(d.data()), d.size()), os::CodePage::Cp1250,
                     os::CodePage::Utf8);
}

bool less_nocase(const std::string& a, const std::string& b) {
  return lib::upper_ascii(a) < lib::upper_ascii(b);
}

// ---- VAR2BIN layout: "ZV1", then one tagged value ----------------------------------
void put_u32(std::vector<std::uint8_t>& out, std::uint32_t x) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
}

void put_value(std::vector<std::uint8_t>& out, const RegValue& v) {
  switch (v.kind) {
    case RegValue::Kind::Nil: out.push_back('U'); break;
    case RegValue::Kind::Text:
      out.push_back('C');
      put_u32(out, static_cast<std::uint32_t>(v.text.size()));
      out.insert(out.end(), v.text.begin(), v.text.end());
      break;
    case RegValue::Kind::Number: {
      out.push_back('N');
      auto x = static_cast<std::uint64_t>(v.number);
      for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
      break;
    }
    case RegValue::Kind::Logical:
      out.push_back('L');
      out.push_back(v.logical ? 1 : 0);
      break;
    case RegValue::Kind::Array:
      out.push_back('A');
      put_u32(out, static_cast<std::uint32_t>(v.items.size()));
      for (const auto& i : v.items) put_value(out, i);
      break;
  }
}

bool get_value(const std::vector<std::uint8_t>& d, size_t& at, RegValue& v, int depth) {
  auto u32 = [&](std::uint32_t& x) {
    if (d.size() - at < 4) return false;
    x = 0;
    for (int i = 0; i < 4; ++i) x |= static_cast<std::uint32_t>(d[at + i]) << (8 * i);
    at += 4;
    return true;
  };
  if (at >= d.size() || depth > 64) return false;
  char tag = static_cast<char>(d[at++]);
  v = RegValue();
  switch (tag) {
    case 'U': return true;
    case 'C': {
      std::uint32_t n;
      if (!u32(n) || d.size() - at < n) return false;
      v = RegValue::of(std::string(d.begin() + static_cast<long>(at), d.begin() + static_cast<long>(at + n)));
      at += n;
      return true;
    }
    case 'N': {
      if (d.size() - at < 8) return false;
      std::uint64_t x = 0;
      for (int i = 0; i < 8; ++i) x |= static_cast<std::uint64_t>(d[at + i]) << (8 * i);
      at += 8;
      v = RegValue::of(static_cast<long long>(x));
      return true;
    }
    case 'L':
      if (at >= d.size() || d[at] > 1) return false;
      v = RegValue::of(d[at++] == 1);
      return true;
    case 'A': {
      std::uint32_t n;
      if (!u32(n) || n > d.size() - at) return false;  // every item takes a byte at least
      std::vector<RegValue> items(n);
      for (auto& i : items)
        if (!get_value(d, at, i, depth + 1)) return false;
      v = RegValue::array(std::move(items));
      return true;
    }
    default: return false;
  }
}

}  // namespace

std::vector<std::uint8_t> VAR2BIN(const RegValue& value) {
  std::vector<std::uint8_t> out = {'Z', 'V', '1'};
  put_value(out, value);
  return out;
}

bool BIN2VAR(const std::vector<std::uint8_t>& bytes, RegValue& value) {
  if (bytes.size() < 4 || bytes[0] != 'Z' || bytes[1] != 'V' || bytes[2] != '1') return false;
  size_t at = 3;
  RegValue v;
  if (!get_value(bytes, at, v, 0) || at != bytes.size()) return false;
  value = std::move(v);
  return true;
}

std::string expand_environment(std::string_view text) {
  // Left to right, and a variable's value is not searched again, so a value holding
  // '%' can never make the expansion run on without end.
  std::string out;
  size_t at = 0;
  for (;;) {
    size_t p1 = text.find('%', at);
    size_t p2 = p1 == std::string_view::npos ? p1 : text.find('%', p1 + 1);
    if (p2 == std::string_view::npos) {
      out.append(text.substr(at));
      return out;
    }
    out.append(text.substr(at, p1 - at));
    std::string name(text.substr(p1 + 1, p2 - p1 - 1));
    // The wide environment on Windows: a profile path with Polish letters survives.
    if (!name.empty()) out += os::get_env(name);
    at = p2 + 1;
  }
}

std::size_t ATNUM(std::string_view search, std::string_view text, int n) {
  if (search.empty() || n < 1) return 0;
  size_t at = 0;
  for (int k = 1;; ++k) {
    size_t p = text.find(search, at);
    if (p == std::string_view::npos) return 0;
    if (k == n) return p + 1;
    at = p + search.size();
  }
}

// ---- XbpReg ------------------------------------------------------------------------

XbpReg XbpReg::New(std::string_view key_path, bool create, bool keep_types) {
  XbpReg r;
  r.Init(key_path, create, keep_types);
  return r;
}

XbpReg& XbpReg::Init(std::string_view path, bool create, bool keep_types) {
  nHKey = 0;
  cKey.clear();
  root_text_.clear();
  nKeyHandle = 0;
  lStatus = false;
  nCallSuccess = 0;
  nDllHandle = 0;
  nMaxSubKeyLen = nMaxClassLen = nValues = nMaxValueNameLen = nMaxValueLen = nSecurityDescriptor = 0;
  cLastWriteTime.clear();
  nLastWriteTime = 0;
  cClass.clear();
  nClass = nSubKeys = 0;
  if (!keep_types) {
    cReadBinaryTypeAs = "A";
    cSaveStringTypeAs = "C";
  }
  if (path.empty()) return *this;
  if (path[0] == '\\') path.remove_prefix(1);
  for (auto& [text, handle] : kRootOrder) {
    if (path.substr(0, std::string_view(text).size()) == text) {
      nHKey = handle;
      root_text_ = text;
      break;
    }
  }
  if (nHKey == 0) return *this;
  size_t slash = path.find('\\');
  cKey = slash == std::string_view::npos ? std::string() : std::string(path.substr(slash + 1));
  if (RegOpenKeyEx() == reg::kSuccess) {
    lStatus = true;
    RegCloseKey();
  } else if (create && RegCreateKeyEx() == reg::kSuccess) {
    lStatus = true;
    RegCloseKey();
  }
  return *this;
}

long XbpReg::RegOpenKeyEx(std::uint32_t access) {
  nCallSuccess = 1;
  reg::Handle h = 0;
  nCallSuccess = reg::open_key(nHKey, cKey, access, h);
  nKeyHandle = h;
  if (nCallSuccess == reg::kSuccess) {
    long rc = nCallSuccess;
    RegQueryInfoKey();
    nCallSuccess = rc;
  }
  return nCallSuccess;
}

long XbpReg::RegCreateKeyEx() {
  if (RegistryWatcher* w = registry_watcher(); w && !w->before_key_create(nHKey, cKey))
    return nCallSuccess = reg::kCantWrite;
  nCallSuccess = 1;
  reg::Handle h = 0;
  nCallSuccess = reg::create_key(nHKey, cKey, reg::kAllAccess, h);
  nKeyHandle = h;
  return nCallSuccess;
}

long XbpReg::RegQueryInfoKey() {
  nCallSuccess = 1;
  reg::KeyInfo info;
  nCallSuccess = reg::query_info_key(nKeyHandle, info);
  if (nCallSuccess != reg::kSuccess) return nCallSuccess;
  cClass = info.class_name;
  nClass = static_cast<std::uint32_t>(cClass.size());
  nSubKeys = info.subkeys;
  nMaxSubKeyLen = info.max_subkey_len;
  nMaxClassLen = info.max_class_len;
  nValues = info.values;
  nMaxValueNameLen = info.max_value_name_len;
  nMaxValueLen = info.max_value_len;
  nSecurityDescriptor = info.security_descriptor;
  nLastWriteTime = info.last_write_time;
  cLastWriteTime.clear();
  if (nLastWriteTime >= 116444736000000000ull) {
    auto t = static_cast<std::time_t>((nLastWriteTime - 116444736000000000ull) / 10000000ull);
    std::tm tm{};
#ifdef _WIN32
    gmtime_s(&tm, &t);
#else
    gmtime_r(&t, &tm);
#endif
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y.%m.%d %H:%M:%S", &tm);
    cLastWriteTime = buf;
  }
  return nCallSuccess;
}

long XbpReg::RegCloseKey() {
  nCallSuccess = 1;
  nCallSuccess = reg::close_key(nKeyHandle);
  nKeyHandle = 0;
  return nCallSuccess;
}

long XbpReg::RegEnumKeyEx(std::uint32_t index, std::string& name) {
  nCallSuccess = 1;
  nCallSuccess = reg::enum_key(nKeyHandle, index, name);
  return nCallSuccess;
}

long XbpReg::RegEnumValue(std::uint32_t index, std::string& name, RegValue& value) {
  nCallSuccess = 1;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  nCallSuccess = reg::enum_value(nKeyHandle, index, name, type, data);
  if (nCallSuccess == reg::kSuccess) value = decode(type, data);
  return nCallSuccess;
}

bool XbpReg::Create() {
  if (!lStatus && nHKey != 0) {
    if (RegOpenKeyEx() != reg::kSuccess) {
      if (RegCreateKeyEx() == reg::kSuccess) lStatus = true;
    } else {
      lStatus = true;
    }
    if (nKeyHandle) {
      long rc = nCallSuccess;
      RegCloseKey();
      nCallSuccess = rc;
    }
  }
  return lStatus;
}

RegValue XbpReg::decode(std::uint32_t type, const std::vector<std::uint8_t>& data) const {
  switch (type) {
    case reg::kString: return RegValue::of(c_text(data));
    case reg::kExpandString: return RegValue::of(expand_environment(c_text(data)));
    case reg::kDword: return RegValue::of(static_cast<long long>(bin2l(data)));
    case reg::kBinary:
      if (cReadBinaryTypeAs == "N") return RegValue::of(static_cast<long long>(bin2l(data)));
      if (cReadBinaryTypeAs == "A") {
        RegValue v;
        if (BIN2VAR(data, v)) return v;
      }
      // Binary data from other programs, or "C": the bytes as ANSI text.
      return RegValue::of(ansi_bytes_as_text(data));
    default: return RegValue::nil();
  }
}

RegValue XbpReg::GetValue(std::string_view name) {
  xValue = RegValue::nil();
  if (nHKey == 0) return xValue;
  if (RegOpenKeyEx(reg::kRead) != reg::kSuccess) return xValue;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  nCallSuccess = 1;
  long rc = reg::query_value(nKeyHandle, name, type, data);
  if (rc == reg::kSuccess) xValue = decode(type, data);
  RegCloseKey();
  nCallSuccess = rc;
  return xValue;
}

bool XbpReg::SetValue(std::string_view name, const RegValue& value) {
  if (nHKey == 0) return false;
  std::uint32_t type = reg::kBinary;
  std::vector<std::uint8_t> data;
  switch (value.kind) {
    case RegValue::Kind::Text:
      if (cSaveStringTypeAs == "B") {
        std::string ansi = os::cp1250_from_utf8(value.text);
        data.assign(ansi.begin(), ansi.end());
      } else {
        type = reg::kString;
        data.assign(value.text.begin(), value.text.end());
        data.push_back(0);
      }
      break;
    case RegValue::Kind::Number:
      type = reg::kDword;
      data = l2bin(value.number);
      break;
    case RegValue::Kind::Array:
    case RegValue::Kind::Logical: data = VAR2BIN(value); break;
    case RegValue::Kind::Nil: nCallSuccess = reg::kInvalidParameter; return false;
  }
  if (RegOpenKeyEx(reg::kWrite) != reg::kSuccess) return false;
  if (RegistryWatcher* w = registry_watcher(); w && !w->before_value_change(nHKey, cKey, std::string(name))) {
    RegCloseKey();
    nCallSuccess = reg::kCantWrite;
    return false;
  }
  long rc = reg::set_value(nKeyHandle, name, type, data);
  RegCloseKey();
  nCallSuccess = rc;
  return rc == reg::kSuccess;
}

bool XbpReg::DelValue(std::string_view name) {
  if (nHKey == 0) return false;
  if (RegOpenKeyEx() != reg::kSuccess) return false;
  if (RegistryWatcher* w = registry_watcher(); w && !w->before_value_change(nHKey, cKey, std::string(name))) {
    RegCloseKey();
    nCallSuccess = reg::kCantWrite;
    return false;
  }
  long rc = reg::delete_value(nKeyHandle, name);
  RegCloseKey();
  nCallSuccess = rc;
  return rc == reg::kSuccess;
}

bool XbpReg::NewKey(std::string_view name) {
  if (nHKey == 0 || name.empty()) return false;
  Init(root_text_ + "\\" + (cKey.empty() ? "" : cKey + "\\") + std::string(name), true, true);
  return lStatus;
}

bool XbpReg::DelKey(std::string_view name) {
  if (nHKey == 0 || name.empty()) return false;
  if (RegOpenKeyEx() != reg::kSuccess) return false;
  if (RegistryWatcher* w = registry_watcher();
      w && !w->before_key_delete(nHKey, (cKey.empty() ? "" : cKey + "\\") + std::string(name))) {
    RegCloseKey();
    nCallSuccess = reg::kCantWrite;
    return false;
  }
  long rc = reg::delete_key(nKeyHandle, name);
  RegCloseKey();
  nCallSuccess = rc;
  return rc == reg::kSuccess;
}

std::vector<std::string> XbpReg::KeyList() {
  std::vector<std::string> names;
  if (nHKey == 0 || RegOpenKeyEx(reg::kRead) != reg::kSuccess) return names;
  std::string name;
  for (std::uint32_t i = 0; RegEnumKeyEx(i, name) == reg::kSuccess; ++i) names.push_back(name);
  RegCloseKey();
  std::stable_sort(names.begin(), names.end(), less_nocase);
  return names;
}

std::vector<std::pair<std::string, RegValue>> XbpReg::ValueList() {
  std::vector<std::pair<std::string, RegValue>> values;
  if (nHKey == 0 || RegOpenKeyEx(reg::kRead) != reg::kSuccess) return values;
  std::string name;
  RegValue value;
  for (std::uint32_t i = 0; RegEnumValue(i, name, value) == reg::kSuccess; ++i) values.emplace_back(name, value);
  RegCloseKey();
  std::stable_sort(values.begin(), values.end(), [](const auto& a, const auto& b) { return less_nocase(a.first, b.first); });
  return values;
}

std::string XbpReg::KeyName() const {
  std::string root;
  if (nHKey == reg::kLocalMachine || nHKey == reg::kUsers || nHKey == reg::kCurrentUser ||
      nHKey == reg::kClassesRoot)
    root = reg::root_name(nHKey);
  return root + "\\" + cKey;
}

bool XbpReg::MoveUp() {
  if (nHKey == 0) return false;
  size_t slash = cKey.rfind('\\');
  std::string parent = slash == std::string::npos ? std::string() : cKey.substr(0, slash);
  Init(root_text_ + "\\" + parent, false, true);
  return lStatus;
}

bool XbpReg::MoveDown(std::string_view subkey) {
  if (nHKey == 0) return false;
  // Rebinding goes through the root as recognised, so that the roots without a text in
  // KeyName() can be moved in as well.
  std::string previous = root_text_ + "\\" + cKey;
  std::string below = cKey.empty() ? root_text_ + "\\" + std::string(subkey) : previous + "\\" + std::string(subkey);
  Init(below, false, true);
  if (lStatus) return true;
  Init(previous, false, true);
  return false;
}

RegValue XbpReg::Standard() { return GetValue(""); }

RegValue XbpReg::Standard(const RegValue& value) {
  SetValue("", value);
  return GetValue("");
}

std::string XbpReg::ReadBinType(std::string_view how) {
  std::string old = cReadBinaryTypeAs;
  if (how == "A" || how == "C" || how == "N") cReadBinaryTypeAs = std::string(how);
  return old;
}

std::string XbpReg::SaveStringType(std::string_view how) {
  std::string old = cSaveStringTypeAs;
  if (how == "C" || how == "B") cSaveStringTypeAs = std::string(how);
  return old;
}

// ---- thin functions ----------------------------------------------------------------

long REGOPENKEYEXA(reg::Handle root, std::string_view subkey, std::uint32_t, std::uint32_t access,
                   reg::Handle& key) {
  return reg::open_key(root, subkey, access, key);
}

long REGQUERYVALUEEXA(reg::Handle key, std::string_view name, std::uint32_t, std::uint32_t& type,
                      std::string* buffer, std::uint32_t& length) {
  std::vector<std::uint8_t> data;
  long rc = reg::query_value(key, name, type, data);
  if (rc != reg::kSuccess) return rc;
  auto size = static_cast<std::uint32_t>(data.size());
  if (buffer && size > length) {
    length = size;
    return reg::kMoreData;
  }
  length = size;
  if (buffer) buffer->assign(data.begin(), data.end());
  return reg::kSuccess;
}

long REGCLOSEKEY(reg::Handle key) { return reg::close_key(key); }

std::string QUERYREGISTRY(reg::Handle root, std::string_view subkey, std::string_view name) {
  reg::Handle key = 0;
  if (REGOPENKEYEXA(root, subkey, 0, reg::kQueryValue, key) != reg::kSuccess) return "";
  std::uint32_t type = 0, length = 0;
  std::string buffer;
  if (REGQUERYVALUEEXA(key, name, 0, type, nullptr, length) == reg::kSuccess && length > 0) {
    if (REGQUERYVALUEEXA(key, name, 0, type, &buffer, length) != reg::kSuccess) buffer.clear();
  }
  REGCLOSEKEY(key);
  if (type == reg::kString || type == reg::kExpandString) {
    size_t z = buffer.find('\0');
    if (z != std::string::npos) buffer.resize(z);
  }
  return buffer;
}

}  // namespace zuv::sys
