// Sonde2's runs as the client keeps them for its reports, pictures and metrics: the Results
// record each run left, read by the reader of its kind. A record that is not JSON, or not of its
// kind's form, is kept with the reason; a record of a kind this client does not know is kept as
// such.
#ifndef TELVARIO_CLI_RUN_RESULTS_H
#define TELVARIO_CLI_RUN_RESULTS_H

#include <string>
#include <variant>
#include <vector>

#include "results_records.h"

namespace telvario::cli {

struct RunResults {
  std::string measurement;  // as the record names its kind
  double startedUnix = 0;   // when the client began the run, in seconds since 1970
  std::string started;      // the same as UTC text
  std::string record;       // the record as pictures keep it: no URL's userinfo in it
  std::string problem;      // why the record could not be read; "" when it could
  std::variant<std::monostate, LatencyRecord, TransferRecord, ResponsivenessRecord, RouteRecord>
      data;

  bool Readable() const { return problem.empty(); }
  const LatencyRecord* Latency() const { return std::get_if<LatencyRecord>(&data); }
  const TransferRecord* Transfer() const { return std::get_if<TransferRecord>(&data); }
  const ResponsivenessRecord* Responsiveness() const {
    return std::get_if<ResponsivenessRecord>(&data);
  }
  const RouteRecord* Route() const { return std::get_if<RouteRecord>(&data); }
  // Of whichever kind it is: null (and "") for a record that was not read.
  const RunOutcome* Outcome() const;
  std::string Target() const;  // latency and route: the host; the others: the URL
  // A result, and no direction of its load that failed.
  bool Succeeded() const;
};

// Reads the Results record of one run, begun at `startedUnix`.
RunResults ReadRunResults(const std::string& json, double startedUnix);

// The answered round trips of `phase` ("" for all), in ms, sorted.
std::vector<double> RoundTripsOf(const std::vector<RoundTrip>& trips, const std::string& phase);

// Seconds since 1970 as "2026-12-08 14:03:07 UTC".
std::string UtcText(double unixSeconds);

}  // namespace telvario::cli

#endif
