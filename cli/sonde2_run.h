// What surrounds each Sonde2 measurement of the client: its progress line, driven by the
// object's Progress events (or, from an object that raises none, the label and the seconds),
// Ctrl-C turned into Cancel(), and the run's Results read at its end for --svg and
// --openmetrics.
#ifndef TELVARIO_CLI_SONDE2_RUN_H
#define TELVARIO_CLI_SONDE2_RUN_H

#include <memory>
#include <optional>
#include <string>

#include "interrupt.h"
#include "progress.h"
#include "progress_sink.h"
#include "report.h"
#include "result_codes.h"
#include "run_results.h"
#include "telvario2_idl.h"

namespace telvario::cli {

class Sonde2Run {
 public:
  // `table`, where given, is redrawn under the progress line as the run goes.
  Sonde2Run(ISonde2& sonde, const std::string& label, LiveTable table = {});
  ~Sonde2Run();
  Sonde2Run(const Sonde2Run&) = delete;
  Sonde2Run& operator=(const Sonde2Run&) = delete;

  // Once the measurement has returned: the line cleared, Ctrl-C as before, and the run's
  // Results, where it left a record: none when the object still holds a record of another kind
  // (an earlier run's: the call measured nothing).
  std::optional<RunResults> Finish(const std::string& measurement);

 private:
  void Stop();

  ISonde2& sonde_;
  double startedUnix_;
  ProgressSink* sink_ = nullptr;
  IConnectionPoint* point_ = nullptr;
  DWORD cookie_ = 0;
  std::unique_ptr<Progress> seconds_;
  std::unique_ptr<InterruptScope> interrupt_;
};

// The failure line of a run that gave `result`: why its record could not be read, else what a
// negative result means, else the record's own reason; nothing for a run that did not fail.
void AddRunFailure(Report& report, Measured measured, double result,
                   const std::optional<RunResults>& run);

}  // namespace telvario::cli

#endif
