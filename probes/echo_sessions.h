// The ways the latency engines' echo requests leave and come back, behind one face: the
// system's echo service for IPv4 and for IPv6 (asynchronous, completing as APCs in the sending
// thread's alertable waits), and a raw ICMPv6 socket where the IPv6 service is missing. Each
// request is timed with the performance counter from just before it is sent to the moment its
// answer reaches the sending thread, which waits alertably whenever it is not sending
// (echo_runner.h). Where that moment lies past the millisecond the service measured itself (its
// own stamp, taken as the answer arrived: a busy machine runs the completion late), the
// service's millisecond stands, at its middle.
#ifndef TELVARIO_PROBES_ECHO_SESSIONS_H
#define TELVARIO_PROBES_ECHO_SESSIONS_H

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "address_lookup.h"
#include "latency_statistics.h"
#include "run_timing.h"
#include "windows_api.h"

namespace telvario {

// The requests of one run and what became of them, shared by the thread that sends them (whose
// completions record the answers) and the caller that reads them as they come. Shared with the
// requests still outstanding too, so that an answer delivered late finds it alive.
class EchoLedger {
 public:
  EchoLedger(LONG planned, LONGLONG frequency);

  LONGLONG Frequency() const { return frequency_; }
  // The counter reading the schedule counts from: the first send.
  LONGLONG Start() const { return start_.load(); }
  void SetStart(LONGLONG ticks) { start_.store(ticks); }
  LONG Planned() const { return static_cast<LONG>(sentAt_.size()); }
  // Requests sent so far (or tried: one that could not be sent is never answered).
  LONG Sent() const { return sent_.load(); }
  // The round trip of the latest answer, 0 before the first.
  double LatestMs() const { return latestMs_.load(); }

  // Request `index` leaves now; false where it is past the plan.
  bool MarkSent(LONG index, LONGLONG ticks);
  // Records an answer to request `index` delivered at `ticks`: counted once, and only within
  // the answer limit. `serviceMs` is the round trip the echo service measured itself, in whole
  // milliseconds cut down (negative where there is none): taken where the delivery came later
  // than its millisecond (a busy machine), as that millisecond's middle.
  void Answer(LONG index, LONGLONG ticks, double serviceMs = -1);
  // Every request sent so far, each with its send time from the first send and its answer.
  std::vector<LatencySample> Samples() const;
  // Requests sent and not answered (yet, or ever).
  LONG Unanswered() const;
  // The counter reading at which request `index` left; 0 where it has not.
  LONGLONG SentAt(LONG index) const;

  // Requests on their way in the echo service, counted by the sending thread alone.
  LONG outstanding = 0;

 private:
  const LONGLONG frequency_;
  std::atomic<LONGLONG> start_{0};
  std::atomic<LONG> sent_{0};
  std::atomic<double> latestMs_{0};
  mutable std::mutex mutex_;
  std::vector<LONGLONG> sentAt_;  // per request; 0 for one not sent
  std::vector<LatencySample> samples_;
};

class EchoSession {
 public:
  virtual ~EchoSession() = default;
  // Sends request `index` of `dataSize` bytes; false when it could not be sent.
  virtual bool Send(LONG index, WORD dataSize) = 0;
  // Delivers the answers that arrive for up to `milliseconds`.
  virtual void Wait(DWORD milliseconds) = 0;
  // Requests whose answer or time-out is still to come.
  virtual LONG Outstanding() const = 0;
  // Gives up the requests on their way: their completions come at once (the service's as
  // cancelled, at the next wait), and nothing more is sent or heard.
  virtual void Close() = 0;
};

// A session to `peer`, or null with the reason in `failure` when this process cannot send echo
// requests of that family at all.
std::unique_ptr<EchoSession> OpenEchoSession(const ResolvedAddress& peer,
                                             const std::shared_ptr<EchoLedger>& ledger,
                                             std::string* failure);

}  // namespace telvario

#endif
