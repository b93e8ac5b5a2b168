#include "config_values.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "url_text.h"

namespace telvario::exporter {
namespace {

constexpr std::size_t kLongestHost = 253;
constexpr std::size_t kLongestUrl = 2048;

// The number at the start of `text`, the rest in `rest`; false where there is none.
bool LeadingNumber(const std::string& text, double* value, std::string* rest) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, *value);
  if (error != std::errc() || !std::isfinite(*value)) return false;
  rest->assign(stop, end);
  return true;
}

std::string Shown(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%gs", seconds);
  return text;
}

}  // namespace

std::string Quoted(const std::string& text) {
  constexpr std::size_t kShownAtMost = 64;
  std::string shown = "'";
  for (const char c : text.substr(0, kShownAtMost)) {
    shown += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;  // one line, always
  }
  return shown + (text.size() > kShownAtMost ? "...'" : "'");
}

double ReadDuration(const std::string& text, double least, double most) {
  const std::string form = Quoted(text) + " is not a time (e.g. 500ms, 1s, 10m, 1h)";
  double value = 0;
  std::string unit;
  if (!LeadingNumber(text, &value, &unit)) throw ValueError(form);
  const struct {
    const char* name;
    double seconds;
  } units[] = {{"", 1}, {"ms", 0.001}, {"s", 1}, {"m", 60}, {"h", 3600}};
  const auto found = std::find_if(std::begin(units), std::end(units),
                                  [&](const auto& known) { return unit == known.name; });
  if (found == std::end(units)) throw ValueError(form);
  const double seconds = value * found->seconds;
  if (seconds < least || seconds > most) {
    throw ValueError(Quoted(text) + " is out of range: from " + Shown(least) + " to " +
                     Shown(most));
  }
  return seconds;
}

int ReadWhole(const std::string& text, int least, int most) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || value < least || value > most) {
    throw ValueError(Quoted(text) + " is not a whole number from " + std::to_string(least) +
                     " to " + std::to_string(most));
  }
  return value;
}

double ReadSeconds(const std::string& text) {
  double value = 0;
  std::string rest;
  if (!LeadingNumber(text, &value, &rest) || !rest.empty() || !(value > 0) || value > 3600) {
    throw ValueError(Quoted(text) + " is not a number of seconds above 0 (e.g. 0.025)");
  }
  return value;
}

int ReadFamily(const std::string& text) {
  if (text == "4") return 4;
  if (text == "6") return 6;
  throw ValueError(Quoted(text) + " is not an address family: 4 or 6");
}

bool ReadSwitch(const std::string& text) {
  if (text == "true" || text == "yes" || text == "on") return true;
  if (text == "false" || text == "no" || text == "off") return false;
  throw ValueError(Quoted(text) + " is not true or false");
}

std::string ReadHost(const std::string& text) {
  const bool allowed = std::all_of(text.begin(), text.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' || c == ':' ||
           c == '_' || c == '%' || c == '[' || c == ']';
  });
  if (text.empty() || text.size() > kLongestHost || !allowed) {
    throw ValueError(Quoted(text) + " is not a host name or an address");
  }
  return text;
}

std::string ReadUrl(const std::string& text) {
  const bool web = text.rfind("http://", 0) == 0 || text.rfind("https://", 0) == 0;
  const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7f;
  });
  if (!web || !plain || text.size() > kLongestUrl) {
    // Said without its userinfo: a password in the file stays out of the log.
    throw ValueError(Quoted(cli::WithoutUserinfo(text)) + " is not an http:// or https:// URL");
  }
  return text;
}

}  // namespace telvario::exporter
