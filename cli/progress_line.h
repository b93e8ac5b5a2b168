// The line a Sonde2 run's Progress events draw on a terminal: the phase, the share done and the
// latest figure in the unit of that phase.
#ifndef TELVARIO_CLI_PROGRESS_LINE_H
#define TELVARIO_CLI_PROGRESS_LINE_H

#include <string>

namespace telvario::cli {

// "download  42%  941 Mbit/s". Round trips (latency, idle, loaded, route) are in ms and rates
// (download, upload) in Mbit/s; a phase of no known unit shows "-" rather than a figure in a
// unit that may be wrong.
std::string ProgressLine(const std::string& phase, double fraction, double value);

}  // namespace telvario::cli

#endif
