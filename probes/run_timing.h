// The times every Sonde2 measurement keeps to, defined once.
#ifndef TELVARIO_PROBES_RUN_TIMING_H
#define TELVARIO_PROBES_RUN_TIMING_H

#include "windows_api.h"

namespace telvario {

// A load is sampled, and probed by echo requests, this often.
constexpr DWORD kSampleMs = 100;
// An echo answer later than this after its request does not count.
constexpr DWORD kLatencyAnswerLimitMs = 1000;
// Once a run's time is up, how long its connections are given to end (an upload's last body
// to be answered) before they are closed under their workers.
constexpr DWORD kStopGraceMs = 10000;
// A throughput connection that moves less than the stall rule asks in this has stalled; a
// blocked send or receive of one ends after it.
constexpr DWORD kThroughputStallMs = 3000;
// A Cancel ends a run within this: what is still running then is closed under its workers.
constexpr DWORD kCancelGraceMs = 300;
// Progress is told at most this often, and once more at the end of each phase.
constexpr DWORD kProgressEveryMs = 250;
// How often a waiting run looks at its work, its cancel and the thread's messages.
constexpr DWORD kLookEveryMs = 10;

// The performance counter, the clock of every run: its reading, and its ticks a second (never 0).
LONGLONG PerformanceTicks();
LONGLONG PerformanceFrequency();

}  // namespace telvario

#endif
