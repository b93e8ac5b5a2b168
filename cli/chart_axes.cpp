#include "chart_axes.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace telvario::cli {

Axis NiceAxis(double low, double high, int aim) {
  Axis axis;
  if (!std::isfinite(low)) low = 0;
  if (!std::isfinite(high)) high = low + 1;
  if (high < low) std::swap(low, high);
  if (!(high - low > 1e-9 * std::fabs(high))) high = low + 1;
  if (aim < 1) aim = 1;
  const double rough = (high - low) / aim;
  const double magnitude = std::pow(10, std::floor(std::log10(rough)));
  const double normal = rough / magnitude;
  axis.step = (normal < 1.5 ? 1 : normal < 3 ? 2 : normal < 7 ? 5 : 10) * magnitude;
  // A bound on a tick stays there: 0.14 / 0.02 is 7.000000000000001 in binary.
  axis.min = std::floor(low / axis.step + 1e-9) * axis.step;
  axis.max = std::ceil(high / axis.step - 1e-9) * axis.step;
  const double count = (axis.max - axis.min) / axis.step;
  if (!std::isfinite(count) || !(axis.step > 0) || count > 100) {
    return NiceAxis(0, 1, 5);  // numbers no chart can show: an empty range instead
  }
  const long steps = std::lround((axis.max - axis.min) / axis.step);
  for (long i = 0; i <= steps; ++i) {
    double tick = axis.min + static_cast<double>(i) * axis.step;
    if (std::fabs(tick) < axis.step * 1e-9) tick = 0;  // no "-0"
    axis.ticks.push_back(tick);
  }
  return axis;
}

std::string TickText(double value, double step) {
  int decimals = 0;
  if (step > 0 && std::isfinite(step)) {
    decimals = static_cast<int>(-std::floor(std::log10(step) + 1e-9));
  }
  if (decimals < 0) decimals = 0;
  if (decimals > 12) decimals = 12;
  if (std::fabs(value) < step * 1e-9) value = 0;
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string FigureText(double value) {
  if (!std::isfinite(value)) return "?";
  char text[64];
  const double size = std::fabs(value);
  if (size >= 1e6 || (size > 0 && size < 1e-3)) {
    std::snprintf(text, sizeof text, "%.3g", value);
  } else if (size >= 100) {
    std::snprintf(text, sizeof text, "%.0f", value);
  } else {
    std::snprintf(text, sizeof text, "%.3g", value);
  }
  return text;
}

}  // namespace telvario::cli
