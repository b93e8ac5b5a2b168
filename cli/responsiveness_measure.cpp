#include "responsiveness_measure.h"

#include <cstdio>

#include "automation_text.h"
#include "latency_measure.h"
#include "sonde2_run.h"
#include "upload_measure.h"

namespace telvario::cli {
namespace {

const char* ResponsivenessFailure(double result) {
  if (result == -1) return "the URL is not http or https, or no Internet session could be opened";
  if (result == -2) return "no connection could be opened, or the server answered with an error";
  if (result == -4) return "every connection broke before the load settled";
  return nullptr;
}

}  // namespace

bool MeasureResponsiveness(HMODULE library, ISonde2& sonde, Report& report, const std::string& url,
                           const ResponsivenessOptions& options, bool summary,
                           std::vector<RunResults>* runs, std::string* error) {
  if (options.streams && sonde.put_Streams(static_cast<LONG>(*options.streams)) != S_OK) {
    *error = "--streams takes 1 to 32";
    return false;
  }
  if (options.durationSeconds && sonde.put_Duration(*options.durationSeconds) != S_OK) {
    *error = "--duration takes 2 to 60 seconds";
    return false;
  }
  sonde.put_ResponsivenessUpload(options.upload ? VARIANT_TRUE : VARIANT_FALSE);
  BSTR text = ToBstr(url);
  double result = 0;
  RunResults record;
  {
    const ConsentScope consent(library, options.assumeYes, "measuring responsiveness");
    Sonde2Run run(sonde, "measuring responsiveness with " + url);
    sonde.Responsiveness(text, &result);
    record = run.Finish();
  }
  SysFreeString(text);
  if (record.measurement == "responsiveness") runs->push_back(record);
  double rpm = 0, idle = 0, loaded = 0, loadedP90 = 0;
  sonde.get_RPM(&rpm);
  sonde.get_IdleLatency(&idle);
  sonde.get_LoadedLatency(&loaded);
  sonde.get_LoadedLatencyP90(&loadedP90);
  if (summary && rpm > 0) {
    std::printf(
        "%.0f RPM: a round trip of %.1f ms under load (idle latency %.1f ms, loaded %.1f "
        "ms, p90 %.1f ms)\n\n",
        rpm, 60000.0 / rpm, idle, loaded, loadedP90);
  }
  report.Add("RPM", rpm);
  report.Add("IdleLatency", idle);
  report.Add("LoadedLatency", loaded);
  report.Add("LoadedLatencyP90", loadedP90);
  if (record.cancelled) report.Add("ResponsivenessCancelled", true);
  if (record.cancelled && rpm <= 0) {
    report.Add("Failure", std::string("cancelled before a round trip under load was measured"));
  } else if (const char* failure = ResponsivenessFailure(result)) {
    BSTR results = nullptr;
    sonde.get_Results(&results);
    const std::string why = FailureOf(Narrow(results));
    SysFreeString(results);
    report.Add("Failure", std::string(failure) + (why.empty() ? "" : " (" + why + ")"));
  } else if (rpm <= 0) {
    report.Add("Failure", std::string("no probe was answered under the load"));
  }
  return true;
}

}  // namespace telvario::cli
