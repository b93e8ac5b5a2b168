// The client's echo measurements: PingTime, or TraceRouteTime to one hop.
#ifndef TELVARIO_CLI_ECHO_MEASURE_H
#define TELVARIO_CLI_ECHO_MEASURE_H

#include <optional>
#include <string>

#include "report.h"
#include "telvario_idl.h"

namespace telvario::cli {

// Measures with PingTime, or with TraceRouteTime when a hop is given, and reports the result,
// each repetition's time, NGoodPings and ReplyIP.
void MeasureEcho(ISonde& sonde, Report& report, const std::string& host, std::optional<short> hop);

}  // namespace telvario::cli

#endif
