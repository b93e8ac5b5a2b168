// Echo requests on a schedule of their own: a thread of the run's sends round i at
// start + i intervals (one request, or a set of them that leave together) and waits alertably
// the rest of the time, so that each answer completes, and is timed, as it arrives, whatever the
// caller's thread is doing meanwhile (raising an event, sampling a load, dispatching its
// messages). The caller reads the ledger as it fills.
//
// Why a thread: the echo service completes a request on the thread that sent it, and only while
// that thread waits alertably. A caller that also raises events and samples a load is often not
// waiting, and its answers would be timed late by as much.
#ifndef TELVARIO_PROBES_ECHO_RUNNER_H
#define TELVARIO_PROBES_ECHO_RUNNER_H

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "echo_sessions.h"
#include "windows_api.h"

namespace telvario {

// One request of a round: its place in the ledger, and the time to live it leaves with (0: the
// system's own).
struct EchoSend {
  LONG index = 0;
  UCHAR ttl = 0;
};

// What each round sends, asked on the sending thread as the round begins, so that a round may
// follow what earlier ones heard.
class RoundPlan {
 public:
  virtual ~RoundPlan() = default;
  virtual void Sends(LONG round, std::vector<EchoSend>* sends) = 0;
};

struct EchoSchedule {
  LONG rounds = 0;
  DWORD intervalMs = 100;
  WORD dataSize = 32;
  // None: one request a round, round i's being request i, at the system's time to live.
  std::shared_ptr<RoundPlan> plan;
};

class EchoRunner {
 public:
  EchoRunner() = default;
  // Stops the schedule; the thread hears the answers on their way and ends by itself.
  ~EchoRunner();
  EchoRunner(const EchoRunner&) = delete;
  EchoRunner& operator=(const EchoRunner&) = delete;

  // Starts sending on a thread of its own, which takes the session over; false where no
  // thread could be started (nothing is sent then).
  bool Start(std::unique_ptr<EchoSession> session, std::shared_ptr<EchoLedger> ledger,
             const EchoSchedule& schedule);
  // Sends nothing more; returns at once.
  void Stop();
  // Waits up to `milliseconds` for the schedule to have ended: every request sent (or the run
  // stopped) and every answer heard or timed out. Whether it has.
  bool Wait(DWORD milliseconds);
  // Waits for the schedule to end, dispatching the thread's messages, and asks `keepGoing`
  // between looks: false stops the run. Whether it ran to its end.
  bool Follow(const std::function<bool()>& keepGoing);

 private:
  struct Shared;
  static DWORD WINAPI Main(LPVOID parameter);

  std::shared_ptr<Shared> shared_;
  HANDLE thread_ = nullptr;
};

}  // namespace telvario

#endif
