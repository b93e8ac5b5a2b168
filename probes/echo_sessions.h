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
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "address_lookup.h"
#include "latency_statistics.h"
#include "run_timing.h"
#include "windows_api.h"

namespace telvario {

// Who answered a request, and how: the echo service's status (IP_SUCCESS for an echo reply; a
// router's time-exceeded or unreachable answer has its own) and the address that sent it.
struct EchoAnswer {
  ULONG status = IP_SUCCESS;
  std::string address;
};

// A request sent and what became of it.
struct EchoRecord {
  LONG index = 0;
  LatencySample sample;  // its send time from the first send, its round trip where answered
  EchoAnswer answer;     // where answered
};

// Whether a request's fate is known `nowMs` after the first send: answered, or past its answer
// limit.
bool IsSettled(const LatencySample& sample, double nowMs);

// The record the echo service wrote into `reply` for a request to a peer of `family`: its status
// and who sent it, and the round trip the service measured itself; false where it holds no
// answer (a time-out, a request given up).
bool ReadEchoRecord(int family, std::vector<BYTE>& reply, EchoAnswer* answer, double* serviceMs);

// Whether an answer is the peer's own echo reply. (The IPv6 service hears only what concerns the
// request: the status says enough there; an IPv4 reply must come from the peer.)
bool IsPeerReply(const sockaddr_storage& peer, const EchoAnswer& answer);

// A service may take a request and then complete it unsent, having no room for another on its
// way (Wine's holds a few hundred): the request was never on the path, and is not lost there.
bool IsShortOfRoom(NTSTATUS status);

// A request's round trip from the counter readings at its send and at its answer's delivery.
// `serviceMs` is the round trip the echo service measured itself, in whole milliseconds cut down
// (negative where there is none): taken where the delivery came later than its millisecond (a
// busy machine), as that millisecond's middle.
double DeliveredRoundTripMs(LONGLONG sentAt, LONGLONG deliveredAt, LONGLONG frequency,
                            double serviceMs);

// One asynchronous request of the system's echo service, for either family: its completion
// routine runs on the sending thread, at its alertable waits.
struct ServiceEcho {
  HANDLE handle = nullptr;
  const ResolvedAddress* peer = nullptr;
  PIO_APC_ROUTINE completed = nullptr;
  PVOID context = nullptr;
  const BYTE* data = nullptr;
  WORD dataSize = 0;
  UCHAR ttl = 0;  // 0: the system's own
  DWORD timeoutMs = 0;
};

// Sizes a reply buffer for a request of `dataSize` bytes to a peer of `family`.
void SizeEchoReply(int family, WORD dataSize, std::vector<BYTE>* reply);
// Sends the request, its answer to be written to `reply` (sized by SizeEchoReply): the service's
// own result (0 with ERROR_IO_PENDING once it is on its way).
DWORD SendServiceEcho(const ServiceEcho& echo, std::vector<BYTE>* reply);

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
  LONG Planned() const { return static_cast<LONG>(slots_.size()); }
  // One past the last request sent so far (or tried: one that could not be sent is never
  // answered); requests may be left out of a plan's order.
  LONG Sent() const { return sent_.load(); }
  // Milliseconds since the first send.
  double ElapsedMs() const;
  // The round trip of the latest answer, 0 before the first.
  double LatestMs() const { return latestMs_.load(); }

  // Request `index` leaves now; false where it is past the plan.
  bool MarkSent(LONG index, LONGLONG ticks);
  // Request `index` never left: the service refused it, at once or, short of room for it, on
  // its completion. It is then no request of the run's records, neither answered nor lost.
  void Withdraw(LONG index);
  // Records an answer to request `index` delivered at `ticks`: counted once, and only within
  // the answer limit. `serviceMs` is the round trip the echo service measured itself, in whole
  // milliseconds cut down (negative where there is none): taken where the delivery came later
  // than its millisecond (a busy machine), as that millisecond's middle.
  void Answer(LONG index, LONGLONG ticks, double serviceMs = -1,
              const EchoAnswer& answer = EchoAnswer{});
  // Every request up to Sent(), each with its send time from the first send and its answer.
  std::vector<LatencySample> Samples() const;
  // Every request sent so far, in the order of their indices.
  std::vector<EchoRecord> Records() const;
  // Called on the answering thread with each answer counted, outside the ledger's lock; set
  // before the first send.
  void OnAnswer(std::function<void(LONG index, const EchoAnswer& answer)> heard) {
    heard_ = std::move(heard);
  }
  // Requests sent and not answered (yet, or ever).
  LONG Unanswered() const;
  // The counter reading at which request `index` left; 0 where it has not.
  LONGLONG SentAt(LONG index) const;
  // The counter reading at which the latest request left; 0 before the first.
  LONGLONG LastSentAt() const { return lastSentAt_.load(); }

  // Requests on their way in the echo service, counted by the sending thread alone.
  LONG outstanding = 0;

 private:
  const LONGLONG frequency_;
  std::atomic<LONGLONG> start_{0};
  std::atomic<LONG> sent_{0};
  std::atomic<double> latestMs_{0};
  std::atomic<LONGLONG> lastSentAt_{0};
  std::function<void(LONG, const EchoAnswer&)> heard_;
  // Per request: its send time (0 for one not sent), its sample, and its answer's status and
  // address, the address an index into the distinct addresses that answered.
  struct Slot {
    LONGLONG sentAt = 0;
    LatencySample sample;
    ULONG status = IP_SUCCESS;
    LONG responder = -1;
  };
  mutable std::mutex mutex_;
  std::vector<Slot> slots_;
  std::vector<std::string> responders_;
};

class EchoSession {
 public:
  virtual ~EchoSession() = default;
  // Sends request `index` of `dataSize` bytes with time to live `ttl` (0: the system's own);
  // false when it could not be sent.
  virtual bool Send(LONG index, WORD dataSize, UCHAR ttl) = 0;
  // Delivers the answers that arrive for up to `milliseconds`.
  virtual void Wait(DWORD milliseconds) = 0;
  // Requests whose answer or time-out is still to come.
  virtual LONG Outstanding() const = 0;
  // Gives up the requests on their way: their completions come at once (the service's as
  // cancelled, at the next wait), and nothing more is sent or heard.
  virtual void Close() = 0;
};

// Which answers a session records: the peer's echo replies only, or the routers' time-exceeded
// and unreachable answers as well (a route's). Only the system's echo service hears routers: a
// raw socket stands in for the peer's replies alone.
enum class EchoHearing { Peer, Routers };

// A session to `peer`, or null with the reason in `failure` when this process cannot send echo
// requests of that family at all.
std::unique_ptr<EchoSession> OpenEchoSession(const ResolvedAddress& peer,
                                             const std::shared_ptr<EchoLedger>& ledger,
                                             std::string* failure,
                                             EchoHearing hearing = EchoHearing::Peer);

}  // namespace telvario

#endif
