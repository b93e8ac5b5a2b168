#include "report.h"

#include <cmath>

namespace telvario::cli {
namespace {

// The text quoted and escaped as a JSON string.
std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

}  // namespace

void Report::Add(const std::string& name, long long value) {
  const std::string text = std::to_string(value);
  rows_.push_back({name, text, text, nullptr});
}

void Report::Add(const std::string& name, double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", value);
  // JSON has no NaN or infinity.
  rows_.push_back({name, text, std::isfinite(value) ? text : "null", nullptr});
}

void Report::Add(const std::string& name, const std::string& value) {
  rows_.push_back({name, value, JsonString(value), nullptr});
}

void Report::Add(const std::string& name, bool value) {
  const char* text = value ? "true" : "false";
  rows_.push_back({name, text, text, nullptr});
}

void Report::Add(const std::string& name, const Report& section) {
  rows_.push_back({name, "", "", std::make_shared<const Report>(section)});
}

void Report::Print(std::FILE* out, bool json) const {
  if (json) {
    std::fprintf(out, "%s\n", Json().c_str());
  } else {
    PrintText(out, 0);
  }
}

bool Report::Has(const std::string& name) const {
  for (const Row& row : rows_) {
    if (row.name == name) return true;
  }
  return false;
}

std::string Report::Json() const {
  std::string text = "{";
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (i > 0) text += ", ";
    text += JsonString(rows_[i].name) + ": ";
    text += rows_[i].section != nullptr ? rows_[i].section->Json() : rows_[i].json;
  }
  return text + "}";
}

void Report::PrintText(std::FILE* out, int indent) const {
  size_t width = 0;
  for (const Row& row : rows_) {
    if (row.section == nullptr) width = row.name.size() > width ? row.name.size() : width;
  }
  for (const Row& row : rows_) {
    if (row.section != nullptr) {
      std::fprintf(out, "%*s%s\n", indent, "", row.name.c_str());
      row.section->PrintText(out, indent + 2);
    } else {
      std::fprintf(out, "%*s%-*s  %s\n", indent, "", static_cast<int>(width), row.name.c_str(),
                   row.text.c_str());
    }
  }
}

}  // namespace telvario::cli
