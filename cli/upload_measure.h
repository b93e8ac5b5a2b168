// The client's upload measurement, UploadTest, with the component's consent prompt answered on
// the terminal (or in advance with --yes).
#ifndef TELVARIO_CLI_UPLOAD_MEASURE_H
#define TELVARIO_CLI_UPLOAD_MEASURE_H

#include <string>

#include "report.h"
#include "telvario_idl.h"

namespace telvario::cli {

// Measures the upload rate to the FTP server `host` and reports it, or what went wrong. The
// library's message boxes are answered by this process while it runs: OK when `assumeYes`,
// otherwise by asking on the terminal; with no terminal, Cancel.
void MeasureUpload(HMODULE library, ISonde& sonde, Report& report, const std::string& host,
                   bool assumeYes);

}  // namespace telvario::cli

#endif
