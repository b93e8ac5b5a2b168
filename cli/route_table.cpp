#include "route_table.h"

#include <algorithm>
#include <cstdio>

#include "utf8_text.h"

namespace telvario::cli {
namespace {

constexpr std::size_t kLeastAddressWidth = 15;  // a dotted IPv4 address
constexpr std::size_t kMostAddressWidth = 48;

std::string Who(const HopRecord& hop) {
  if (hop.address.empty()) return "(no answer)";
  std::string who = hop.name.empty() ? hop.address : hop.name + " (" + hop.address + ")";
  if (hop.addresses.size() > 1) who += " +" + std::to_string(hop.addresses.size() - 1);
  return who;
}

std::string Cell(const std::optional<double>& figure, const char* format, double scale = 1) {
  if (!figure) return "-";
  char text[32];
  std::snprintf(text, sizeof text, format, *figure * scale);
  return text;
}

// Text kept to `columns` characters (whole UTF-8 sequences), padded to them when `pad`.
std::string Fit(const std::string& text, std::size_t columns, bool pad) {
  std::string kept;
  std::size_t count = 0;
  for (std::size_t at = 0; at < text.size() && count < columns; ++count) {
    const std::size_t length = std::max<std::size_t>(Utf8SequenceLength(text, at), 1);
    kept.append(text, at, length);
    at += length;
  }
  if (pad && count < columns) kept.append(columns - count, ' ');
  return kept;
}

std::string Line(const std::string& hop, const std::string& who, std::size_t whoWidth,
                 const std::vector<std::string>& figures, const std::string& reading) {
  std::string line =
      Fit(std::string(3 - std::min<std::size_t>(hop.size(), 3), ' ') + hop, 3, true) + "  " +
      Fit(who, whoWidth, true);
  for (std::size_t i = 0; i < figures.size(); ++i) {
    const std::size_t width = i == 0 ? 7 : i == 1 ? 5 : 8;  // loss, sent, then round trips
    line += std::string(width + 1 - std::min(figures[i].size(), width), ' ') + figures[i];
  }
  return reading.empty() ? line : line + "  " + reading;
}

}  // namespace

std::vector<std::string> RouteTableLines(const std::vector<HopRecord>& hops, std::size_t width) {
  std::size_t whoWidth = kLeastAddressWidth;
  for (const HopRecord& hop : hops) whoWidth = std::max(whoWidth, Who(hop).size());
  whoWidth = std::min(whoWidth, kMostAddressWidth);
  std::vector<std::string> lines;
  lines.push_back(Line(
      "Hop", "Address", whoWidth,
      {"Loss%", "Sent", "Last", "Median", "Mean", "Best", "Worst", "p90", "Jitter"}, "Reading"));
  for (const HopRecord& hop : hops) {
    lines.push_back(
        Line(Cell(hop.hop, "%.0f"), ValidUtf8(Who(hop)), whoWidth,
             {Cell(hop.loss, "%.1f%%", 100), Cell(hop.sent, "%.0f"), Cell(hop.last, "%.1f"),
              Cell(hop.median, "%.1f"), Cell(hop.mean, "%.1f"), Cell(hop.min, "%.1f"),
              Cell(hop.max, "%.1f"), Cell(hop.p90, "%.1f"), Cell(hop.jitter, "%.1f")},
             hop.reading));
  }
  if (width > 0) {
    for (std::string& line : lines) line = Fit(line, width, false);
  }
  return lines;
}

}  // namespace telvario::cli
