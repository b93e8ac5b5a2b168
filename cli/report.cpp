#include "report.h"

#include <cmath>

namespace telvario::cli {

void Report::Add(const std::string& name, long long value) {
  const std::string text = std::to_string(value);
  rows_.push_back({name, text, text});
}

void Report::Add(const std::string& name, double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", value);
  // JSON has no NaN or infinity.
  rows_.push_back({name, text, std::isfinite(value) ? text : "null"});
}

void Report::Add(const std::string& name, const std::string& value) {
  rows_.push_back({name, value, JsonString(value)});
}

void Report::Print(std::FILE* out, bool json) const {
  if (json) {
    std::fputs("{", out);
    for (size_t i = 0; i < rows_.size(); ++i) {
      std::fprintf(out, "%s%s: %s", i == 0 ? "" : ", ", JsonString(rows_[i].name).c_str(),
                   rows_[i].json.c_str());
    }
    std::fputs("}\n", out);
    return;
  }
  size_t width = 0;
  for (const Row& row : rows_) width = row.name.size() > width ? row.name.size() : width;
  for (const Row& row : rows_) {
    std::fprintf(out, "%-*s  %s\n", static_cast<int>(width), row.name.c_str(), row.text.c_str());
  }
}

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

}  // namespace telvario::cli
