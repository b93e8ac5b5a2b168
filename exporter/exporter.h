// `telvario exporter`: the configuration taken (at start, and again at each reload), the
// continuous latency of its targets kept going on one sweep, and what the HTTP side asks of
// them: the /metrics page, a /probe measurement, a reload.
#ifndef TELVARIO_EXPORTER_EXPORTER_H
#define TELVARIO_EXPORTER_EXPORTER_H

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "echo_sweep.h"
#include "exporter_config.h"
#include "exporter_server.h"
#include "latency_store.h"
#include "metrics_page.h"
#include "run_measurer.h"
#include "run_store.h"
#include "scheduled_runs.h"

namespace telvario::exporter {

// What stops the measurements from starting: echo requests this process may not send. One line.
class ExporterFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Exporter final : public ExporterEndpoints {
 public:
  // Takes the configuration at `path` ("" for none: /probe alone) and starts its measurements,
  // the scheduled ones with objects `maker` makes; ConfigError or ExporterFailure with its one
  // line where it cannot.
  Exporter(std::string path, std::string version, MeasurerMaker maker);
  ~Exporter() override;
  Exporter(const Exporter&) = delete;
  Exporter& operator=(const Exporter&) = delete;

  // What the configuration in use measures, in words.
  std::string Summary() const;

  std::string Metrics() override;
  Reply Probe(const ProbeRequest& request, const std::atomic<bool>& stopping) override;
  // Reads the file again; keeps the configuration in use where the new one is refused. Says
  // how it ended on standard error too.
  Reply Reload() override;

 private:
  void Take(const ExporterConfig& config);
  // A reload that did not take: counted, and said.
  Reply Refused(const std::string& line);
  void CountProbe(const std::string& module, bool success, double seconds);

  // Names are resolved through the system's sockets, in force while the exporter runs.
  struct Sockets {
    Sockets();
    ~Sockets();
    Sockets(const Sockets&) = delete;
    Sockets& operator=(const Sockets&) = delete;
  } sockets_;
  const std::string path_;
  std::mutex reloading_;  // one reload at a time
  const std::shared_ptr<LatencyStore> store_ = std::make_shared<LatencyStore>();
  const std::shared_ptr<RunStore> runs_ = std::make_shared<RunStore>();
  const MeasurerMaker maker_;
  std::mutex throughputTurn_;  // held by the throughput run going on, scheduled or probed
  ScheduledRuns scheduled_;    // its own threads: taken outside the lock
  mutable std::mutex lock_;    // what follows, for the page
  std::unique_ptr<EchoSweep> sweep_;
  std::size_t routeCount_ = 0;
  std::size_t throughputCount_ = 0;
  ExporterConfig transfers_;      // the file's servers that /probe may run transfers with
  std::uint64_t sentBefore_ = 0;  // by the sweeps of configurations no longer in use
  std::size_t seriesCount_ = 0;
  ExporterHealth health_;
};

}  // namespace telvario::exporter

#endif
