// Latency while the link is loaded: an echo request to the server at every 100 ms sample of the
// load, sent and answered on the caller's thread between samples, and, where asked for, foreign
// probes from a worker of their own: a new TCP connection to the server (its handshake timed)
// and a small HTTP request on it (timed to the first byte of the answer), one after another,
// every 100 ms, or less often where that would take more than 5% of the measured rate.
#ifndef TELVARIO_PROBES_LOADED_LATENCY_H
#define TELVARIO_PROBES_LOADED_LATENCY_H

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "address_lookup.h"
#include "echo_sessions.h"
#include "stall_guard.h"
#include "throughput_probe.h"
#include "windows_api.h"

namespace telvario {

enum class ProbeKind { Echo, Tcp, Http };

struct LatencyProbe {
  ProbeKind kind = ProbeKind::Echo;
  double atSeconds = 0;  // sent, from the start of the load
  bool answered = false;
  double roundTripMs = 0;
};

// Where the foreign probes go: the server's address and port, and what an HTTP request names.
struct ProbeTarget {
  ResolvedAddress peer;
  INTERNET_PORT port = 80;
  std::string hostHeader;
  std::string path;
  bool http = true;  // false over https: the handshake is timed, and no request made
};

// The target of an http or https URL: its host's first address, its port and its path; false,
// with the reason, where the name does not resolve.
bool ResolveTarget(const std::string& url, ProbeTarget* target, std::string* failure);

class ForeignProbes;

class LoadedLatency final : public LoadCompanion {
 public:
  LoadedLatency(ProbeTarget target, bool foreign, LONG packetSize, double durationSeconds);
  ~LoadedLatency() override;
  LoadedLatency(const LoadedLatency&) = delete;
  LoadedLatency& operator=(const LoadedLatency&) = delete;

  // Opens the echo session (where this process may send echo requests at all) and starts the
  // foreign probes.
  void Start();
  void Sample(double seconds, double latestMbps) override;
  void WaitUntil(LONGLONG due) override;
  // Ends the probes: the echo requests' answers come in, the foreign worker stops (or is left).
  void Finish();

  // Every probe, in the order sent; once finished.
  std::vector<LatencyProbe> Probes() const;
  // The round trip of the latest answer, of any kind.
  double LatestMs() const;

 private:
  ProbeTarget target_;
  bool foreign_;
  LONG packetSize_;
  std::shared_ptr<EchoLedger> ledger_;
  std::unique_ptr<EchoSession> session_;
  LONG sent_ = 0;
  WorkPtr<ForeignProbes> prober_;
  std::unique_ptr<GuardedWorker> worker_;
  bool finished_ = false;
};

// The mean of the best `share` of the values, the slowest left out, as the responsiveness method
// trims its probes (the best 95%).
double TrimmedMean(std::vector<double> values, double share);

}  // namespace telvario

#endif
