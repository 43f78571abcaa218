// Raw registry access with the Windows calling pattern: every call answers a Windows
// result code (0 = success) and never raises or shows anything.
//
// Texts (key names, value names, string data) are UTF-8 at this interface. The
// Windows backend calls the wide functions, so a value reads back with exactly the
// characters written (the ANSI functions would pass them through code page 1250 and
// turn anything else into '?'). String data (types 1, 2, 7) carry their terminating
// zero, as the ANSI calls report them.
//
// Linux keeps the registry in one text file in the Windows export format; see
// docs/registry.md for its place, its form and how it is replaced.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zuv::os::reg {

using Handle = std::uintptr_t;

// Predefined root handles, valid without opening.
constexpr Handle kClassesRoot = 0x80000000u;
constexpr Handle kCurrentUser = 0x80000001u;
constexpr Handle kLocalMachine = 0x80000002u;
constexpr Handle kUsers = 0x80000003u;
constexpr Handle kCurrentConfig = 0x80000005u;
constexpr Handle kDynData = 0x80000006u;

// Access masks.
constexpr std::uint32_t kAllAccess = 0xF003F;
constexpr std::uint32_t kRead = 0x20019;
constexpr std::uint32_t kWrite = 0x20007;  // query, set value, create subkey
constexpr std::uint32_t kQueryValue = 0x0001;

// Value types.
constexpr std::uint32_t kNone = 0;
constexpr std::uint32_t kString = 1;
constexpr std::uint32_t kExpandString = 2;
constexpr std::uint32_t kBinary = 3;
constexpr std::uint32_t kDword = 4;
constexpr std::uint32_t kMultiString = 7;

// Windows result codes the callers tell apart.
constexpr long kSuccess = 0;
constexpr long kFileNotFound = 2;     // key or value missing
constexpr long kAccessDenied = 5;
constexpr long kInvalidHandle = 6;
constexpr long kInvalidParameter = 87;
constexpr long kMoreData = 234;
constexpr long kNoMoreItems = 259;
constexpr long kBadDb = 1009;         // the registry's storage cannot be parsed
constexpr long kCantRead = 1012;
constexpr long kCantWrite = 1013;
constexpr long kKeyDeleted = 1018;

// Names of the roots as an export file writes them; empty for an unknown handle.
std::string root_name(Handle root);

struct KeyInfo {
  std::string class_name;
  std::uint32_t subkeys = 0;
  std::uint32_t max_subkey_len = 0;  // in characters
  std::uint32_t max_class_len = 0;
  std::uint32_t values = 0;
  std::uint32_t max_value_name_len = 0;
  std::uint32_t max_value_len = 0;   // in bytes
  std::uint32_t security_descriptor = 0;
  std::uint64_t last_write_time = 0; // FILETIME: 100 ns since 1601-01-01 UTC
};

long open_key(Handle root, std::string_view subkey, std::uint32_t access, Handle& key);
// Opens the key, making every missing level; created tells whether the last level was new.
long create_key(Handle root, std::string_view subkey, std::uint32_t access, Handle& key,
                bool* created = nullptr);
long close_key(Handle key);
long query_info_key(Handle key, KeyInfo& info);
long enum_key(Handle key, std::uint32_t index, std::string& name);
long enum_value(Handle key, std::uint32_t index, std::string& name, std::uint32_t& type,
                std::vector<std::uint8_t>& data);
// The empty name is the key's default value.
long query_value(Handle key, std::string_view name, std::uint32_t& type,
                 std::vector<std::uint8_t>& data);
long set_value(Handle key, std::string_view name, std::uint32_t type,
               const std::vector<std::uint8_t>& data);
// Deletes a subkey that has no subkeys of its own (as Windows does).
long delete_key(Handle parent, std::string_view subkey);
long delete_value(Handle key, std::string_view name);

// Linux only: the registry file in use (ZUV_REGISTRY_FILE or the default place).
std::string registry_file();

}  // namespace zuv::os::reg
