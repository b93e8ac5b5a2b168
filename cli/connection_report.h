// `telvario report`: every measurement in one go (echo, one hop, latency, names, download, upload)
// against the targets given, or, with none, against the machine itself through servers of its
// own on loopback.
#ifndef TELVARIO_CLI_CONNECTION_REPORT_H
#define TELVARIO_CLI_CONNECTION_REPORT_H

#include <string>
#include <vector>

#include "report.h"
#include "run_results.h"
#include "telvario2_idl.h"

namespace telvario::cli {

struct ReportTargets {
  std::string host;        // echo, the hop and the names
  short hop = 1;           // the hop's time to live
  std::string url;         // the download
  std::string ftpHost;     // the upload
  bool assumeYes = false;  // the upload's prompt answered OK in advance

  bool None() const { return host.empty() && url.empty() && ftpHost.empty(); }
};

// Measures the targets given into `report`, each part a section of its own after the settings
// it measured with; with none, the machine itself. `where` says which network the measurements
// run in. Sonde2's runs leave their Results in `runs`; once Ctrl-C has cancelled one, nothing
// more is measured. A part that could not be measured is a failure of the report.
void ReportConnection(HMODULE library, ISonde& sonde, const ReportTargets& targets,
                      const std::string& where, Report& report, std::vector<RunResults>* runs);

}  // namespace telvario::cli

#endif
