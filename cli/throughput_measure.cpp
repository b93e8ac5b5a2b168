#include "throughput_measure.h"

#include "automation_text.h"
#include "interrupt.h"
#include "latency_measure.h"
#include "sonde2_run.h"
#include "upload_measure.h"

namespace telvario::cli {
namespace {

const char* ThroughputFailure(double result) {
  if (result == -1) return "the URL is not http or https, or no Internet session could be opened";
  if (result == -2) return "no connection could be opened, or the server answered with an error";
  if (result == -4) return "every connection broke before the rate settled";
  return nullptr;
}

// One direction: its rate, bytes and seconds under `name`, and what went wrong.
void AddDirection(ISonde2& sonde, Report& report, const std::string& name, double result,
                  bool refused, const RunResults& run) {
  double bytes = 0, elapsed = 0;
  sonde.get_Bytes(&bytes);
  sonde.get_Elapsed(&elapsed);
  report.Add(name, result);
  report.Add(name + "Bytes", bytes);
  report.Add(name + "Elapsed", elapsed);
  if (run.cancelled) report.Add(name + "Cancelled", true);
  if (refused) {
    report.Add("Failure", std::string("the upload was not confirmed, so nothing was sent"));
  } else if (run.cancelled && result < 0) {
    report.Add("Failure", std::string("cancelled before a rate could be measured"));
  } else if (const char* failure = ThroughputFailure(result)) {
    BSTR results = nullptr;
    sonde.get_Results(&results);
    const std::string why = FailureOf(Narrow(results));
    SysFreeString(results);
    report.Add("Failure", std::string(failure) + (why.empty() ? "" : " (" + why + ")"));
  }
}

}  // namespace

bool MeasureThroughput(HMODULE library, ISonde2& sonde, Report& report,
                       const std::string& downloadUrl, const ThroughputOptions& options,
                       std::vector<RunResults>* runs, std::string* error) {
  if (options.streams && sonde.put_Streams(static_cast<LONG>(*options.streams)) != S_OK) {
    *error = "--streams takes 1 to 32";
    return false;
  }
  if (options.durationSeconds && sonde.put_Duration(*options.durationSeconds) != S_OK) {
    *error = "--duration takes 2 to 60 seconds";
    return false;
  }
  if (!downloadUrl.empty()) {
    BSTR url = ToBstr(downloadUrl);
    double result = 0;
    Sonde2Run run(sonde, "downloading from " + downloadUrl);
    sonde.Download(url, &result);
    const RunResults record = run.Finish();
    runs->push_back(record);
    SysFreeString(url);
    AddDirection(sonde, report, "Download", result, false, record);
  }
  if (!options.uploadUrl.empty() && !Interrupted()) {
    BSTR url = ToBstr(options.uploadUrl);
    double result = 0;
    bool refused = false;
    RunResults record;
    {
      // The consent is asked inside the call, before the run begins; the run shows its progress.
      const ConsentScope consent(library, options.assumeYes, "");
      Sonde2Run run(sonde, "uploading to " + options.uploadUrl);
      sonde.Upload(url, &result);
      record = run.Finish();
      refused = consent.Refused();
    }
    // Under Windows the system's box asks, and an upload it refused leaves no run of its own.
    if (!refused && record.measurement == "upload") runs->push_back(record);
    SysFreeString(url);
    AddDirection(sonde, report, "Upload", result, refused, record);
  }
  return true;
}

}  // namespace telvario::cli
