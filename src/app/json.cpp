#include "app/json.h"

#include "platform/os/unicode.h"

#include <cstdint>

namespace zuv::app {

const JsonValue* JsonValue::find(std::string_view name) const {
  if (kind != Kind::Object) return nullptr;
  for (const auto& [key, value] : members)
    if (key == name) return &value;
  return nullptr;
}

namespace {

// Nesting deeper than any answer we read is refused rather than recursed into.
constexpr int kMaxDepth = 64;

class Reader {
 public:
  explicit Reader(std::string_view s) : s_(s) {}

  bool document(JsonValue& v) {
    if (!value(v, 0)) return false;
    blanks();
    if (at_ < s_.size()) return fail("tekst po wartości");
    return true;
  }
  std::string error() const { return error_ + " (znak " + std::to_string(at_) + ")"; }

 private:
  bool fail(const char* what) {
    if (error_.empty()) error_ = what;
    return false;
  }
  void blanks() {
    while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\n' || s_[at_] == '\r')) ++at_;
  }
  bool word(std::string_view w) {
    if (s_.substr(at_, w.size()) != w) return fail("nieznane słowo");
    at_ += w.size();
    return true;
  }

  bool value(JsonValue& v, int depth) {
    if (depth > kMaxDepth) return fail("zbyt głębokie zagnieżdżenie");
    blanks();
    if (at_ >= s_.size()) return fail("koniec tekstu");
    const char c = s_[at_];
    if (c == '{') return object(v, depth);
    if (c == '[') return array(v, depth);
    if (c == '"') {
      v.kind = JsonValue::Kind::String;
      return string(v.text);
    }
    if (c == 't' || c == 'f') {
      v.kind = JsonValue::Kind::Bool;
      v.boolean = c == 't';
      return word(c == 't' ? "true" : "false");
    }
    if (c == 'n') return word("null");
    return number(v);
  }

  bool number(JsonValue& v) {
    const size_t start = at_;
    if (at_ < s_.size() && s_[at_] == '-') ++at_;
    auto digits = [&] {
      const size_t from = at_;
      while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
      return at_ > from;
    };
    if (!digits()) return fail("oczekiwana wartość");
    if (at_ < s_.size() && s_[at_] == '.' && (++at_, !digits())) return fail("błędna liczba");
    if (at_ < s_.size() && (s_[at_] == 'e' || s_[at_] == 'E')) {
      ++at_;
      if (at_ < s_.size() && (s_[at_] == '+' || s_[at_] == '-')) ++at_;
      if (!digits()) return fail("błędna liczba");
    }
    v.kind = JsonValue::Kind::Number;
    v.text = std::string(s_.substr(start, at_ - start));
    return true;
  }

  bool hex4(std::uint32_t& out) {
    if (at_ + 4 > s_.size()) return fail("błędna sekwencja \\u");
    out = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = s_[at_++];
      out <<= 4;
      if (h >= '0' && h <= '9') out |= h - '0';
      else if (h >= 'a' && h <= 'f') out |= h - 'a' + 10;
      else if (h >= 'A' && h <= 'F') out |= h - 'A' + 10;
      else return fail("błędna sekwencja \\u");
    }
    return true;
  }

  bool string(std::string& out) {
    ++at_;  // the opening quote
    out.clear();
    while (at_ < s_.size()) {
      const char c = s_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return fail("znak sterujący w tekście");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= s_.size()) break;
      const char e = s_[at_++];
      switch (e) {
        case '"': case '\\': case '/': out += e; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          std::uint32_t cp = 0;
          if (!hex4(cp)) return false;
          if (cp >= 0xD800 && cp < 0xDC00 && s_.substr(at_, 2) == "\\u") {
            at_ += 2;
            std::uint32_t low = 0;
            if (!hex4(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return fail("błędna para zastępcza");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          }
          os::append_utf8(out, static_cast<char32_t>(cp));
          break;
        }
        default: return fail("nieznana sekwencja ucieczki");
      }
    }
    return fail("niezamknięty tekst");
  }

  bool array(JsonValue& v, int depth) {
    v.kind = JsonValue::Kind::Array;
    ++at_;
    blanks();
    if (at_ < s_.size() && s_[at_] == ']') return ++at_, true;
    while (true) {
      v.items.emplace_back();
      if (!value(v.items.back(), depth + 1)) return false;
      blanks();
      if (at_ < s_.size() && s_[at_] == ',') { ++at_; continue; }
      if (at_ < s_.size() && s_[at_] == ']') return ++at_, true;
      return fail("oczekiwany przecinek albo ]");
    }
  }

  bool object(JsonValue& v, int depth) {
    v.kind = JsonValue::Kind::Object;
    ++at_;
    blanks();
    if (at_ < s_.size() && s_[at_] == '}') return ++at_, true;
    while (true) {
      blanks();
      if (at_ >= s_.size() || s_[at_] != '"') return fail("oczekiwana nazwa pola");
      std::string key;
      if (!string(key)) return false;
      blanks();
      if (at_ >= s_.size() || s_[at_] != ':') return fail("oczekiwany dwukropek");
      ++at_;
      v.members.push_back(JsonMember{std::move(key), JsonValue{}});
      if (!value(v.members.back().value, depth + 1)) return false;
      blanks();
      if (at_ < s_.size() && s_[at_] == ',') { ++at_; continue; }
      if (at_ < s_.size() && s_[at_] == '}') return ++at_, true;
      return fail("oczekiwany przecinek albo }");
    }
  }

  std::string_view s_;
  size_t at_ = 0;
  std::string error_;
};

}  // namespace

std::optional<JsonValue> parse_json(std::string_view text, std::string* error) {
  Reader r(text);
  JsonValue v;
  if (!r.document(v)) {
    if (error) *error = r.error();
    return std::nullopt;
  }
  return v;
}

}  // namespace zuv::app
