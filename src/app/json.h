// A small reader of JSON text (RFC 8259) for the answers of outside programs, such as
// the file server's list of open files. Numbers are kept as their text: the callers
// read identifiers that do not fit a double exactly.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zuv::app {

struct JsonMember;

struct JsonValue {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  std::string text;  // a string's value, or a number as written
  std::vector<JsonValue> items;                            // Array
  std::vector<JsonMember> members;  // Object, in the order written

  // The member of that name, nullptr when absent or this is no object.
  const JsonValue* find(std::string_view name) const;
  bool is_object() const { return kind == Kind::Object; }
  // A string's text or a number's digits; "" for anything else.
  std::string scalar() const { return kind == Kind::String || kind == Kind::Number ? text : std::string(); }
};

// A pair would need JsonValue complete inside its own definition, which not every
// standard library accepts.
struct JsonMember {
  std::string name;
  JsonValue value;
};

// nullopt when the text is not one whole JSON value; *error then says where.
std::optional<JsonValue> parse_json(std::string_view text, std::string* error = nullptr);

}  // namespace zuv::app
