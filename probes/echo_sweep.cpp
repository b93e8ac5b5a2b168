#include "echo_sweep.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <queue>

#include "echo_sessions.h"
#include "run_timing.h"

namespace telvario {
namespace {

constexpr BYTE kFill = 0x45;
// The longest the thread waits without looking whether it is to stop.
constexpr DWORD kStopLookMs = 100;
// How long a stopped sweep waits past the answer limit for its requests' completions.
constexpr DWORD kDrainGraceMs = 2000;

struct Due {
  LONGLONG at;
  std::size_t target;
  bool operator>(const Due& other) const { return at > other.at; }
};

using DueQueue = std::priority_queue<Due, std::vector<Due>, std::greater<Due>>;

}  // namespace

struct EchoSweep::Shared {
  // One request on its way: what its completion needs.
  struct Pending {
    std::shared_ptr<Shared> owner;
    std::size_t target = 0;
    LONGLONG sentAt = 0;
    std::vector<BYTE> reply;
  };

  std::vector<SweepTarget> targets;
  DWORD answerLimitMs = 1000;
  std::shared_ptr<SweepSink> sink;
  LONGLONG frequency = 1;
  HANDLE ipv4 = INVALID_HANDLE_VALUE;
  HANDLE ipv6 = INVALID_HANDLE_VALUE;
  std::vector<BYTE> data;
  std::atomic<bool> stop{false};
  std::atomic<LONGLONG> sent{0};
  LONG outstanding = 0;  // the sweep's thread's alone

  LONGLONG Ticks(double milliseconds) const {
    return static_cast<LONGLONG>(milliseconds * static_cast<double>(frequency) / 1000.0);
  }

  bool Open(std::string* failure) {
    const auto needs = [&](int family) {
      return std::any_of(targets.begin(), targets.end(),
                         [&](const SweepTarget& target) { return target.peer.family == family; });
    };
    if (needs(AF_INET) && (ipv4 = IcmpCreateFile()) == INVALID_HANDLE_VALUE) {
      *failure =
          "this process may not send ICMP echo requests (the echo service could not be "
          "opened)";
      return false;
    }
    if (needs(AF_INET6) && (ipv6 = Icmp6CreateFile()) == INVALID_HANDLE_VALUE) {
      *failure =
          "this process may not send ICMPv6 echo requests (the echo service could not be "
          "opened)";
      Close();
      return false;
    }
    return true;
  }

  // Requests on their way are given up: their completions come at the next alertable wait.
  void Close() {
    for (HANDLE* handle : {&ipv4, &ipv6}) {
      if (*handle != INVALID_HANDLE_VALUE) IcmpCloseHandle(*handle);
      *handle = INVALID_HANDLE_VALUE;
    }
  }

  static void NTAPI Completed(PVOID context, PIO_STATUS_BLOCK status, ULONG /*reserved*/) {
    const LONGLONG now = PerformanceTicks();
    const std::unique_ptr<Pending> pending(static_cast<Pending*>(context));
    Shared& shared = *pending->owner;
    --shared.outstanding;
    shared.Settle(*pending, status, now);
  }

  void Settle(Pending& pending, PIO_STATUS_BLOCK status, LONGLONG now) {
    const SweepTarget& target = targets[pending.target];
    EchoAnswer answer;
    double serviceMs = -1;
    if (ReadEchoRecord(target.peer.family, pending.reply, &answer, &serviceMs)) {
      const double roundTripMs = DeliveredRoundTripMs(pending.sentAt, now, frequency, serviceMs);
      if (IsPeerReply(target.peer.address, answer) && roundTripMs <= answerLimitMs) {
        sink->Answered(pending.target, std::round(roundTripMs * 1000.0) / 1000.0);
        return;
      }
    } else if (stop.load() || (status != nullptr && IsShortOfRoom(status->Status))) {
      return;  // given up, or never on the path: neither answered nor lost
    }
    sink->Lost(pending.target);
  }

