// The client's download measurement: ReadURL, with DataRead and ElapsedTime.
#ifndef TELVARIO_CLI_DOWNLOAD_MEASURE_H
#define TELVARIO_CLI_DOWNLOAD_MEASURE_H

#include <string>

#include "report.h"
#include "telvario_idl.h"

namespace telvario::cli {

// Reads the URL with ReadURL, showing the seconds passing, and reports the rate in kbit/s (or
// what went wrong), DataRead and ElapsedTime.
void MeasureDownload(ISonde& sonde, Report& report, const std::string& url);

}  // namespace telvario::cli

#endif
