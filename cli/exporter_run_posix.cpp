#include <cstdio>
#include <string>

#include "command.h"
#include "exporter.h"
#include "exporter_run.h"
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

}  // namespace

int RunExporter(const ExporterOptions& options) {
  CatchStopSignals(true);
  try {
    exporter::Exporter measuring(options.config, TELVARIO_VERSION);
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
