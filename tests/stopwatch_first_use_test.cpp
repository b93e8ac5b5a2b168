// The stopwatch's once-per-process calibration. Each case needs a process whose first stopwatch
// it constructs; the test runner starts one process per case.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "interval_timers.h"

namespace telvario {
namespace {

TEST(StopwatchFirstUse, LeavesTheCalibratingThreadAtNormalPriority) {
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
