// The exporter's HTTP side, on one event loop of the h2o library, as the measurement server's:
// /metrics answered at once from what the measurements have gathered, /probe and /-/reload
// answered from threads of their own (http_jobs.h), so that nothing a measurement does holds up
// a scrape. Made, it listens; Run serves until told to stop.
#ifndef TELVARIO_EXPORTER_EXPORTER_SERVER_H
#define TELVARIO_EXPORTER_EXPORTER_SERVER_H

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "probe_latency.h"
#include "reply.h"

namespace telvario::exporter {

// Where no --listen is given: loopback alone, for a monitoring system on the same machine.
inline constexpr char kDefaultListen[] = "127.0.0.1:9731";

// What the endpoints ask of the exporter.
class ExporterEndpoints {
 public:
  virtual ~ExporterEndpoints() = default;
  // The /metrics page; on the loop's thread, so quick.
  virtual std::string Metrics() = 0;
  // On a job's thread.
  virtual Reply Probe(const ProbeRequest& request, const std::atomic<bool>& stopping) = 0;
  virtual Reply Reload() = 0;
};

class ServerLoop;

class ExporterServer {
 public:
  // Listens on every ADDR:PORT given, or throws serve::ServeUsageError (a malformed address)
  // or serve::ServeFailure (a port in use) with its one line.
  ExporterServer(const std::vector<std::string>& listen, ExporterEndpoints& endpoints);
  ~ExporterServer();
  ExporterServer(const ExporterServer&) = delete;
  ExporterServer& operator=(const ExporterServer&) = delete;

  std::vector<std::string> Urls() const;
  // Serves until `stopping` is set, looked at ten times a second, as `reloadAsked` is: a reload
  // is started each time it is found set.
  void Run(const std::atomic<bool>& stopping, std::atomic<bool>& reloadAsked);

 private:
  std::unique_ptr<ServerLoop> loop_;
};

}  // namespace telvario::exporter

#endif
