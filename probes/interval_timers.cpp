#include "interval_timers.h"

#include <atomic>

namespace telvario {
namespace {

void EmptyRoutine(void* /*context*/) {}

// Called through a volatile pointer so that calibration times a real call, as Time makes one.
TimedRoutine volatile emptyRoutine = EmptyRoutine;

constexpr LONG kMaxOverhead = 200;
constexpr int kCalibrationTrials = 20;

TimerClock timerClock{
    [](LARGE_INTEGER* frequency) -> BOOL { return QueryPerformanceFrequency(frequency); },
    [](LARGE_INTEGER* count) -> BOOL { return QueryPerformanceCounter(count); },
    []() -> DWORD { return GetTickCount(); },
};
ULONGLONG Counter() {
  LARGE_INTEGER reading;
  timerClock.queryCounter(&reading);
  return static_cast<ULONGLONG>(reading.QuadPart);
}

DWORD Low(ULONGLONG value) {
  return static_cast<DWORD>(value);
}
DWORD High(ULONGLONG value) {
  return static_cast<DWORD>(value >> 32);
}

}  // namespace

TimerClock SetTimerClock(const TimerClock& replacement) {
  const TimerClock previous = timerClock;
  timerClock = replacement;
  return previous;
}

LONG PrecisionTimer::BitLength(DWORD value) {
  LONG bits = 0;
  for (; value != 0; value >>= 1) ++bits;
  return bits;
}

void PrecisionTimer::Calibrate() {
  state_ = TimerState::Fallback;
  LARGE_INTEGER frequency;
  if (!timerClock.queryFrequency(&frequency)) return;
  frequency_ = frequency.QuadPart;
  state_ = TimerState::HighResolution;
  minOverhead_ = kMaxOverhead;
  for (int trial = 0; trial < kCalibrationTrials; ++trial) {
    const ULONGLONG t0 = Counter();
    emptyRoutine(nullptr);
    const ULONGLONG t1 = Counter();
    const auto d = static_cast<LONG>(Low(t1) - Low(t0));
    if (d >= 0 && d < minOverhead_) minOverhead_ = d;
  }
  scaleShift_ = BitLength(High(static_cast<ULONGLONG>(frequency_)));
}

double PrecisionTimer::Time(TimedRoutine routine, void* context) {
  // A look at the queue and the rest of the time slice, so that the interval starts fresh.
  MSG ignored;
  PeekMessageA(&ignored, nullptr, 0, 0, PM_NOREMOVE);
  ::Sleep(0);
  if (state_ == TimerState::Uncalibrated) Calibrate();
  if (state_ != TimerState::HighResolution) {
    const LONG c0 = RuntimeClock();
    routine(context);
    const LONG c1 = RuntimeClock();
    return static_cast<LONG>(static_cast<DWORD>(c1) - static_cast<DWORD>(c0)) * 0.001;
  }
  const LONGLONG frequency = frequency_;
  const LONG minOverhead = minOverhead_;
  const ULONGLONG t0 = Counter();
  routine(context);
  const ULONGLONG t1 = Counter();
  return IntervalSeconds(t0, t1, frequency, minOverhead, scaleShift_);
}

double PrecisionTimer::IntervalSeconds(ULONGLONG t0, ULONGLONG t1, LONGLONG frequency,
                                       LONG minOverhead, LONG scaleShift) {
  auto f = static_cast<ULONGLONG>(frequency);
  auto m = static_cast<DWORD>(minOverhead);
  LONG n = BitLength(High(t1) - High(t0));
  if (scaleShift != 0 || n != 0) {
    if (n < scaleShift) n = scaleShift;
    t0 >>= n;
    t1 >>= n;
    f >>= n;
    m = static_cast<DWORD>(ULONGLONG{m} >> n);  // n may be 32
  }
  if (Low(f) == 0) return 0.0;
  const DWORD counted = Low(t1) - Low(t0);
  // A call faster than the overhead learned at calibration took no measurable time; the
  // difference must not wrap around into four billion counts.
  const DWORD d = counted > m ? counted - m : 0;
  return static_cast<double>(d) / static_cast<double>(Low(f));
}

namespace {

// The stopwatch's process calibration. The values are stored before `phase` says Done, and an
// instance reads them only after it has seen Done, so no stopwatch uses a half-made calibration.
enum CalibrationPhase : int { NotStarted, Running, Done };
std::atomic<int> phase{NotStarted};
bool hasCounter = false;
LONGLONG clockFrequency = 0;
DWORD granularity = 0;

void CalibrateProcess() {
  ::Sleep(1);
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  LARGE_INTEGER frequency;
  if (timerClock.queryFrequency(&frequency)) {
    hasCounter = true;
    clockFrequency = frequency.QuadPart;
    const ULONGLONG a = Counter();
    ULONGLONG b = Counter();
    while (b == a) b = Counter();
    granularity = Low(b) - Low(a);
  } else {
    hasCounter = false;
    clockFrequency = 1000;
    const DWORD a = timerClock.tickCount();
    DWORD b = timerClock.tickCount();
    while (b == a) b = timerClock.tickCount();
    granularity = b - a;
  }
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
}

void EnsureProcessCalibration() {
  int expected = NotStarted;
  if (phase.compare_exchange_strong(expected, Running)) {
    CalibrateProcess();
    phase.store(Done);
    return;
  }
  // Another thread is calibrating: wait for its values.
  while (phase.load() != Done) ::Sleep(0);
}

}  // namespace

Stopwatch::Stopwatch() {
  EnsureProcessCalibration();
}

Stopwatch::Calibration Stopwatch::ProcessCalibration() {
  EnsureProcessCalibration();
  return Calibration{hasCounter, clockFrequency, granularity};
}

ULONGLONG Stopwatch::Reading() {
  return hasCounter ? Counter() : timerClock.tickCount();
}

bool Stopwatch::Start() {
  stop_ = 0;
  start_ = Reading();
  return true;
}

bool Stopwatch::Stop() {
  stop_ = Reading();
  return true;
}

DWORD Stopwatch::ElapsedMicroseconds() const {
  if (start_ == 0) return 0;
  const ULONGLONG now = stop_ != 0 ? stop_ : Reading();
  return MicrosecondsBetween(start_, now, clockFrequency, granularity);
}

DWORD Stopwatch::MicrosecondsBetween(ULONGLONG start, ULONGLONG now, LONGLONG frequency,
                                     DWORD clockStep) {
  const auto diff = static_cast<LONGLONG>(now - start);
  if (diff < 0 || frequency <= 0) return 0;
  const DWORD twice = clockStep * 2u;
  if (diff <= static_cast<LONGLONG>(twice)) return 0;
  // Whole seconds and the remainder apart, so that diff × 10^6 cannot overflow for a fast
  // counter; the quotient is the same as the product's.
  constexpr LONGLONG kMicrosecondsPerSecond = 1000000;
  const LONGLONG micros = diff / frequency * kMicrosecondsPerSecond +
                          diff % frequency * kMicrosecondsPerSecond / frequency;
  return static_cast<DWORD>(micros);
}

}  // namespace telvario
