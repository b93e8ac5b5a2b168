// The pieces of the metrics text formats (Prometheus' text format and OpenMetrics) that the
// client's --openmetrics and the exporter write alike: label values and numbers.
#ifndef TELVARIO_CLI_METRIC_TEXT_H
#define TELVARIO_CLI_METRIC_TEXT_H

#include <string>

namespace telvario::cli {

// A label's value as it goes between the quotes: valid UTF-8, backslash and quote escaped, a
// line end as \n, other control characters as spaces, so that a sample stays one line.
std::string LabelValue(const std::string& text);

// The shortest text that reads back as the same number; "+Inf", "-Inf" and "NaN" as the
// formats write them.
std::string MetricNumber(double value);

}  // namespace telvario::cli

#endif
