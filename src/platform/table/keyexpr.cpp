#include "platform/table/keyexpr.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/base/text.h"

namespace zuv::table {

struct KeyExpression::Node {
  enum Kind { Field, Literal, Concat, Plus, Dtos, Str, Strzero, Left, Upper, Descend } kind;
  char type = 'C';
  int length = 0;
  int decimals = 0;
  FieldRef field;
  KeyValue literal;
  std::vector<std::shared_ptr<const Node>> args;
  int n1 = 0, n2 = 0;  // STR/STRZERO length and decimals, LEFT count
};

namespace {

using NodeP = std::shared_ptr<const KeyExpression::Node>;
using Node = KeyExpression::Node;

std::string lower(std::string_view s) { return base::lower_ascii(s); }

class Parser {
 public:
  Parser(std::string_view text, const FieldResolver& fields) : s_(text), fields_(fields) {}

  NodeP parse() {
    NodeP n = sum();
    skip();
    if (pos_ != s_.size()) fail("nieoczekiwany znak");
    return n;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw IndexError("Błąd w wyrażeniu klucza \"" + std::string(s_) + "\": " + what);
  }
  void skip() {
    while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
  }
  bool eat(char c) {
    skip();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  void expect(char c) {
    if (!eat(c)) fail(std::string("oczekiwano '") + c + "'");
  }
  std::string ident() {
    skip();
    size_t b = pos_;
    while (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_')) ++pos_;
    return std::string(s_.substr(b, pos_ - b));
  }
  int int_arg() {
    NodeP n = sum();
    if (n->kind != Node::Literal || n->type != 'N') fail("oczekiwano liczby");
    return int(n->literal.number);
  }

  NodeP sum() {
    NodeP left = term();
    while (eat('+')) {
      NodeP right = term();
      auto n = std::make_shared<Node>();
      if (left->type == 'C' && right->type == 'C') {
        n->kind = Node::Concat;
        n->type = 'C';
        n->length = left->length + right->length;
      } else if (left->type == 'N' && right->type == 'N') {
        n->kind = Node::Plus;
        n->type = 'N';
      } else {
        fail("'+' łączy wartości różnych typów");
      }
      n->args = {left, right};
      left = n;
    }
    return left;
  }

  NodeP term() {
    skip();
    if (pos_ >= s_.size()) fail("niepełne wyrażenie");
    char c = s_[pos_];
    if (c == '"' || c == '\'') {
      size_t end = s_.find(c, pos_ + 1);
      if (end == std::string_view::npos) fail("niezamknięty tekst");
      auto n = std::make_shared<Node>();
      n->kind = Node::Literal;
      n->type = 'C';
      n->literal.text = std::string(s_.substr(pos_ + 1, end - pos_ - 1));
      n->length = int(n->literal.text.size());
      pos_ = end + 1;
      return n;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-') {
      size_t b = pos_;
      ++pos_;
      while (pos_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '.')) ++pos_;
      auto n = std::make_shared<Node>();
      n->kind = Node::Literal;
      n->type = 'N';
      n->literal.type = 'N';
      n->literal.number = std::strtod(std::string(s_.substr(b, pos_ - b)).c_str(), nullptr);
      return n;
    }
    if (c == '(') {
      ++pos_;
      NodeP n = sum();
      expect(')');
      return n;
    }
    std::string name = ident();
    if (name.empty()) fail("nieoczekiwany znak");
    skip();
    if (s_.substr(pos_, 2) == "->") {
      pos_ += 2;
      std::string field = ident();
      if (field.empty()) fail("brak nazwy pola po ->");
      return field_node(name, field);
    }
    if (eat('(')) return call(lower(name));
    return field_node("", name);
  }

  NodeP field_node(const std::string& alias, const std::string& name) {
    auto ref = fields_.resolve(alias, name);
    if (!ref) fail("nieznane pole " + (alias.empty() ? name : alias + "->" + name));
    if (ref->type == 'M') fail("pole memo nie może być kluczem");
    auto n = std::make_shared<Node>();
    n->kind = Node::Field;
    n->field = *ref;
    n->type = ref->type == 'F' ? 'N' : ref->type;
    n->length = ref->length;
    n->decimals = ref->decimals;
    if (n->type != 'C' && n->type != 'N' && n->type != 'D' && n->type != 'L') fail("pole typu, którego nie można indeksować: " + name);
    return n;
  }

  NodeP call(const std::string& fn) {
    auto n = std::make_shared<Node>();
    std::vector<NodeP> args;
    std::vector<int> nums;
    auto one = [&](char want) {
      NodeP a = sum();
      if (want && a->type != want) fail("zły typ argumentu funkcji " + fn);
      args.push_back(a);
    };
    if (fn == "dtos") {
      one('D');
      n->kind = Node::Dtos;
      n->type = 'C';
      n->length = 8;
    } else if (fn == "str" || fn == "strzero") {
      one('N');
      n->n1 = 10;
      n->n2 = 0;
      if (eat(',')) {
        n->n1 = int_arg();
        if (eat(',')) n->n2 = int_arg();
      } else if (args[0]->kind == Node::Field) {
        n->n1 = args[0]->length;
        n->n2 = args[0]->decimals;
      }
      if (n->n1 < 1 || n->n1 > 40 || n->n2 < 0 || n->n2 >= n->n1) fail("niemożliwa długość w " + fn);
      n->kind = fn == "str" ? Node::Str : Node::Strzero;
      n->type = 'C';
      n->length = n->n1;
    } else if (fn == "left") {
      one('C');
      expect(',');
      n->n1 = int_arg();
      if (n->n1 < 0) fail("ujemna długość w left");
      n->kind = Node::Left;
      n->type = 'C';
      n->length = std::min(n->n1, args[0]->length);
    } else if (fn == "upper") {
      one('C');
      n->kind = Node::Upper;
      n->type = 'C';
      n->length = args[0]->length;
    } else if (fn == "descend") {
      one(0);
      n->kind = Node::Descend;
      n->type = args[0]->type == 'D' ? 'N' : args[0]->type;
      n->length = args[0]->length;
    } else {
      fail("nieznana funkcja " + fn);
    }
    expect(')');
    n->args = std::move(args);
    return n;
  }

  std::string_view s_;
  size_t pos_ = 0;
  const FieldResolver& fields_;
};

// A logical field's byte: T or Y, either case, is true.
bool logical_true(std::string_view raw) {
  return !raw.empty() && (raw[0] == 'T' || raw[0] == 't' || raw[0] == 'Y' || raw[0] == 'y');
}

// A character field's value: its bytes, blank-padded to the field's length.
void put_text(std::string_view raw, size_t length, char* out) {
  const size_t n = std::min(raw.size(), length);
  if (n) std::memcpy(out, raw.data(), n);  // an absent field's bytes have no address
  std::memset(out + n, ' ', length - n);
}

// A date field's DTOS text: YYYYMMDD, or 8 blanks for an empty or impossible date.
void put_date_text(std::string_view raw, char* out) {
  put_text(raw, 8, out);
  if (julian_day(std::string_view(out, 8)) == 0) std::memset(out, ' ', 8);
}

void put_piece(const KeyExpression::Piece& p, std::string_view raw, char* out) {
  switch (p.kind) {
    case KeyExpression::Piece::Text:
      put_text(raw, size_t(p.length), out);
      break;
    case KeyExpression::Piece::Upper:
      put_text(raw, size_t(p.length), out);
      for (int i = 0; i < p.length; ++i) out[i] = upper_852(out[i]);
      break;
    case KeyExpression::Piece::DateText:
      put_date_text(raw, out);
      break;
  }
}

// The pieces of a key made only of fields taken as they stand; false for any other.
bool straight_pieces(const Node& n, std::vector<KeyExpression::Piece>& out) {
  using Piece = KeyExpression::Piece;
  const Node* arg = n.args.empty() ? nullptr : n.args[0].get();
  switch (n.kind) {
    case Node::Field:
      if (n.type != 'C') return false;
      out.push_back({Piece::Text, n.field.slot, n.length});
      return true;
    case Node::Left:
      if (arg->kind != Node::Field) return false;
      out.push_back({Piece::Text, arg->field.slot, n.length});
      return true;
    case Node::Upper:
      if (arg->kind != Node::Field) return false;
      out.push_back({Piece::Upper, arg->field.slot, n.length});
      return true;
    case Node::Dtos:
      if (arg->kind != Node::Field) return false;
      out.push_back({Piece::DateText, arg->field.slot, 8});
      return true;
    case Node::Concat:
      return straight_pieces(*n.args[0], out) && straight_pieces(*n.args[1], out);
    default:
      return false;
  }
}

double parse_number(std::string_view raw) {
  std::string t(raw);
  for (char& c : t) {
    if (c == ',') c = '.';
  }
  return std::strtod(t.c_str(), nullptr);
}

KeyValue eval(const Node& n, const RecordView& rec) {
  KeyValue v;
  v.type = n.type;
  switch (n.kind) {
    case Node::Literal:
      return n.literal;
    case Node::Field: {
      std::string_view raw = rec.field_bytes(n.field.slot);
      switch (n.type) {
        case 'C':
          v.text.resize(size_t(n.length));
          put_text(raw, size_t(n.length), v.text.data());
          break;
        case 'N':
          v.number = parse_number(raw);
          break;
        case 'D':
          v.text.resize(8);
          put_date_text(raw, v.text.data());
          break;
        case 'L':
          v.logical = logical_true(raw);
          break;
      }
      return v;
    }
    case Node::Concat:
      v.text = eval(*n.args[0], rec).text + eval(*n.args[1], rec).text;
      return v;
    case Node::Plus:
      v.number = eval(*n.args[0], rec).number + eval(*n.args[1], rec).number;
      return v;
    case Node::Dtos:
      v.text = eval(*n.args[0], rec).text;
      return v;
    case Node::Str:
    case Node::Strzero: {
      double x = eval(*n.args[0], rec).number;
      v.text = format_str(x, n.n1, n.n2);
      if (n.kind == Node::Strzero && v.text[0] != '*') {
        bool neg = v.text.find('-') != std::string::npos;
        for (char& c : v.text) {
          if (c == ' ' || c == '-') c = '0';
        }
        if (neg) v.text[0] = '-';
      }
      return v;
    }
    case Node::Left:
      v.text = eval(*n.args[0], rec).text.substr(0, size_t(n.length));
      return v;
    case Node::Upper:
      v.text = upper_852(eval(*n.args[0], rec).text);
      return v;
    case Node::Descend: {
      KeyValue a = eval(*n.args[0], rec);
      if (a.type == 'C') {
        v.text = a.text;
        for (char& c : v.text) c = c == 0 ? char(0) : char(256 - static_cast<unsigned char>(c));
      } else if (a.type == 'N') {
        v.number = -a.number;
      } else if (a.type == 'D') {
        v.number = -double(julian_day(a.text));
      } else {
        v.logical = !a.logical;
      }
      return v;
    }
  }
  return v;
}

}  // namespace

char upper_852(char ch) {
  unsigned char c = static_cast<unsigned char>(ch);
  if (c >= 'a' && c <= 'z') return char(c - 32);
  switch (c) {
    case 0xA5: return char(0xA4);  // ą
    case 0x86: return char(0x8F);  // ć
    case 0xA9: return char(0xA8);  // ę
    case 0x88: return char(0x9D);  // ł
    case 0xE4: return char(0xE3);  // ń
    case 0xA2: return char(0xE0);  // ó
    case 0x98: return char(0x97);  // ś
    case 0xAB: return char(0x8D);  // ź
    case 0xBE: return char(0xBD);  // ż
    default: return ch;
  }
}

std::string upper_852(std::string_view s) {
  std::string r(s);
  for (char& ch : r) ch = upper_852(ch);
  return r;
}

std::string format_str(double n, int len, int dec) {
  double scale = std::pow(10.0, dec);
  // Half away from zero, with a nudge for values like 2.675 stored just below.
  double r = std::round(n * scale + (n >= 0 ? 1e-9 : -1e-9)) / scale;
  char buf[128];
  std::snprintf(buf, sizeof buf, "%*.*f", len, dec, r);
  std::string s(buf);
  if (int(s.size()) > len) return std::string(size_t(len), '*');
  return s;
}

KeyExpression KeyExpression::compile(std::string_view text, const FieldResolver& fields) {
  KeyExpression e;
  e.text_ = std::string(text);
  Parser p(text, fields);
  e.root_ = p.parse();
  switch (e.root_->type) {
    case 'C':
      e.key_type_ = KeyType::Character;
      e.key_length_ = e.root_->length;
      if (e.key_length_ < 1 || e.key_length_ > 240)
        throw IndexError("Klucz \"" + e.text_ + "\" ma niedozwoloną długość " + std::to_string(e.key_length_));
      break;
    case 'N':
      e.key_type_ = KeyType::Numeric;
      e.key_length_ = 8;
      break;
    case 'D':
      e.key_type_ = KeyType::Date;
      e.key_length_ = 8;
      break;
    default:
      e.key_type_ = KeyType::Logical;
      e.key_length_ = 1;
      break;
  }
  if (e.key_type_ == KeyType::Character && !straight_pieces(*e.root_, e.pieces_)) e.pieces_.clear();
  return e;
}

int KeyExpression::value_length() const { return root_->kind == Node::Field || root_->type == 'C' ? root_->length : 0; }
int KeyExpression::value_decimals() const { return root_->kind == Node::Field ? root_->decimals : 0; }

KeyValue KeyExpression::value(const RecordView& record) const { return eval(*root_, record); }

std::string KeyExpression::key_of(const KeyValue& v) const {
  switch (key_type_) {
    case KeyType::Character: {
      std::string k = v.text.substr(0, size_t(key_length_));
      k.resize(size_t(key_length_), ' ');
      return k;
    }
    case KeyType::Numeric:
      return numeric_key(v.number);
    case KeyType::Date:
      return date_key(v.text);
    case KeyType::Logical:
      return v.logical ? "T" : "F";
  }
  return {};
}

std::string KeyExpression::key(const RecordView& record) const {
  std::string k;
  key(record, k);
  return k;
}

void KeyExpression::key(const RecordView& record, std::string& out) const {
  // Keys of fields as they stand come straight from the record's bytes, without a
  // value made between: what a tag build does a million times.
  if (!pieces_.empty()) {
    out.resize(size_t(key_length_));
    char* p = out.data();
    for (const Piece& piece : pieces_) {
      put_piece(piece, record.field_bytes(piece.slot), p);
      p += piece.length;
    }
    return;
  }
  if (root_->kind == Node::Field) {
    std::string_view raw = record.field_bytes(root_->field.slot);
    switch (root_->type) {
      case 'N':
        if (key_type_ == KeyType::Numeric) return void(out = numeric_key(parse_number(raw)));
        break;
      case 'D':
        // An impossible date keys as an empty one: julian_day gives 0 for both.
        if (key_type_ == KeyType::Date && raw.size() == 8) return void(out = date_key(raw));
        break;
      case 'L':
        if (key_type_ == KeyType::Logical) return void(out.assign(1, logical_true(raw) ? 'T' : 'F'));
        break;
    }
  }
  out = key_of(value(record));
}

}  // namespace zuv::table
