// Bounds on every network wait of the measurements. The WinINet time-outs are set on each
// session a measurement opens, rather than trusting the platform's defaults. A WinINet may still
// let a blocking read or write wait past them (Wine's wait until the peer moves, and closing the
// handle from another thread does not end the call): the blocking calls then run on a worker
// thread, and the caller stops waiting once the work has made no progress for a while longer.
#ifndef TELVARIO_PROBES_STALL_GUARD_H
#define TELVARIO_PROBES_STALL_GUARD_H

#include <atomic>
#include <memory>

#include "windows_api.h"

namespace telvario {

// WinINet's connect, send and receive time-outs for the measurements' sessions.
constexpr DWORD kNetworkWaitLimitMs = 60000;
// How long the caller waits for work without progress: past the time-outs, so that a WinINet
// that honours them reports first, with its own failure.
constexpr DWORD kStallLimitMs = kNetworkWaitLimitMs + 10000;

// Sets the connect, send and receive time-outs on a session; its handles take them over.
void LimitNetworkWaits(HINTERNET session);

// Blocking work for a worker thread. The work counts `progress` up whenever it moves on; it
// must own (or share) everything it uses, since the caller may stop waiting for it.
class GuardedWork {
 public:
  virtual ~GuardedWork() = default;
  virtual void Run() = 0;
  std::atomic<ULONGLONG> progress{0};
};

enum class GuardedEnd { Finished, Stalled };

// Runs the work on a worker thread, or on this thread when none can be started, and waits for
// it. Stalled: it made no progress for `stallLimitMs`; the worker is left to end by itself,
// holding its reference to the work, and this module stays loaded for it.
GuardedEnd RunGuarded(const std::shared_ptr<GuardedWork>& work, DWORD stallLimitMs);

}  // namespace telvario

#endif
