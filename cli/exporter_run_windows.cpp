#include "command.h"
#include "exporter_run.h"

namespace telvario::cli {

int RunExporter(const ExporterOptions& /*options*/, HMODULE /*library*/) {
  throw RunFailure(
      "exporter: the exporter runs on Linux only (its HTTP library is not built for Windows)");
}

}  // namespace telvario::cli