  void Send(std::size_t index, const std::shared_ptr<Shared>& self) {
    const SweepTarget& target = targets[index];
    auto pending = std::make_unique<Pending>();
    pending->owner = self;
    pending->target = index;
    SizeEchoReply(target.peer.family, target.dataSize, &pending->reply);
    const ServiceEcho echo{target.peer.family == AF_INET ? ipv4 : ipv6,
                           &target.peer,
                           Completed,
                           pending.get(),
                           data.data(),
                           target.dataSize,
                           0,
                           answerLimitMs};
    ++sent;
    pending->sentAt = PerformanceTicks();
    if (SendServiceEcho(echo, &pending->reply) == 0 && GetLastError() == ERROR_IO_PENDING) {
      [[maybe_unused]] Pending* const taken = pending.release();  // its completion's now
      ++outstanding;
      return;
    }
    sink->Lost(index);
  }

  // Each target's first request, spread across its interval by its place in the list.
  DueQueue FirstSends(LONGLONG start) const {
    DueQueue due;
    const double count = static_cast<double>(targets.size());
    for (std::size_t index = 0; index < targets.size(); ++index) {
      const double offsetMs = targets[index].intervalMs * static_cast<double>(index) / count;
      due.push(Due{start + Ticks(offsetMs), index});
    }
    return due;
  }

  // Milliseconds until `deadline`, rounded up, at most one look's worth.
  DWORD WaitUntil(LONGLONG deadline) const {
    const LONGLONG left = deadline - PerformanceTicks();
    if (left <= 0) return 0;
    const LONGLONG milliseconds = (left * 1000 + frequency - 1) / frequency;
    return static_cast<DWORD>(std::min<LONGLONG>(milliseconds, kStopLookMs));
  }

  void Run(const std::shared_ptr<Shared>& self) {
    DueQueue due = FirstSends(PerformanceTicks());
    std::vector<LONG> sentOf(targets.size(), 0);
    while (!stop.load()) {
      const LONGLONG now = PerformanceTicks();
      while (!due.empty() && due.top().at <= now) {
        const Due next = due.top();
        due.pop();
        Send(next.target, self);
        const SweepTarget& target = targets[next.target];
        if (target.count == 0 || ++sentOf[next.target] < target.count) {
          due.push(Due{next.at + Ticks(target.intervalMs), next.target});
        }
      }
      if (due.empty() && outstanding == 0) break;
      SleepEx(due.empty() ? kStopLookMs : WaitUntil(due.top().at), TRUE);
    }
    Close();
    const DWORD began = GetTickCount();
    while (outstanding > 0 && GetTickCount() - began < answerLimitMs + kDrainGraceMs) {
      SleepEx(kLookEveryMs, TRUE);
    }
  }
};

EchoSweep::~EchoSweep() {
  Stop();
  if (thread_ == nullptr) return;
  WaitForSingleObject(thread_, INFINITE);  // bounded: the drain ends by its own time
  CloseHandle(thread_);
}

DWORD WINAPI EchoSweep::Main(LPVOID parameter) {
  auto* held = static_cast<std::shared_ptr<Shared>*>(parameter);
  const std::shared_ptr<Shared> shared = std::move(*held);
  delete held;
  // Answers are timed when this thread runs their completion: it runs ahead of the others.
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
  shared->Run(shared);
  return 0;
}

bool EchoSweep::Start(std::vector<SweepTarget> targets, DWORD answerLimitMs,
                      std::shared_ptr<SweepSink> sink, std::string* failure) {
  auto shared = std::make_shared<Shared>();
  shared->answerLimitMs = answerLimitMs;
  shared->sink = std::move(sink);
  shared->frequency = PerformanceFrequency();
  WORD largest = 0;
  for (const SweepTarget& target : targets) largest = std::max(largest, target.dataSize);
  shared->data.assign(std::max<WORD>(largest, 1), kFill);
  shared->targets = std::move(targets);
  if (!shared->Open(failure)) return false;
  auto* held = new std::shared_ptr<Shared>(shared);
  thread_ = CreateThread(nullptr, 0, Main, held, 0, nullptr);
  if (thread_ == nullptr) {
    delete held;
    shared->Close();
    *failure = "no thread could be started to send the echo requests";
    return false;
  }
  shared_ = std::move(shared);
  return true;
}

void EchoSweep::Stop() {
  if (shared_ != nullptr) shared_->stop.store(true);
}

bool EchoSweep::Wait(DWORD milliseconds) {
  if (thread_ == nullptr) return true;
  return WaitForSingleObject(thread_, milliseconds) == WAIT_OBJECT_0;
}

LONGLONG EchoSweep::Sent() const {
  return shared_ != nullptr ? shared_->sent.load() : 0;
}

}  // namespace telvario
