// What the negative results of the object's measurements mean, in words, for the reader of a
// report: one table for every member the client calls, Sonde2's by the interface definition's
// enumerations (LatencyResult, ThroughputResult, RouteResult).
#ifndef TELVARIO_CLI_RESULT_CODES_H
#define TELVARIO_CLI_RESULT_CODES_H

namespace telvario::cli {

enum class Measured {
  Echo,            // PingTime, TraceRouteTime
  Download,        // ReadURL
  Upload,          // UploadTest
  Latency,         // Sonde2's Latency
  Throughput,      // Sonde2's Download and Upload
  Responsiveness,  // Sonde2's Responsiveness
  Route,           // Sonde2's Route
};

// The words for `code` as a result of that measurement, a Sonde2 code's name in its interface
// first ("ThroughputNotOpened: no connection could be opened, ..."), so that a reader finds the
// number by name; null for a result that is no failure code of it.
const char* ResultCodeText(Measured measurement, double code);

}  // namespace telvario::cli

#endif
