// `telvario exporter [--listen ADDR:PORT ...] [--config FILE]`: a prober that a monitoring
// system scrapes (exporter/).
#include <CLI/CLI.hpp>
#include <string>

#include "commands.h"
#include "exporter_run.h"

namespace telvario::cli {
namespace {

class ExporterCommand final : public Command {
 public:
  ExporterOptions options;

  // The component measures the scheduled runs and the probes other than latency; loaded
  // first, it takes the raw echo sockets too, as the other commands' component does.
  bool SendsEcho() const override { return true; }
  int Run(Session& session) override { return RunExporter(options, session.Library()); }
};

}  // namespace

std::unique_ptr<Command> AddExporterCommand(CLI::App& command) {
  auto exporter = std::make_unique<ExporterCommand>();
  ExporterOptions& options = exporter->options;
  command
      .add_option("--listen", options.listen,
                  "an address to listen on, ADDR:PORT (e.g. 127.0.0.1:9731, [::]:9731, :9731 "
                  "for every address), given as often as needed (127.0.0.1:9731 unless given)")
      ->type_name("ADDR:PORT")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  command
      .add_option("--config", options.config,
                  "the YAML file of targets and what to measure of each: latency (target, "
                  "interval, packet_size, family, buckets), route (target, every, first, "
                  "family), throughput (url, upload, responsiveness, every, first, duration); "
                  "read again at SIGHUP and POST /-/reload, a bad file keeping the one before")
      ->type_name("FILE");
  return exporter;
}

}  // namespace telvario::cli
