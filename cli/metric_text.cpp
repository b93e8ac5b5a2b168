#include "metric_text.h"

#include <charconv>
#include <cmath>

#include "utf8_text.h"

namespace telvario::cli {

std::string LabelValue(const std::string& text) {
  std::string escaped;
  for (const char c : ValidUtf8(text)) {
    if (c == '\\' || c == '"') {
      escaped += '\\';
      escaped += c;
    } else if (c == '\n') {
      escaped += "\\n";
    } else if (static_cast<unsigned char>(c) < 0x20) {
      escaped += ' ';  // a sample stays one plain line
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string MetricNumber(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char text[64];
  // General: 0.0005 rather than 5e-04, as monitoring systems write bounds and figures.
  const auto [end, status] =
      std::to_chars(text, text + sizeof text, value, std::chars_format::general);
  return status == std::errc() ? std::string(text, end) : "0";
}

}  // namespace telvario::cli
