#include "json_reader.h"

#include <charconv>
#include <cstdint>

namespace telvario::cli {
namespace {

constexpr int kMaxDepth = 64;

const JsonValue& NullValue() {
  static const JsonValue null;
  return null;
}

const std::vector<JsonValue>& NoItems() {
  static const std::vector<JsonValue> none;
  return none;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::optional<JsonValue> Document(std::string* error) {
    std::optional<JsonValue> value = Value(0);
    if (value) {
      SkipSpace();
      if (at_ != text_.size()) value = Fail("text after the value");
    }
    if (!value && error != nullptr) {
      *error = problem_ + " at byte " + std::to_string(problemAt_);
    }
    return value;
  }

 private:
  std::optional<JsonValue> Fail(const char* problem) {
    if (problem_.empty()) {
      problem_ = problem;
      problemAt_ = at_;
    }
    return std::nullopt;
  }

  void SkipSpace() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }

  bool Literal(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  std::optional<JsonValue> Value(int depth) {
    if (depth >= kMaxDepth) return Fail("nesting too deep");
    SkipSpace();
    if (at_ >= text_.size()) return Fail("a value expected");
    const char c = text_[at_];
    if (c == '{') return Object(depth);
    if (c == '[') return Array(depth);
    if (c == '"') {
      std::optional<std::string> text = String();
      if (!text) return std::nullopt;
      return JsonValue::MakeString(std::move(*text));
    }
    if (Literal("true")) return JsonValue::MakeBool(true);
    if (Literal("false")) return JsonValue::MakeBool(false);
    if (Literal("null")) return JsonValue();
    return Number();
  }

  std::optional<JsonValue> Object(int depth) {
    ++at_;  // {
    std::vector<std::pair<std::string, JsonValue>> members;
    SkipSpace();
    if (at_ < text_.size() && text_[at_] == '}') {
      ++at_;
      return JsonValue::MakeObject(std::move(members));
    }
    for (;;) {
      SkipSpace();
      if (at_ >= text_.size() || text_[at_] != '"') return Fail("a member name expected");
      std::optional<std::string> name = String();
      if (!name) return std::nullopt;
      SkipSpace();
      if (at_ >= text_.size() || text_[at_] != ':') return Fail("':' expected");
      ++at_;
      std::optional<JsonValue> value = Value(depth + 1);
      if (!value) return std::nullopt;
      members.emplace_back(std::move(*name), std::move(*value));
      SkipSpace();
      if (at_ >= text_.size()) return Fail("'}' expected");
      if (text_[at_] == '}') {
        ++at_;
        return JsonValue::MakeObject(std::move(members));
      }
      if (text_[at_] != ',') return Fail("',' or '}' expected");
      ++at_;
    }
  }

  std::optional<JsonValue> Array(int depth) {
    ++at_;  // [
    std::vector<JsonValue> items;
    SkipSpace();
    if (at_ < text_.size() && text_[at_] == ']') {
      ++at_;
      return JsonValue::MakeArray(std::move(items));
    }
    for (;;) {
      std::optional<JsonValue> value = Value(depth + 1);
      if (!value) return std::nullopt;
      items.push_back(std::move(*value));
      SkipSpace();
      if (at_ >= text_.size()) return Fail("']' expected");
      if (text_[at_] == ']') {
        ++at_;
        return JsonValue::MakeArray(std::move(items));
      }
      if (text_[at_] != ',') return Fail("',' or ']' expected");
      ++at_;
    }
  }

  // Four hexadecimal digits after \u.
  std::optional<std::uint32_t> Hex4() {
    if (text_.size() - at_ < 4) return std::nullopt;
    std::uint32_t unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = text_[at_++];
      unit <<= 4;
      if (h >= '0' && h <= '9') {
        unit |= static_cast<std::uint32_t>(h - '0');
      } else if (h >= 'a' && h <= 'f') {
        unit |= static_cast<std::uint32_t>(h - 'a' + 10);
      } else if (h >= 'A' && h <= 'F') {
        unit |= static_cast<std::uint32_t>(h - 'A' + 10);
      } else {
        return std::nullopt;
      }
    }
    return unit;
  }

