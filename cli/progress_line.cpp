#include "progress_line.h"

#include <cmath>
#include <cstdio>

#include "chart_axes.h"

namespace telvario::cli {
namespace {

struct PhaseUnit {
  const char* phase;
  const char* unit;
};

constexpr PhaseUnit kUnits[] = {
    {"latency", "ms"},      {"idle", "ms"},       {"loaded", "ms"},
    {"download", "Mbit/s"}, {"upload", "Mbit/s"}, {"route", "ms"},
};

const char* UnitOf(const std::string& phase) {
  for (const PhaseUnit& known : kUnits) {
    if (phase == known.phase) return known.unit;
  }
  return nullptr;
}

}  // namespace

std::string ProgressLine(const std::string& phase, double fraction, double value) {
  std::string name = phase.size() > 16 ? phase.substr(0, 16) : phase;
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';  // the line stays one line
  }
  const double percent = std::isfinite(fraction) ? std::fmin(std::fmax(fraction, 0), 1) * 100 : 0;
  const char* unit = UnitOf(phase);
  const std::string figure = unit != nullptr && std::isfinite(value) && value >= 0
                                 ? FigureText(value) + " " + unit
                                 : std::string("-");
  char text[96];
  std::snprintf(text, sizeof text, "%-8s %3.0f%%  %s", name.c_str(), percent, figure.c_str());
  return text;
}

}  // namespace telvario::cli
