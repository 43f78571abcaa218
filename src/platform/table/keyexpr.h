// Key expressions of index tags: "lpp", "lpp_p+dtos(data)", "str(ilosc,4,0)+lpp",
// "upper(nazwa)", "lpp_p+descend(rmc)", "alias->field". Compiled once against the
// fields of the tables they read; the result type and length fix the tag's key.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/table/index_key.h"

namespace zuv::table {

// A field an expression reads: slot is the resolver's own handle.
struct FieldRef {
  int slot = 0;
  char type = 'C';  // C N D L M
  int length = 0;
  int decimals = 0;
};

class FieldResolver {
 public:
  virtual ~FieldResolver() = default;
  // alias is empty for a bare field name; names come in any case.
  virtual std::optional<FieldRef> resolve(std::string_view alias, std::string_view field) const = 0;
};

// The current record(s): the raw bytes of a field as stored in the DBF record.
class RecordView {
 public:
  virtual ~RecordView() = default;
  virtual std::string_view field_bytes(int slot) const = 0;
};

struct KeyValue {
  char type = 'C';   // C N D L
  std::string text;  // C: the bytes; D: YYYYMMDD or 8 blanks
  double number = 0;
  bool logical = false;
};

class KeyExpression {
 public:
  // Throws IndexError naming the fault ("Nieznane pole ...", "Błąd składni ...").
  static KeyExpression compile(std::string_view text, const FieldResolver& fields);

  const std::string& text() const { return text_; }
  KeyType key_type() const { return key_type_; }
  int key_length() const { return key_length_; }
  // Width and decimals of the value before it became a key (numbers: the field's).
  int value_length() const;
  int value_decimals() const;

  KeyValue value(const RecordView& record) const;
  // The key bytes, exactly key_length() long.
  std::string key(const RecordView& record) const;
  // The same into out, whose buffer serves again (a build's million keys).
  void key(const RecordView& record, std::string& out) const;
  // The key bytes of a value of the expression's type (a search value).
  std::string key_of(const KeyValue& v) const;

  struct Node;
  // A part of a character key that is a field's bytes as they stand (or upper-cased,
  // or a date's DTOS text): such keys are copied from the record, not evaluated.
  struct Piece {
    enum Kind : char { Text, Upper, DateText } kind;
    int slot;
    int length;
  };

 private:
  std::string text_;
  std::shared_ptr<const Node> root_;
  std::vector<Piece> pieces_;  // empty: the key is evaluated
  KeyType key_type_ = KeyType::Character;
  int key_length_ = 0;
};

// Upper case of a CP852 text, Polish letters included.
std::string upper_852(std::string_view s);
char upper_852(char c);
// Formats a number as STR(n, len, dec) does: right-aligned, rounded, asterisks when
// it does not fit.
std::string format_str(double n, int len, int dec);

}  // namespace zuv::table
