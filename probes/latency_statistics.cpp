#include "latency_statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace telvario {

namespace {

// Milliseconds are reported to the microsecond.
double ToMicroseconds(double milliseconds) {
  return std::round(milliseconds * 1000.0) / 1000.0;
}

}  // namespace

LatencyStatistics Summarize(const std::vector<LatencySample>& samples) {
  LatencyStatistics statistics;
  statistics.sent = static_cast<LONG>(samples.size());
  std::vector<double> times;
  double jitterSum = 0;
  const LatencySample* previous = nullptr;
  for (const LatencySample& sample : samples) {
    if (!sample.answered) continue;
    times.push_back(sample.roundTripMs);
    if (previous != nullptr) jitterSum += std::fabs(sample.roundTripMs - previous->roundTripMs);
    previous = &sample;
  }
  statistics.received = static_cast<LONG>(times.size());
  if (statistics.sent > 0) {
    statistics.loss = static_cast<double>(statistics.sent - statistics.received) / statistics.sent;
  }
  if (times.empty()) return statistics;
  if (times.size() > 1) jitterSum /= static_cast<double>(times.size() - 1);
  statistics.jitter = ToMicroseconds(jitterSum);
  double sum = 0;
  for (const double time : times) sum += time;
  statistics.mean = ToMicroseconds(sum / static_cast<double>(times.size()));
  std::sort(times.begin(), times.end());
  statistics.min = times.front();
  statistics.max = times.back();
  statistics.median = NearestRank(times, 50);
  statistics.p90 = NearestRank(times, 90);
  statistics.p99 = NearestRank(times, 99);
  return statistics;
}

std::string JsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  // Trailing zeros say nothing: "40.250" is 40.25, "3.000" is 3.
  std::string number = text;
  if (number.find('.') != std::string::npos) {
    while (number.back() == '0') number.pop_back();
    if (number.back() == '.') number.pop_back();
  }
  return number == "-0" ? "0" : number;
}

std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\t':
        quoted += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          quoted += escaped;
        } else {
          quoted += c;
        }
    }
  }
  return quoted + "\"";
}

}  // namespace telvario
