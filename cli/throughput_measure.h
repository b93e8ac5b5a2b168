// The client's throughput measurement with Sonde2: Download from a URL and Upload to one, with
// several connections for a bounded time (the upload asks the component's consent first).
#ifndef TELVARIO_CLI_THROUGHPUT_MEASURE_H
#define TELVARIO_CLI_THROUGHPUT_MEASURE_H

#include <optional>
#include <string>
#include <vector>

#include "report.h"
#include "run_results.h"
#include "telvario2_idl.h"

namespace telvario::cli {

struct ThroughputOptions {
  std::string uploadUrl;  // none: no upload
  std::optional<long> streams;
  std::optional<double> durationSeconds;
  bool assumeYes = false;
};

// Sets what the options give, then measures the download of `downloadUrl` (none: no download)
// and the upload, reporting Download and Upload in Mbit/s with their bytes and seconds (and
// DownloadCancelled or UploadCancelled when Ctrl-C cut one short: nothing is measured after
// it). Each run's Results go to `runs`. False when a setting was refused.
bool MeasureThroughput(HMODULE library, ISonde2& sonde, Report& report,
                       const std::string& downloadUrl, const ThroughputOptions& options,
                       std::vector<RunResults>* runs, std::string* error);

}  // namespace telvario::cli

#endif