  static void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  // A lone surrogate of \u escapes becomes U+FFFD, as decoders of text do.
  bool Escape(std::string& out) {
    if (at_ >= text_.size()) return false;
    const char e = text_[at_++];
    switch (e) {
      case '"':
      case '\\':
      case '/':
        out += e;
        return true;
      case 'b':
        out += '\b';
        return true;
      case 'f':
        out += '\f';
        return true;
      case 'n':
        out += '\n';
        return true;
      case 'r':
        out += '\r';
        return true;
      case 't':
        out += '\t';
        return true;
      case 'u':
        break;
      default:
        return false;
    }
    std::optional<std::uint32_t> unit = Hex4();
    if (!unit) return false;
    std::uint32_t code = *unit;
    if (code >= 0xD800 && code < 0xDC00 && text_.substr(at_, 2) == "\\u") {
      const std::size_t before = at_;
      at_ += 2;
      std::optional<std::uint32_t> low = Hex4();
      if (!low) return false;
      if (*low >= 0xDC00 && *low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (*low - 0xDC00);
      } else {
        at_ = before;  // not a pair: the next escape stands alone
      }
    }
    if (code >= 0xD800 && code < 0xE000) code = 0xFFFD;
    AppendUtf8(out, code);
    return true;
  }

  std::optional<std::string> String() {
    ++at_;  // "
    std::string out;
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == '"') {
        ++at_;
        return out;
      }
      if (static_cast<unsigned char>(c) < 0x20) {
        Fail("a control character in a string");
        return std::nullopt;
      }
      ++at_;
      if (c != '\\') {
        out += c;
      } else if (!Escape(out)) {
        Fail("a bad escape in a string");
        return std::nullopt;
      }
    }
    Fail("an unterminated string");
    return std::nullopt;
  }

  bool Digits() {
    const std::size_t start = at_;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
    return at_ > start;
  }

  // The grammar checked first: from_chars alone would take "01", "1." or "+1".
  std::optional<JsonValue> Number() {
    const std::size_t start = at_;
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    if (at_ < text_.size() && text_[at_] == '0') {
      ++at_;
    } else if (!Digits()) {
      at_ = start;
      return Fail("a value expected");
    }
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      if (!Digits()) return Fail("digits expected after '.'");
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (!Digits()) return Fail("digits expected in the exponent");
    }
    double value = 0;
    const char* first = text_.data() + start;
    const auto [end, status] = std::from_chars(first, text_.data() + at_, value);
    if (status != std::errc() || end != text_.data() + at_) {
      at_ = start;
      return Fail("a number out of range");
    }
    return JsonValue::MakeNumber(value);
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::string problem_;
  std::size_t problemAt_ = 0;
};

}  // namespace

JsonValue JsonValue::MakeBool(bool value) {
  JsonValue made;
  made.kind_ = Kind::Bool;
  made.boolean_ = value;
  return made;
}

JsonValue JsonValue::MakeNumber(double value) {
  JsonValue made;
  made.kind_ = Kind::Number;
  made.number_ = value;
  return made;
}

JsonValue JsonValue::MakeString(std::string value) {
  JsonValue made;
  made.kind_ = Kind::String;
  made.text_ = std::move(value);
  return made;
}

JsonValue JsonValue::MakeArray(std::vector<JsonValue> items) {
  JsonValue made;
  made.kind_ = Kind::Array;
  made.items_ = std::make_shared<const std::vector<JsonValue>>(std::move(items));
  return made;
}

JsonValue JsonValue::MakeObject(std::vector<std::pair<std::string, JsonValue>> members) {
  JsonValue made;
  made.kind_ = Kind::Object;
  made.members_ =
      std::make_shared<const std::vector<std::pair<std::string, JsonValue>>>(std::move(members));
  return made;
}

std::string JsonValue::Text(const std::string& fallback) const {
  return kind_ == Kind::String ? text_ : fallback;
}

const std::vector<JsonValue>& JsonValue::Items() const {
  return kind_ == Kind::Array ? *items_ : NoItems();
}

const JsonValue& JsonValue::operator[](std::string_view name) const {
  if (kind_ != Kind::Object) return NullValue();
  for (auto member = members_->rbegin(); member != members_->rend(); ++member) {
    if (member->first == name) return member->second;
  }
  return NullValue();
}

std::optional<JsonValue> ParseJson(std::string_view text, std::string* error) {
  return Parser(text).Document(error);
}

}  // namespace telvario::cli
