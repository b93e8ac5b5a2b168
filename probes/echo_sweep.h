// Echo requests to many peers without end, each peer on its own interval, all from one thread
// and one handle of the system's echo service per family: what a prober that watches hundreds
// of hosts at once a second needs, at the cost of a request and its completion each. Each peer's
// first request is spread across its interval, so that a sweep sends evenly rather than in
// bursts; a thread that falls behind sends what is due at once, and keeps each peer's schedule.
// The fate of each request (its round trip, or its loss past the answer limit) is told to a
// sink on the sweep's thread; a request given up as the sweep stops is told nothing.
#ifndef TELVARIO_PROBES_ECHO_SWEEP_H
#define TELVARIO_PROBES_ECHO_SWEEP_H

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "address_lookup.h"
#include "windows_api.h"

namespace telvario {

struct SweepTarget {
  ResolvedAddress peer;
  DWORD intervalMs = 1000;
  WORD dataSize = 56;
  LONG count = 0;  // requests to send; 0: until the sweep stops
};

// Told on the sweep's thread, one call a request.
class SweepSink {
 public:
  virtual ~SweepSink() = default;
  // Target `target` (its place in the sweep's list) answered in `roundTripMs`.
  virtual void Answered(std::size_t target, double roundTripMs) = 0;
  // No answer within the limit: none, a router's refusal, or a request that could not leave.
  virtual void Lost(std::size_t target) = 0;
};

class EchoSweep {
 public:
  EchoSweep() = default;
  // Stops the sweep and waits for its thread.
  ~EchoSweep();
  EchoSweep(const EchoSweep&) = delete;
  EchoSweep& operator=(const EchoSweep&) = delete;

  // Opens the echo service for each family the targets need and starts sending; false with why
  // in `failure` where this process may not send echo requests of a family, or has no thread.
  bool Start(std::vector<SweepTarget> targets, DWORD answerLimitMs, std::shared_ptr<SweepSink> sink,
             std::string* failure);
  // Sends nothing more; returns at once. The requests on their way are given up.
  void Stop();
  // Waits up to `milliseconds` for the thread to end: every counted request sent and settled,
  // or the sweep stopped. Whether it has.
  bool Wait(DWORD milliseconds);
  // Requests sent so far.
  LONGLONG Sent() const;

 private:
  struct Shared;
  static DWORD WINAPI Main(LPVOID parameter);

  std::shared_ptr<Shared> shared_;
  HANDLE thread_ = nullptr;
};

}  // namespace telvario

#endif
