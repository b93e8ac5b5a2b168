// The stopwatch's once-per-process calibration. Each case needs a process whose first stopwatch
// it constructs; the test runner starts one process per case.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "interval_timers.h"

namespace telvario {
namespace {

// Calibration runs time-critical where the caller may raise its priority, and always ends at
// normal priority. Where it may not (an unprivileged posix process, which cannot lower its nice
// value again either), the raise fails and the thread stays as it was.
TEST(StopwatchFirstUse, NeverLeavesTheCalibratingThreadAboveNormal) {
  ASSERT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);
  Stopwatch watch;
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);
}

TEST(StopwatchFirstUse, LeavesTheCalibratingThreadAtNormalPriority) {
  if (!SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL)) {
    GTEST_SKIP() << "this process may not raise a thread's priority (on posix: root or "
                    "CAP_SYS_NICE)";
  }
  ASSERT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL));
  ASSERT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_BELOW_NORMAL);
  Stopwatch watch;
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);
}

TEST(StopwatchFirstUse, ConcurrentFirstConstructionsSeeACompleteCalibration) {
  std::atomic<bool> go{false};
  Stopwatch::Calibration seen[4] = {};
  DWORD elapsed[4] = {};
  std::thread threads[4];
  for (int i = 0; i < 4; ++i) {
    threads[i] = std::thread([&, i] {
      while (!go) std::this_thread::yield();
      Stopwatch watch;
      seen[i] = Stopwatch::ProcessCalibration();
      watch.Start();
      ::Sleep(10);
      watch.Stop();
      elapsed[i] = watch.ElapsedMicroseconds();
    });
  }
  go = true;
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < 4; ++i) {
    EXPECT_GT(seen[i].frequency, 0) << "thread " << i;
    EXPECT_GT(seen[i].granularity, 0u) << "thread " << i;
    EXPECT_GT(elapsed[i], 0u) << "thread " << i;
  }
}

// Without a performance counter the stopwatch counts the tick count's milliseconds, whose step
// it learns, and the precision timer falls back to the runtime's clock. The ticks here are the
// test's: each reading advances them by one step of 16 ms, as a coarse system tick would.
DWORD ticks = 5000;
TEST(StopwatchFirstUse, WithoutAPerformanceCounterCountsTicks) {
  SetTimerClock({[](LARGE_INTEGER*) -> BOOL { return FALSE; },
                 [](LARGE_INTEGER*) -> BOOL { return FALSE; },
                 []() -> DWORD { return ticks += 16; }});
  Stopwatch watch;
  const Stopwatch::Calibration calibration = Stopwatch::ProcessCalibration();
  EXPECT_FALSE(calibration.hasCounter);
  EXPECT_EQ(calibration.frequency, 1000);
  EXPECT_EQ(calibration.granularity, 16u);
  watch.Start();
  ticks += 2000;  // two seconds pass
  watch.Stop();
  EXPECT_EQ(watch.ElapsedMicroseconds(), 2016000u);  // the seconds and the Stop reading's step

  PrecisionTimer timer;
  EXPECT_GE(timer.Time([](void*) {}, nullptr), 0.0);
  EXPECT_EQ(timer.State(), TimerState::Fallback);
}

}  // namespace
}  // namespace telvario
