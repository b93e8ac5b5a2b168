// Latency while the link is loaded: an echo request to the server every kSampleMs, from a
// thread of its own (echo_runner.h), and, where asked for, foreign probes from a worker of their
// own: a new TCP connection to the server (its handshake timed) and a small HTTP request on it
// (timed to the first byte of the answer), one after another, every kSampleMs, or less often
// where that would take more than 5% of the measured rate. Both go to the server's address that
// takes connections on the load's port, the one the load itself connects to.
#ifndef TELVARIO_PROBES_LOADED_LATENCY_H
#define TELVARIO_PROBES_LOADED_LATENCY_H

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "address_lookup.h"
#include "echo_runner.h"
#include "echo_sessions.h"
#include "stall_guard.h"
#include "throughput_probe.h"
#include "web_address.h"
#include "windows_api.h"

namespace telvario {

enum class ProbeKind { Echo, Tcp, Http };

struct LatencyProbe {
  ProbeKind kind = ProbeKind::Echo;
  double atSeconds = 0;  // sent, from the start of the load
  bool answered = false;
  double roundTripMs = 0;
};

// Where the probes go: the server's address and port, and what an HTTP request names.
struct ProbeTarget {
  ResolvedAddress peer;
  INTERNET_PORT port = 80;
  std::string hostHeader;
  std::string path;
  bool http = true;  // false over https: the handshake is timed, and no request made
};

// The target of an http or https address: of its host's addresses, the first that takes a
// connection on its port (as WinINet and curl try them in the resolver's order), else the
// first; false, with the reason, where the name does not resolve.
bool ResolveTarget(const WebAddress& address, ProbeTarget* target, std::string* failure);

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
  // Ends the probes within kCancelGraceMs: the echo requests still waiting for an answer then
  // are left out, the foreign worker is stopped (or left).
  void Finish();

  // Every probe whose fate is known, in the order sent; once finished.
  std::vector<LatencyProbe> Probes() const;
  // The round trip of the latest answer, of any kind.
  double LatestMs() const;

 private:
  ProbeTarget target_;
  bool foreign_;
  LONG packetSize_;
  double durationSeconds_;
  std::shared_ptr<EchoLedger> ledger_;
  EchoRunner echoes_;
  WorkPtr<ForeignProbes> prober_;
  std::unique_ptr<GuardedWorker> worker_;
  bool finished_ = false;
  LONGLONG finishedAt_ = 0;
};

// The mean of the best `share` of the values, the slowest left out, as the responsiveness method
// trims its probes (the best 95%).
double TrimmedMean(std::vector<double> values, double share);

}  // namespace telvario

#endif
