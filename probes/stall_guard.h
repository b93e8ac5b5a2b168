// Bounds on every network wait of the measurements. The WinINet time-outs are set on each
// session a measurement opens, rather than trusting the platform's defaults. A WinINet may still
// let a blocking call wait past them (Wine's wait until the peer moves, and closing the handle
// from another thread does not end the call): the blocking calls therefore run on a worker
// thread, step by step, and the caller stops waiting once a step overruns its limits.
//
// Ownership: the work owns every handle it uses, and only the worker touches them. The caller
// never closes a handle the worker may still be inside; when it gives up, it only says so, and
// the worker closes what it owns once its blocked call has let go. A worker left running keeps
// the module loaded, and at most kMostAbandonedWorkers of them exist at once in a process: past
// that, a measurement that would need a worker fails at once, as a stalled one does. A clean-up
// after a measurement (deleting what it left on a server) may go past that, up to twice as
// many, so that a file is not left for want of a worker.
#ifndef TELVARIO_PROBES_STALL_GUARD_H
#define TELVARIO_PROBES_STALL_GUARD_H

#include <atomic>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "windows_api.h"

namespace telvario {

// WinINet's connect, send and receive time-outs for the measurements' sessions.
constexpr DWORD kNetworkWaitLimitMs = 60000;

// Sets the connect, send and receive time-outs on a session; its handles take them over.
void LimitNetworkWaits(HINTERNET session);

struct GuardLimits {
  // A transfer that moves less than its least amount (a read: 4 KiB) in this long has stalled,
  // on every platform: the WinINet time-outs say the same of one that moves nothing.
  DWORD stallMs = kNetworkWaitLimitMs;
  // How much longer the caller waits for a step without progress before it gives up: the
  // work's own check, or a WinINet that honours its time-outs, reports first.
  DWORD graceMs = 10000;
  // Closing a measurement's handles, or deleting what it left on a server.
  DWORD cleanupMs = 10000;

  DWORD GiveUpMs() const { return stallMs + graceMs; }
};

// The one stall rule: a transfer that moves less than this in its stall limit has stalled.
constexpr ULONGLONG kStallLeastBytes = 4096;

// The limits in force. Only tests change them, to reach every give-up in seconds.
GuardLimits CurrentGuardLimits();
void SetGuardLimitsForTesting(const GuardLimits& limits);

// Keeps this module loaded for the rest of the process: a thread left running still runs its
// code after the caller has returned, perhaps after the host has let the module go.
void KeepModuleLoaded();

constexpr LONG kMostAbandonedWorkers = 8;
// Workers given up on that are still running, in this process.
LONG AbandonedWorkers();

// Blocking work for a worker thread, counted by reference: the caller and the worker each hold
// one, and the last to let go frees it.
class GuardedWork {
 public:
  GuardedWork() = default;
  // Closes what the work still owns (a work that never ran on a worker).
  virtual ~GuardedWork();
  GuardedWork(const GuardedWork&) = delete;
  GuardedWork& operator=(const GuardedWork&) = delete;

  void AddRef() { references_.fetch_add(1); }
  void Release() {
    if (references_.fetch_sub(1) == 1) delete this;
  }

  // Takes a handle into the work's keeping (null is ignored) and gives it back. What is still
  // owned when Run ends is closed then: children before their parents, or, once the caller has
  // given up, the first handle only (the session), which takes its children with it and
  // completes nothing.
  HINTERNET Own(HINTERNET handle);

 protected:
  // The work, on the worker. It checks Abandoned() before every new request.
  virtual void Run() = 0;

  // Starts a step the caller waits for: it gives up when the step has lasted `totalMs`, or has
  // made no progress for `quietMs` (INFINITE: no such limit).
  void BeginStep(DWORD totalMs, DWORD quietMs);
  // The step moved on: a slow link is not a stalled one.
  void Progressed();
  // The caller has stopped waiting: no new request may be made, and what is owned is let go.
  bool Abandoned() const { return state_.load() == kAbandoned; }
  // Closes an owned handle now, when the work is done with it, and its children before it.
  void Close(HINTERNET handle);
  int OwnedCount() const { return ownedCount_; }
  HINTERNET OwnedAt(int index) const { return owned_[index]; }

 private:
  friend class WorkerRun;
  friend class GuardedWorker;
  friend class StallWatch;
  enum : LONG { kRunning, kFinished, kAbandoned };

  void CloseOwned();
  // Whether the step in progress has overrun its limits by now.
  bool Overdue() const;

  std::atomic<LONG> references_{1};
  std::atomic<LONG> state_{kRunning};
  std::atomic<DWORD> stepStart_{0};
  std::atomic<DWORD> lastProgress_{0};
  std::atomic<ULONGLONG> stepLimits_{~0ULL};  // total in the high half, quiet in the low
  static constexpr int kMostOwned = 4;
  HINTERNET owned_[kMostOwned] = {};
  int ownedCount_ = 0;
  HANDLE token_ = nullptr;  // the caller's identity, worn by the worker
};

// Watches a transfer of a work by the one stall rule: the work hears of progress each time
// another kStallLeastBytes have moved, and a transfer that has not moved that much within the
// stall limit has stalled.
class StallWatch {
 public:
  explicit StallWatch(GuardedWork& work);
  void Moved(ULONGLONG bytes);
  // Whether less than kStallLeastBytes moved in the stall limit up to now.
  bool Stalled() const;

 private:
  GuardedWork& work_;
  ULONGLONG sinceMark_ = 0;
  DWORD markTick_;
  DWORD stallMs_;
};

// The caller's reference to a work.
struct ReleaseWork {
  void operator()(GuardedWork* work) const { work->Release(); }
};
template <typename Work>
using WorkPtr = std::unique_ptr<Work, ReleaseWork>;

// A new work, or null when it cannot be made: a measurement short of memory fails with its
// own result rather than an exception.
template <typename Work, typename... Arguments>
WorkPtr<Work> NewWork(Arguments&&... arguments) noexcept {
  try {
    return WorkPtr<Work>(new Work(std::forward<Arguments>(arguments)...));
  } catch (...) {
    return nullptr;
  }
}

enum class GuardedEnd {
  Finished,  // the work ran to its end
  GaveUp,    // a step overran its limits; the worker is left to end by itself
  NoWorker,  // nothing ran: no worker could be started, or too many are left running
};

enum class WorkKind { Measurement, CleanUp };

// Runs the work on a worker thread wearing the caller's thread token, and waits for it.
GuardedEnd RunGuarded(GuardedWork& work, WorkKind kind = WorkKind::Measurement);

// A work on its worker, for a caller that waits for several at once or does something of its
// own between looks: RunGuarded, taken apart.
class GuardedWorker {
 public:
  GuardedWorker() = default;
  ~GuardedWorker();
  GuardedWorker(const GuardedWorker&) = delete;
  GuardedWorker& operator=(const GuardedWorker&) = delete;

  // Starts the work on its worker; false, with nothing run, where RunGuarded gives NoWorker.
  bool Start(GuardedWork& work, WorkKind kind = WorkKind::Measurement);
  // Waits up to `milliseconds` for the work to end; its end once it has (GaveUp when a step
  // overran its limits meanwhile), nothing while it runs on.
  std::optional<GuardedEnd> Wait(DWORD milliseconds);
  // Stops waiting for the work now: it is given up, unless it has just finished.
  void GiveUp();

 private:
  GuardedWork* work_ = nullptr;
  HANDLE thread_ = nullptr;
  std::optional<GuardedEnd> end_;
};

}  // namespace telvario

#endif
