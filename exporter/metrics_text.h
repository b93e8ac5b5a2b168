// Prometheus' text format (version 0.0.4), as the exporter's pages are written in it.
#ifndef TELVARIO_EXPORTER_METRICS_TEXT_H
#define TELVARIO_EXPORTER_METRICS_TEXT_H

#include <string>

namespace telvario::exporter {

inline constexpr char kMetricsType[] = "text/plain; version=0.0.4; charset=utf-8";

// Writes metric families: each one's HELP and TYPE, then its samples.
class MetricsText {
 public:
  void Family(const std::string& name, const char* type, const char* help);
  // `labels` as written between the braces (`target="a",family="4"`), or "".
  void Sample(const std::string& name, const std::string& labels, double value);
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace telvario::exporter

#endif
