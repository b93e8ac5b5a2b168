// The precision timer's arithmetic on injected counter readings, both timers on the real clock,
// and the stopwatch's rule for turning readings into microseconds.
#include <gtest/gtest.h>

#include "interval_timers.h"
#include "test_window.h"

namespace telvario {
namespace {

constexpr LONGLONG kTenMegahertz = 10000000;

TEST(PrecisionTimerArithmetic, ShortIntervalAtLowFrequencyIsNotScaled) {
  // (T1 - T0 - overhead) / frequency, exactly.
  EXPECT_EQ(PrecisionTimer::IntervalSeconds(5000, 5000 + 5000010, kTenMegahertz, 10, 0), 0.5);
  EXPECT_EQ(PrecisionTimer::IntervalSeconds(0xFFFFFF00, 0xFFFFFFFF, kTenMegahertz, 0, 0),
            255.0 / kTenMegahertz);
}

TEST(PrecisionTimerArithmetic, FrequencyAbove32BitsScalesEveryInterval) {
  const LONGLONG frequency = 3LL << 32;  // upper half 3: shift by 2
  const LONG shift = PrecisionTimer::BitLength(3);
  ASSERT_EQ(shift, 2);
  EXPECT_EQ(PrecisionTimer::IntervalSeconds(1000, 1100, frequency, 8, shift),
            (25.0 - 2.0) / static_cast<double>(frequency >> 2));
}

TEST(PrecisionTimerArithmetic, CarryIntoTheUpperHalfScalesByItsBitLength) {
  // The upper halves differ by 1, so both readings shift by one bit although the true
  // difference of 32 counts would fit.
  EXPECT_EQ(PrecisionTimer::IntervalSeconds(0x1FFFFFFF0ULL, 0x200000010ULL, kTenMegahertz, 0, 0),
            16.0 / (kTenMegahertz >> 1));
  // A larger carry takes the larger shift, and the overhead shifts with it.
  EXPECT_EQ(PrecisionTimer::IntervalSeconds(0x100000000ULL, 0x500000000ULL, kTenMegahertz, 16, 0),
            (static_cast<double>(0x400000000ULL >> 3) - 2.0) / (kTenMegahertz >> 3));
}

TEST(PrecisionTimerArithmetic, NothingLeftOfTheFrequencyGivesZero) {
  EXPECT_EQ(PrecisionTimer::IntervalSeconds(0, 1000, 0, 0, 0), 0.0);
  // An interval whose upper halves differ by 2^31 shifts a 10 MHz frequency to nothing.
  EXPECT_EQ(PrecisionTimer::IntervalSeconds(0, 0x8000000000000000ULL, kTenMegahertz, 0, 0), 0.0);
}

TEST(PrecisionTimerArithmetic, CallFasterThanTheLearnedOverheadTakesNoTime) {
  EXPECT_EQ(PrecisionTimer::IntervalSeconds(1000, 1005, kTenMegahertz, 10, 0), 0.0);
  EXPECT_EQ(PrecisionTimer::IntervalSeconds(1000, 1010, kTenMegahertz, 10, 0), 0.0);
}

TEST(PrecisionTimerArithmetic, BitLengthCountsHalvings) {
  EXPECT_EQ(PrecisionTimer::BitLength(0), 0);
  EXPECT_EQ(PrecisionTimer::BitLength(1), 1);
  EXPECT_EQ(PrecisionTimer::BitLength(2), 2);
  EXPECT_EQ(PrecisionTimer::BitLength(3), 2);
  EXPECT_EQ(PrecisionTimer::BitLength(0x80000000u), 32);
}

void SleepTwentyMilliseconds(void* calls) {
  ++*static_cast<int*>(calls);
  ::Sleep(20);
}

TEST(PrecisionTimer, CalibratesOnFirstUseAndTimesOneCall) {
  PrecisionTimer timer;
  EXPECT_EQ(timer.State(), TimerState::Uncalibrated);
  int calls = 0;
  const double seconds = timer.Time(SleepTwentyMilliseconds, &calls);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(timer.State(), TimerState::HighResolution);
  EXPECT_GE(seconds, 0.015);
  EXPECT_LT(seconds, 5.0);
  timer.Time(SleepTwentyMilliseconds, &calls);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(timer.State(), TimerState::HighResolution);
}

TEST(PrecisionTimer, OnlyLooksAtTheMessageQueue) {
  testing::CountingWindow window;
  ASSERT_TRUE(window.Post());
  PrecisionTimer timer;
  int calls = 0;
  timer.Time([](void* count) { ++*static_cast<int*>(count); }, &calls);
  EXPECT_EQ(testing::CountingWindow::dispatched, 0);
  EXPECT_FALSE(testing::QueueIsEmpty());
  MSG message;
  EXPECT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
}

TEST(StopwatchArithmetic, TickCountModeIgnoresTwiceTheGranularity) {
  EXPECT_EQ(Stopwatch::MicrosecondsBetween(5000, 5030, 1000, 15), 0u);
  EXPECT_EQ(Stopwatch::MicrosecondsBetween(5000, 5031, 1000, 15), 31000u);
}

TEST(StopwatchArithmetic, ClockRunningBackwardsGivesZero) {
  EXPECT_EQ(Stopwatch::MicrosecondsBetween(5000, 4000, 1000, 1), 0u);
  // A tick count that wrapped: the later reading is the smaller one.
  EXPECT_EQ(Stopwatch::MicrosecondsBetween(0xFFFFFFF0ULL, 0x10, 1000, 1), 0u);
}

TEST(StopwatchArithmetic, TruncatesToWholeMicrosecondsAndKeepsTheLow32Bits) {
  EXPECT_EQ(Stopwatch::MicrosecondsBetween(0, 12345, kTenMegahertz, 1), 1234u);
  // Eight hours of a 1 GHz counter: 3 * 10^13 counts times 10^6 overflows 64 bits; the
  // microseconds themselves, 3 * 10^10, keep their low 32 bits.
  EXPECT_EQ(Stopwatch::MicrosecondsBetween(1, 1 + 30000000000000LL, 1000000000, 1),
            static_cast<DWORD>(30000000000ULL));
}

TEST(Stopwatch, ReadsZeroUntilStartedThenGrowsUntilStopped) {
  Stopwatch watch;
  const Stopwatch::Calibration calibration = Stopwatch::ProcessCalibration();
  EXPECT_TRUE(calibration.hasCounter);
  EXPECT_GT(calibration.frequency, 0);
  EXPECT_GT(calibration.granularity, 0u);

  EXPECT_EQ(watch.ElapsedMicroseconds(), 0u);
  EXPECT_TRUE(watch.Start());
  ::Sleep(5);
  const DWORD first = watch.ElapsedMicroseconds();
  ::Sleep(5);
  const DWORD second = watch.ElapsedMicroseconds();
  EXPECT_GT(first, 0u);
  EXPECT_GT(second, first);
  EXPECT_TRUE(watch.Stop());
  const DWORD stopped = watch.ElapsedMicroseconds();
  ::Sleep(5);
  EXPECT_EQ(watch.ElapsedMicroseconds(), stopped);

  watch.Start();  // a new interval
  EXPECT_LT(watch.ElapsedMicroseconds(), stopped);
}

}  // namespace
}  // namespace telvario
