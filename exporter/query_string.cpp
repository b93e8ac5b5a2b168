#include "query_string.h"

#include <algorithm>

namespace telvario::exporter {
namespace {

constexpr std::size_t kLongestQuery = 4096;
constexpr std::size_t kMostParameters = 32;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One name or value decoded; false where an escape is cut short or not hexadecimal, or decodes
// to a control character.
bool Decode(std::string_view text, std::string* decoded) {
  decoded->clear();
  for (std::size_t at = 0; at < text.size(); ++at) {
    char c = text[at];
    if (c == '+') {
      c = ' ';
    } else if (c == '%') {
      if (at + 2 >= text.size()) return false;
      const int high = HexDigit(text[at + 1]);
      const int low = HexDigit(text[at + 2]);
      if (high < 0 || low < 0) return false;
      c = static_cast<char>(high * 16 + low);
      at += 2;
    }
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    *decoded += c;
  }
  return true;
}

}  // namespace

bool ParseQuery(std::string_view query, QueryParameters* parameters, std::string* failure) {
  parameters->clear();
  if (query.size() > kLongestQuery) {
    *failure = "the query is longer than " + std::to_string(kLongestQuery) + " bytes";
    return false;
  }
  while (!query.empty()) {
    const std::size_t end = std::min(query.find('&'), query.size());
    const std::string_view pair = query.substr(0, end);
    query.remove_prefix(std::min(end + 1, query.size()));
    if (pair.empty()) continue;
    const std::size_t equals = std::min(pair.find('='), pair.size());
    std::string name;
    std::string value;
    if (!Decode(pair.substr(0, equals), &name) ||
        !Decode(pair.substr(std::min(equals + 1, pair.size())), &value)) {
      *failure = "the query has a malformed %-escape or a control character";
      return false;
    }
    if (parameters->size() == kMostParameters) {
      *failure = "the query has more than " + std::to_string(kMostParameters) + " parameters";
      return false;
    }
    parameters->emplace_back(std::move(name), std::move(value));
  }
  return true;
}

std::string QueryValue(const QueryParameters& parameters, std::string_view name, bool* repeated) {
  std::string value;
  int seen = 0;
  for (const auto& [key, given] : parameters) {
    if (key != name) continue;
    if (seen++ == 0) value = given;
  }
  if (repeated != nullptr) *repeated = seen > 1;
  return value;
}

}  // namespace telvario::exporter
