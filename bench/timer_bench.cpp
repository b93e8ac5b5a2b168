// What the timers cost: PrecisionTimer::Time around an empty routine (its look at the message
// queue and the yield included) and Stopwatch::ElapsedMicroseconds on a running stopwatch.
#include <chrono>
#include <cstdio>

#include "interval_timers.h"

namespace {

using telvario::PrecisionTimer;
using telvario::Stopwatch;

void EmptyRoutine(void* /*context*/) {}

template <typename Body>
double NanosecondsPerCall(int calls, Body body) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) body();
  const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
  return spent.count() / calls;
}

}  // namespace

int main() {
  PrecisionTimer timer;
  timer.Time(EmptyRoutine, nullptr);  // calibration stays out of the figure
  double sink = 0;
  const double timeCost =
      NanosecondsPerCall(100000, [&] { sink += timer.Time(EmptyRoutine, nullptr); });

  Stopwatch watch;
  watch.Start();
  unsigned long long total = 0;
  const double elapsedCost =
      NanosecondsPerCall(1000000, [&] { total += watch.ElapsedMicroseconds(); });

  std::printf("PrecisionTimer::Time(empty routine)   %8.1f ns\n", timeCost);
  std::printf("Stopwatch::ElapsedMicroseconds        %8.1f ns\n", elapsedCost);
  std::printf("(checksums %g %llu)\n", sink, total);
  return 0;
}
