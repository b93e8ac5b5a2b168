// The two clocks of the throughput probes: the per-object precision timer that times one call
// of a routine, and the microsecond stopwatch whose calibration the whole process shares.
#ifndef TELVARIO_PROBES_INTERVAL_TIMERS_H
#define TELVARIO_PROBES_INTERVAL_TIMERS_H

#include "windows_api.h"

namespace telvario {

enum class TimerState : LONG { Uncalibrated = 0, HighResolution = 1, Fallback = 2 };

// The clock readings the timers take: the system's performance counter and tick count. A test
// stands in a clock of its own (a system without a performance counter, ticks it controls)
// before any timer calibrates; the previous clock comes back.
struct TimerClock {
  BOOL (*queryFrequency)(LARGE_INTEGER* frequency);
  BOOL (*queryCounter)(LARGE_INTEGER* count);
  DWORD (*tickCount)();
};
TimerClock SetTimerClock(const TimerClock& clock);

// The routine a timer calls, with the state it needs handed to it.
using TimedRoutine = void (*)(void* context);

// A value: a measurement made elsewhere (on a worker thread) works on a copy of the object's
// timer, and the calibration comes back with the copy.
class PrecisionTimer {
 public:
  PrecisionTimer() = default;
  PrecisionTimer(const PrecisionTimer&) = default;
  PrecisionTimer& operator=(const PrecisionTimer&) = default;
  virtual ~PrecisionTimer() = default;

  // Calls routine(context) once on this thread and gives the seconds it took. Calibrates on the
  // first call, before the timed interval.
  double Time(TimedRoutine routine, void* context);

  TimerState State() const { return state_; }

  // The high-resolution arithmetic on two counter readings: both readings and the frequency are
  // brought into 32 bits at the same scale, the overhead is taken off, and one division follows.
  static double IntervalSeconds(ULONGLONG t0, ULONGLONG t1, LONGLONG frequency, LONG minOverhead,
                                LONG scaleShift);

  // The number of halvings that bring value to 0.
  static LONG BitLength(DWORD value);

 private:
  void Calibrate();

  TimerState state_ = TimerState::Uncalibrated;
  LONGLONG frequency_ = 0;
  LONG scaleShift_ = 0;
  LONG minOverhead_ = 0;
};

class Stopwatch {
 public:
  // The first construction in the process calibrates the clock for every stopwatch.
  Stopwatch();

  bool Start();
  bool Stop();
  // Microseconds from Start to Stop, or to now while running; 0 before Start.
  DWORD ElapsedMicroseconds() const;

  // The rule behind ElapsedMicroseconds, for two readings of a clock with the given frequency
  // and granularity (clockStep).
  static DWORD MicrosecondsBetween(ULONGLONG start, ULONGLONG now, LONGLONG frequency,
                                   DWORD clockStep);

  struct Calibration {
    bool hasCounter;
    LONGLONG frequency;
    DWORD granularity;
  };
  // The process calibration, complete once any stopwatch has been constructed.
  static Calibration ProcessCalibration();

 private:
  static ULONGLONG Reading();

  ULONGLONG start_ = 0;
  ULONGLONG stop_ = 0;
};

}  // namespace telvario

#endif
