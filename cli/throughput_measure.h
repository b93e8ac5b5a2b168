// The client's throughput measurement with Sonde2: Download from a URL and Upload to one, with
// several connections for a bounded time (the upload asks the component's consent first); and
// `telvario throughput`.
#ifndef TELVARIO_CLI_THROUGHPUT_MEASURE_H
#define TELVARIO_CLI_THROUGHPUT_MEASURE_H

#include <optional>
#include <string>
#include <vector>

#include "report.h"
#include "run_results.h"
#include "telvario2_idl.h"

namespace CLI {
class App;
}

namespace telvario::cli {

// --streams and --duration, which throughput and responsiveness share.
struct LoadOptions {
  std::optional<long> streams;
  std::optional<double> durationSeconds;

  void AddOptions(CLI::App& command);
  // Sets them on the object (UsageError where it refuses one).
  void Set(ISonde2& sonde) const;
};

struct ThroughputOptions {
  std::string uploadUrl;  // none: no upload
  LoadOptions load;
  bool assumeYes = false;
};

// Sets what the options give, then measures the download of `downloadUrl` (none: no download)
// and the upload, reporting Download and Upload in Mbit/s with the bytes and seconds counted,
// DownloadFailure and UploadFailure where one failed (and DownloadCancelled or UploadCancelled
// when Ctrl-C cut one short: nothing is measured after it). Each run's Results go to `runs`.
void MeasureThroughput(HMODULE library, ISonde2& sonde, Report& report,
                       const std::string& downloadUrl, const ThroughputOptions& options,
                       std::vector<RunResults>* runs);

// The reason a failed Sonde2 run gives in its record, in brackets after `known`; the record's
// own reason alone where the code has no words.
std::string FailureText(const char* known, const std::optional<RunResults>& run);

}  // namespace telvario::cli

#endif
