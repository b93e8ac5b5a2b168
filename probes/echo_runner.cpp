#include "echo_runner.h"

#include "message_pump.h"
#include "run_timing.h"
#include "stall_guard.h"

namespace telvario {
namespace {

// How long the thread waits for answers after its last send: the answer limit, and a little for
// a service that is slow to report a request's time-out.
constexpr DWORD kLastAnswerGraceMs = 200;

LONGLONG TicksAfter(LONGLONG start, double milliseconds, LONGLONG frequency) {
  return start + static_cast<LONGLONG>(milliseconds * static_cast<double>(frequency) / 1000.0);
}

// Milliseconds until `deadline`, at most one look's worth: the thread looks at its stop often.
DWORD NextWait(LONGLONG deadline, LONGLONG frequency) {
  const LONGLONG left = deadline - PerformanceTicks();
  if (left <= 0) return 0;
  const LONGLONG milliseconds = (left * 1000 + frequency - 1) / frequency;
  return static_cast<DWORD>(milliseconds < kLookEveryMs ? milliseconds : kLookEveryMs);
}

}  // namespace

// What the thread and its owner share; the last to let go frees it.
struct EchoRunner::Shared {
  std::unique_ptr<EchoSession> session;
  std::shared_ptr<EchoLedger> ledger;
  EchoSchedule schedule;
  std::atomic<bool> stop{false};

  // Waits alertably until the counter reaches `deadline`, or the run is stopped.
  void WaitUntil(LONGLONG deadline) {
    const LONGLONG frequency = ledger->Frequency();
    while (!stop.load() && PerformanceTicks() < deadline) {
      session->Wait(NextWait(deadline, frequency));
    }
  }

  // The requests of a round, one after the other with nothing between.
  void SendRound(LONG round, std::vector<EchoSend>* sends) {
    sends->clear();
    if (schedule.plan != nullptr) {
      schedule.plan->Sends(round, sends);
    } else {
      sends->push_back(EchoSend{round, 0});
    }
    for (const EchoSend& send : *sends) {
      if (!session->Send(send.index, schedule.dataSize, send.ttl)) ledger->Withdraw(send.index);
    }
  }

  void Run() {
    const LONGLONG frequency = ledger->Frequency();
    ledger->SetStart(PerformanceTicks());
    std::vector<EchoSend> sends;
    for (LONG round = 0; round < schedule.rounds && !stop.load(); ++round) {
      WaitUntil(
          TicksAfter(ledger->Start(), static_cast<double>(round) * schedule.intervalMs, frequency));
      if (stop.load()) break;
      SendRound(round, &sends);
    }
    // Stopped: the requests on their way are given up, and their completions run at once.
    if (stop.load()) session->Close();
    // The last answers: until their limit, or sooner where the service has none outstanding.
    const LONGLONG answersEnd =
        TicksAfter(ledger->LastSentAt(), kLatencyAnswerLimitMs + kLastAnswerGraceMs, frequency);
    while (PerformanceTicks() < answersEnd && session->Outstanding() > 0) {
      session->Wait(NextWait(answersEnd, frequency));
    }
    session.reset();  // waits for the service to report every request, then closes it
  }
};

EchoRunner::~EchoRunner() {
  Stop();
  if (thread_ == nullptr) return;
  // A stopped schedule gives up its requests and ends at once; should the service not complete
  // them (it must), the thread outlives its caller, and its code stays loaded until it ends.
  if (WaitForSingleObject(thread_, kCancelGraceMs) != WAIT_OBJECT_0) KeepModuleLoaded();
  CloseHandle(thread_);
}

DWORD WINAPI EchoRunner::Main(LPVOID parameter) {
  auto* held = static_cast<std::shared_ptr<Shared>*>(parameter);
  const std::shared_ptr<Shared> shared = std::move(*held);
  delete held;
  // Answers are timed when this thread runs their completion: it runs ahead of the others.
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
  shared->Run();
  return 0;
}

bool EchoRunner::Start(std::unique_ptr<EchoSession> session, std::shared_ptr<EchoLedger> ledger,
                       const EchoSchedule& schedule) {
  shared_ = std::make_shared<Shared>();
  shared_->session = std::move(session);
  shared_->ledger = std::move(ledger);
  shared_->schedule = schedule;
  auto* held = new std::shared_ptr<Shared>(shared_);
  thread_ = CreateThread(nullptr, 0, Main, held, 0, nullptr);
  if (thread_ == nullptr) {
    delete held;
    shared_.reset();
    return false;
  }
  return true;
}

void EchoRunner::Stop() {
  if (shared_ != nullptr) shared_->stop.store(true);
}

bool EchoRunner::Wait(DWORD milliseconds) {
  if (thread_ == nullptr) return true;
  return WaitForSingleObject(thread_, milliseconds) == WAIT_OBJECT_0;
}

bool EchoRunner::Follow(const std::function<bool()>& keepGoing) {
  while (!Wait(0)) {
    if (!keepGoing()) {
      Stop();
      return false;
    }
    SleepDispatching(kLookEveryMs);
  }
  return true;
}

}  // namespace telvario
