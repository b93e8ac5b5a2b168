// What the exporter's scheduled runs and its /probe modules measure with: one Sonde2 object of
// the component, as the client meets it, its Results record read as the client reads it. The
// client makes them (it loads the component); the exporter asks for one per thread that
// measures, since an object measures one run at a time.
#ifndef TELVARIO_EXPORTER_RUN_MEASURER_H
#define TELVARIO_EXPORTER_RUN_MEASURER_H

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "run_results.h"

namespace telvario::exporter {

// What one run gave: the method's result (negative: it failed with that code), and its record
// where it left one of its kind.
struct MeasuredRun {
  double result = -1;
  std::optional<cli::RunResults> run;
  std::string failure;  // why it gave no figures; "" where it did

  bool Succeeded() const { return failure.empty(); }
};

// The measurements of one object, on one thread at a time; Cancel from any thread ends the run
// going on within the component's grace (and does nothing between runs).
class RunMeasurer {
 public:
  virtual ~RunMeasurer() = default;
  // `probes`: rounds, 0 for the component's own.
  virtual MeasuredRun Route(const std::string& host, int family, int probes) = 0;
  // `measurement`: download, upload or responsiveness; a duration of 0 is the component's own.
  virtual MeasuredRun Transfer(const std::string& measurement, const std::string& url,
                               double durationSeconds) = 0;
  virtual void Cancel() = 0;
};

// Null, with why, where no object can be made.
using MeasurerMaker = std::function<std::unique_ptr<RunMeasurer>(std::string* failure)>;

}  // namespace telvario::exporter

#endif
