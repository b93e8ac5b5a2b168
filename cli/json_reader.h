// A small JSON reader for the Results records Sonde2 gives: the whole text parsed into values
// that answer every question (a missing member or a wrong kind reads as null), so that what
// draws or exports a run never meets a malformed record unprepared.
#ifndef TELVARIO_CLI_JSON_READER_H
#define TELVARIO_CLI_JSON_READER_H

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace telvario::cli {

class JsonValue {
 public:
  enum class Kind { Null, Bool, Number, String, Array, Object };

  JsonValue() = default;
  static JsonValue MakeBool(bool value);
  static JsonValue MakeNumber(double value);
  static JsonValue MakeString(std::string value);
  static JsonValue MakeArray(std::vector<JsonValue> items);
  static JsonValue MakeObject(std::vector<std::pair<std::string, JsonValue>> members);

  Kind kind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::Null; }
  bool IsNumber() const { return kind_ == Kind::Number; }
  // The value when it is of that kind, else the fallback.
  double Number(double fallback) const { return kind_ == Kind::Number ? number_ : fallback; }
  bool Bool(bool fallback) const { return kind_ == Kind::Bool ? boolean_ : fallback; }
  std::string Text(const std::string& fallback = "") const;
  // An array's items; none for anything else.
  const std::vector<JsonValue>& Items() const;
  // An object's member (the last of that name); a null value when absent or not an object.
  const JsonValue& operator[](std::string_view name) const;

 private:
  Kind kind_ = Kind::Null;
  bool boolean_ = false;
  double number_ = 0;
  std::string text_;
  // Shared so that values copy cheaply; never changed once made.
  std::shared_ptr<const std::vector<JsonValue>> items_;
  std::shared_ptr<const std::vector<std::pair<std::string, JsonValue>>> members_;
};

// The value of a whole text (RFC 8259: one value, white space around it). Nothing, with the
// reason and its byte offset in `error`, for anything else, including nesting deeper than 64.
std::optional<JsonValue> ParseJson(std::string_view text, std::string* error);

}  // namespace telvario::cli

#endif
