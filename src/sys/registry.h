// Registry access for the program: the class XbpReg, bound to one key path, which opens
// the key for every operation and closes it again, and the thin functions used to read
// the computer name. Nothing here raises or shows an error; every call leaves the
// Windows result code in nCallSuccess (0 = success, 2 = key or value missing).
//
// Texts are UTF-8 here (the program's in-memory form for paths and operator texts).
// Where a text is stored as bytes (binary values written or read as text) the bytes
// are in code page 1250, as a Windows ANSI program on a Polish workstation writes them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/os/registry.h"

// <windows.h> maps these names to its A/W functions; the class's methods bear them.
// A file that includes <windows.h> after this header undoes them the same way.
#ifdef _WIN32
#undef RegOpenKeyEx
#undef RegCreateKeyEx
#undef RegQueryInfoKey
#undef RegEnumKeyEx
#undef RegEnumValue
#endif

namespace zuv::sys {

// A value as the registry class hands it out or takes it in.
struct RegValue {
  enum class Kind { Nil, Text, Number, Logical, Array };
  Kind kind = Kind::Nil;
  std::string text;
  long long number = 0;
  bool logical = false;
  std::vector<RegValue> items;

  static RegValue nil() { return {}; }
  static RegValue of(std::string s) {
    RegValue v;
    v.kind = Kind::Text;
    v.text = std::move(s);
    return v;
  }
  static RegValue of(const char* s) { return of(std::string(s)); }
  static RegValue of(long long n) {
    RegValue v;
    v.kind = Kind::Number;
    v.number = n;
    return v;
  }
  static RegValue of(int n) { return of(static_cast<long long>(n)); }
  static RegValue of(bool b) {
    RegValue v;
    v.kind = Kind::Logical;
    v.logical = b;
    return v;
  }
  static RegValue array(std::vector<RegValue> items) {
    RegValue v;
    v.kind = Kind::Array;
    v.items = std::move(items);
    return v;
  }
  bool is_nil() const { return kind == Kind::Nil; }
  bool operator==(const RegValue&) const = default;
};

// The serialised form of any value in a binary registry value (VAR2BIN / BIN2VAR);
// docs/registry.md gives the layout. BIN2VAR answers false for bytes not in that form.
std::vector<std::uint8_t> VAR2BIN(const RegValue& value);
bool BIN2VAR(const std::vector<std::uint8_t>& bytes, RegValue& value);

class XbpReg {
 public:
  XbpReg() = default;
  // The class's "new": runs Init.
  static XbpReg New(std::string_view key_path, bool create = false, bool keep_types = false);

  XbpReg& Init(std::string_view key_path, bool create = false, bool keep_types = false);

  // The raw calls; each stores its result in nCallSuccess and answers it.
  long RegOpenKeyEx(std::uint32_t access = os::reg::kAllAccess);
  long RegCreateKeyEx();
  long RegQueryInfoKey();
  long RegCloseKey();
  long RegEnumKeyEx(std::uint32_t index, std::string& name);
  long RegEnumValue(std::uint32_t index, std::string& name, RegValue& value);

  bool Create();
  bool NewKey(std::string_view name);
  bool DelKey(std::string_view name);
  RegValue GetValue(std::string_view name);
  bool SetValue(std::string_view name, const RegValue& value);
  bool DelValue(std::string_view name);
  std::vector<std::string> KeyList();
  std::vector<std::pair<std::string, RegValue>> ValueList();
  bool MoveUp();
  // Answers whether the object now stands on the subkey.
  bool MoveDown(std::string_view subkey);
  RegValue Standard();
  RegValue Standard(const RegValue& value);
  std::string ReadBinType() const { return cReadBinaryTypeAs; }
  std::string ReadBinType(std::string_view how);
  std::string SaveStringType() const { return cSaveStringTypeAs; }
  std::string SaveStringType(std::string_view how);
  bool Status() const { return lStatus; }
  std::string KeyName() const;

  // Members, in the order the class declares them.
  os::reg::Handle nHKey = 0;
  std::string cKey;
  os::reg::Handle nKeyHandle = 0;
  bool lStatus = false;
  long nCallSuccess = 0;
  std::uintptr_t nDllHandle = 0;  // always 0: the registry calls are linked, not loaded
  std::uint32_t nMaxSubKeyLen = 0;
  std::uint32_t nMaxClassLen = 0;
  std::uint32_t nValues = 0;
  std::uint32_t nMaxValueNameLen = 0;
  std::uint32_t nMaxValueLen = 0;
  std::uint32_t nSecurityDescriptor = 0;
  std::string cLastWriteTime;  // "yyyy.mm.dd hh:mm:ss", UTC
  std::uint64_t nLastWriteTime = 0;
  std::string cReadBinaryTypeAs = "A";
  std::string cSaveStringTypeAs = "C";
  std::string cClass;
  std::uint32_t nClass = 0;
  std::uint32_t nSubKeys = 0;
  RegValue xValue;

 private:
  RegValue decode(std::uint32_t type, const std::vector<std::uint8_t>& data) const;
  std::string root_text_;  // the root as recognised, for rebinding to neighbours
};

// %NAME% references replaced by the environment's values (empty when unset).
std::string expand_environment(std::string_view text);

// Thin calls as the computer-name lookup uses them. Handles are those of the raw layer.
long REGOPENKEYEXA(os::reg::Handle root, std::string_view subkey, std::uint32_t options, std::uint32_t access,
                   os::reg::Handle& key);
// With buffer null, length receives the size of the data (a text's zero included).
// With a buffer, the data are stored in it when length is enough, else 234 (more data).
long REGQUERYVALUEEXA(os::reg::Handle key, std::string_view name, std::uint32_t reserved, std::uint32_t& type,
                      std::string* buffer, std::uint32_t& length);
long REGCLOSEKEY(os::reg::Handle key);
// The value as text (a string value without its zero); empty when it cannot be read.
std::string QUERYREGISTRY(os::reg::Handle root, std::string_view subkey, std::string_view name);

// Position (1-based) of the n-th occurrence of search in text, 0 when there are fewer.
std::size_t ATNUM(std::string_view search, std::string_view text, int n = 1);

}  // namespace zuv::sys
