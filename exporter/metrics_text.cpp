#include "metrics_text.h"

#include "metric_text.h"

namespace telvario::exporter {

void MetricsText::Family(const std::string& name, const char* type, const char* help) {
  text_ += "# HELP " + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void MetricsText::Sample(const std::string& name, const std::string& labels, double value) {
  text_ += name;
  if (!labels.empty()) text_ += "{" + labels + "}";
  text_ += " " + cli::MetricNumber(value) + "\n";
}

}  // namespace telvario::exporter
