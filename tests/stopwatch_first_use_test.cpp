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

}  // namespace
}  // namespace telvario
