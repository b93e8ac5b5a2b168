// The axes of the client's charts: ranges rounded out to steps of 1, 2 or 5 times a power of
// ten, so that the ticks fall on numbers a reader takes in at a glance, and their labels.
#ifndef TELVARIO_CLI_CHART_AXES_H
#define TELVARIO_CLI_CHART_AXES_H

#include <string>
#include <vector>

namespace telvario::cli {

struct Axis {
  double min = 0;
  double max = 1;
  double step = 0.2;
  std::vector<double> ticks;  // min, min + step, ..., max
};

// From `low` down and `high` up to whole steps, in about `aim` steps; a range of nothing (or of
// numbers that are not finite) becomes one of width 1.
Axis NiceAxis(double low, double high, int aim = 5);

// A tick's label, with as many decimals as the step needs ("0", "0.5", "2.25" never: steps
// are 1, 2 or 5 times a power of ten).
std::string TickText(double value, double step);

// A figure as a person reads it: three significant digits, no exponent for everyday sizes.
std::string FigureText(double value);

}  // namespace telvario::cli

#endif
