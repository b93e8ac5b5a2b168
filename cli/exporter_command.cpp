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

  bool NeedsComponent() const override { return false; }
  bool SendsEcho() const override { return true; }
  int RunAlone(const CommonOptions& /*common*/) override { return RunExporter(options); }
  int Run(Session& session) override { return RunAlone(session.Options()); }
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
                  "interval, packet_size, family, buckets), route (target, every), throughput "
                  "(url, upload, every); read again at SIGHUP and POST /-/reload, a bad file "
                  "keeping the one before")
      ->type_name("FILE");
  return exporter;
}

}  // namespace telvario::cli
