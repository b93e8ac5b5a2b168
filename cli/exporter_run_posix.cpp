#include <cstdio>
#include <string>

#include "command.h"
#include "exporter.h"
#include "exporter_measurer.h"
#include "exporter_run.h"
#include "prompt_route.h"
#include "serve_options.h"
#include "standard_output.h"
#include "stop_signals.h"

namespace telvario::cli {
namespace {

std::string Started(const exporter::ExporterServer& server, const exporter::Exporter& measuring) {
  std::string text;
  for (const std::string& url : server.Urls()) {
    text += "telvario exporter: listening on " + url + "\n";
  }
  const std::string first = server.Urls().front();
  text += "telvario exporter: " + measuring.Summary() + "; metrics at " + first +
          "metrics, probes at " + first +
          "probe?target=HOST&module=latency; SIGHUP or POST /-/reload reads the configuration "
          "again; Ctrl-C stops\n";
  return text;
}

// The component's question before an upload: the configuration that lists the upload is the
// operator's answer, given in advance, as --yes is the client's.
int UploadConsented(LPCSTR /*text*/, LPCSTR /*caption*/, UINT /*type*/) {
  return IDOK;
}

}  // namespace

int RunExporter(const ExporterOptions& options, HMODULE library) {
  CatchStopSignals(true);
  // Held while the exporter runs: the question is answered for every object it makes.
  const PromptRoute consent(library, UploadConsented, true);
  try {
    exporter::Exporter measuring(options.config, TELVARIO_VERSION, SondeMeasurers());
    exporter::ExporterServer server(options.listen, measuring);
    WriteOut(Started(server, measuring));
    std::fflush(stdout);  // the addresses, for whoever waits for them, before any request
    server.Run(StopAsked(), ReloadAsked());
  } catch (const serve::ServeUsageError& error) {
    throw UsageError(std::string("exporter: ") + error.what());
  } catch (const serve::ServeFailure& error) {
    throw RunFailure(std::string("exporter: ") + error.what());
  } catch (const exporter::ConfigError& error) {
    throw RunFailure(std::string("exporter: ") + error.what());
  } catch (const exporter::ExporterFailure& error) {
    throw RunFailure(std::string("exporter: ") + error.what());
  }
  return kMeasured;
}

}  // namespace telvario::cli
