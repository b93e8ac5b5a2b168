#include "report.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace telvario::cli {
namespace {

using Value = nlohmann::ordered_json;

// A value as JSON writes it: strings escaped, invalid UTF-8 replaced rather than refused.
std::string Leaf(const Value& value) {
  return value.dump(-1, ' ', false, Value::error_handler_t::replace);
}

// One object on one line with a space after each colon and comma, as the client has always
// written it: readers search its output for "Name": value.
std::string ObjectText(const Value& object);

std::string ValueText(const Value& value) {
  if (value.is_object()) return ObjectText(value);
  if (!value.is_array()) return Leaf(value);
  std::string text = "[";
  for (const Value& item : value) text += (text.size() > 1 ? ", " : "") + ValueText(item);
  return text + "]";
}

std::string ObjectText(const Value& object) {
  std::string text = "{";
  for (const auto& [name, value] : object.items()) {
    if (text.size() > 1) text += ", ";
    text += Leaf(Value(name)) + ": " + ValueText(value);
  }
  return text + "}";
}

std::string PlainText(const Value& value) {
  if (value.is_string()) return value.get<std::string>();
  if (!value.is_array()) return Leaf(value);
  std::string text;
  for (const Value& item : value) text += (text.empty() ? "" : ", ") + PlainText(item);
  return text;
}

bool Sections(const Value& value) {
  return value.is_object() || (value.is_array() && !value.empty() && value.front().is_object());
}

void AppendLines(const Value& object, int indent, std::string& text) {
  std::size_t width = 0;
  for (const auto& [name, value] : object.items()) {
    if (!Sections(value) && name.size() > width) width = name.size();
  }
  const std::string margin(static_cast<std::size_t>(indent), ' ');
  for (const auto& [name, value] : object.items()) {
    if (value.is_object()) {
      text += margin + name + "\n";
      AppendLines(value, indent + 2, text);
    } else if (Sections(value)) {
      text += margin + name + "\n";
      std::size_t number = 0;
      for (const Value& section : value) {
        text += margin + "  " + std::to_string(++number) + "\n";
        AppendLines(section, indent + 4, text);
      }
    } else {
      text += margin + name + std::string(width - name.size() + 2, ' ') + PlainText(value) + "\n";
    }
  }
}

// The largest magnitude below which every whole double is exact.
constexpr double kExactWhole = 9007199254740992.0;  // 2^53

bool Whole(double value) {
  return std::fabs(value) < kExactWhole && value == std::trunc(value);
}

}  // namespace

void Report::Put(const std::string& name, Value value) {
  if (values_.contains(name)) throw std::logic_error("the report names \"" + name + "\" twice");
  values_[name] = std::move(value);
}

void Report::Add(const std::string& name, long long value) {
  Put(name, value);
}

void Report::Add(const std::string& name, double value) {
  if (!std::isfinite(value)) return Put(name, nullptr);  // JSON has no NaN or infinity
  if (Whole(value)) return Put(name, static_cast<long long>(value));
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  const double shown = std::strtod(text, nullptr);
  Put(name, Whole(shown) ? Value(static_cast<long long>(shown)) : Value(shown));
}

void Report::Add(const std::string& name, const std::string& value) {
  Put(name, value);
}

void Report::Add(const std::string& name, bool value) {
  Put(name, value);
}

void Report::Add(const std::string& name, const Report& section) {
  Put(name, section.values_);
  failed_ = failed_ || section.failed_;
}

void Report::Add(const std::string& name, const std::vector<std::string>& texts) {
  Put(name, texts);
}

void Report::Add(const std::string& name, const std::vector<Report>& sections) {
  Value items = Value::array();
  for (const Report& section : sections) {
    items.push_back(section.values_);
    failed_ = failed_ || section.failed_;
  }
  Put(name, std::move(items));
}

void Report::Add(const std::string& name, const std::optional<double>& figure) {
  if (figure) Add(name, *figure);
}

void Report::AddFailure(const std::string& name, const std::string& why) {
  Put(name, why);
  failed_ = true;
}

std::string Report::Text() const {
  std::string text;
  AppendLines(values_, 0, text);
  return text;
}

std::string Report::Json() const {
  return ObjectText(values_) + "\n";
}

}  // namespace telvario::cli
