// Runs `telvario exporter` with its options read: until Ctrl-C or SIGTERM on posix, reading its
// configuration again at SIGHUP; on Windows the exporter is not part of the client (its HTTP
// library is built for posix only), and it says so.
#ifndef TELVARIO_CLI_EXPORTER_RUN_H
#define TELVARIO_CLI_EXPORTER_RUN_H

#include <string>
#include <vector>

#include "windows_api.h"

namespace telvario::cli {

struct ExporterOptions {
  std::vector<std::string> listen;  // ADDR:PORT each; loopback where empty
  std::string config;               // "" for none
};

// The exit status; UsageError or RunFailure with the exporter's one line where it cannot start.
// `library` is the component's, loaded.
int RunExporter(const ExporterOptions& options, HMODULE library);

}  // namespace telvario::cli

#endif
