// The ways the latency engine's echo requests leave and come back, behind one face: the
// system's echo service for IPv4 and for IPv6 (asynchronous, completing as APCs in this thread's
// alertable waits), and a raw ICMPv6 socket where the IPv6 service is missing. Each request is
// timed with the performance counter, from just before it is sent to the moment its answer is
// delivered to this thread.
#ifndef TELVARIO_PROBES_ECHO_SESSIONS_H
#define TELVARIO_PROBES_ECHO_SESSIONS_H

#include <memory>
#include <string>
#include <vector>

#include "address_lookup.h"
#include "latency_statistics.h"
#include "windows_api.h"

namespace telvario {

// The requests of one run and what became of them. Shared with the requests still outstanding,
// so that an answer delivered late finds it alive.
struct EchoLedger {
  LONGLONG frequency = 1;        // performance counter ticks per second
  LONGLONG start = 0;            // the first send
  std::vector<LONGLONG> sentAt;  // per request; 0 for one that could not be sent
  std::vector<LatencySample> samples;
  LONG outstanding = 0;
  double latestMs = 0;

  // Records an answer to request `index` received at `ticks`: counted once, and only within
  // the answer limit.
  void Answer(LONG index, LONGLONG ticks);
};

LONGLONG PerformanceTicks();

class EchoSession {
 public:
  virtual ~EchoSession() = default;
  // Sends request `index` of `dataSize` bytes; false when it could not be sent.
  virtual bool Send(LONG index, WORD dataSize) = 0;
  // Delivers the answers that arrive until the counter reaches `deadline`.
  virtual void WaitUntil(LONGLONG deadline) = 0;
};

// A session to `peer`, or null with the reason in `failure` when this process cannot send echo
// requests of that family at all.
std::unique_ptr<EchoSession> OpenEchoSession(const ResolvedAddress& peer,
                                             const std::shared_ptr<EchoLedger>& ledger,
                                             std::string* failure);

}  // namespace telvario

#endif
