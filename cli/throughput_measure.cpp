#include "throughput_measure.h"

#include "automation_text.h"
#include "latency_measure.h"
#include "progress.h"
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
                  bool refused) {
  double bytes = 0, elapsed = 0;
  sonde.get_Bytes(&bytes);
  sonde.get_Elapsed(&elapsed);
  report.Add(name, result);
  report.Add(name + "Bytes", bytes);
  report.Add(name + "Elapsed", elapsed);
  if (refused) {
    report.Add("Failure", std::string("the upload was not confirmed, so nothing was sent"));
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
                       std::string* error) {
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
    {
      const Progress progress("downloading from " + downloadUrl);
      sonde.Download(url, &result);
    }
    SysFreeString(url);
    AddDirection(sonde, report, "Download", result, false);
  }
  if (!options.uploadUrl.empty()) {
    BSTR url = ToBstr(options.uploadUrl);
    double result = 0;
    bool refused = false;
    {
      const ConsentScope consent(library, options.assumeYes, "uploading to " + options.uploadUrl);
      sonde.Upload(url, &result);
      refused = consent.Refused();
    }
    SysFreeString(url);
    AddDirection(sonde, report, "Upload", result, refused);
  }
  return true;
}

}  // namespace telvario::cli
