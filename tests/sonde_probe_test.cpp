// The object's defaults, its tuning puts, RTT's bound and Sleep.
#include <gtest/gtest.h>

#include <thread>

#include "sonde_probe.h"
#include "test_strings.h"
#include "test_window.h"

namespace telvario {
namespace {

using testing::CountingWindow;
using testing::QueueIsEmpty;

SHORT PacketSizeAfterPut(SHORT value) {
  SondeProbe sonde;
  sonde.put_PacketSize(value);
  SHORT stored = 0;
  sonde.get_PacketSize(&stored);
  return stored;
}

SHORT PingRepsAfterPut(SHORT value) {
  SondeProbe sonde;
  sonde.put_PingReps(value);
  SHORT stored = 0;
  sonde.get_PingReps(&stored);
  return stored;
}

SHORT Rtt(SondeProbe& sonde, SHORT index) {
  SHORT value = 0;
  sonde.get_RTT(index, &value);
  return value;
}

// What an echo run of `reps` repetitions leaves behind: entry i holds 100 + i.
void RecordEchoRun(SondeProbe& sonde, LONG reps) {
  sonde.put_PingReps(static_cast<SHORT>(reps));
  for (LONG i = 0; i < reps; ++i) sonde.State().pingTimes[i] = 100 + i;
}

TEST(SondeDefaults, NewObjectReadsItsDefaults) {
  SondeProbe sonde;
  SHORT packetSize = 0, pingReps = 0, goodPings = -1;
  LONG dataRead = -1;
  double elapsed = -1;
  EXPECT_EQ(sonde.get_PacketSize(&packetSize), S_OK);
  EXPECT_EQ(sonde.get_PingReps(&pingReps), S_OK);
  EXPECT_EQ(sonde.get_NGoodPings(&goodPings), S_OK);
  EXPECT_EQ(sonde.get_DataRead(&dataRead), S_OK);
  EXPECT_EQ(sonde.get_ElapsedTime(&elapsed), S_OK);
  EXPECT_EQ(packetSize, 32);
  EXPECT_EQ(pingReps, 1);
  EXPECT_EQ(goodPings, 0);
  EXPECT_EQ(Rtt(sonde, 0), 0);
  EXPECT_EQ(dataRead, 0);
  EXPECT_EQ(elapsed, 0.0);
  EXPECT_EQ(sonde.State().replyAddress, 0u);
  BSTR reply = nullptr;
  EXPECT_EQ(sonde.get_ReplyIP(&reply), S_OK);
  EXPECT_EQ(testing::TakeNarrow(reply), "0.0.0.0");
  EXPECT_EQ(sonde.State().readRate, 0.0f);
  EXPECT_EQ(sonde.State().downloadTimer.State(), TimerState::Uncalibrated);
}

TEST(SondeTuning, PacketSizeOutsideEightTo1500FallsBackTo32) {
  EXPECT_EQ(PacketSizeAfterPut(7), 32);
  EXPECT_EQ(PacketSizeAfterPut(8), 8);
  EXPECT_EQ(PacketSizeAfterPut(1500), 1500);
  EXPECT_EQ(PacketSizeAfterPut(1501), 32);
  EXPECT_EQ(PacketSizeAfterPut(-1), 32);
  EXPECT_EQ(PacketSizeAfterPut(-32768), 32);

  SondeProbe sonde;  // an out-of-range put replaces a good value, it does not keep it
  sonde.put_PacketSize(1000);
  EXPECT_EQ(sonde.put_PacketSize(0), S_OK);
  SHORT stored = 0;
  sonde.get_PacketSize(&stored);
  EXPECT_EQ(stored, 32);
}

TEST(SondeTuning, PingRepsOutsideOneTo100FallsBackToOne) {
  EXPECT_EQ(PingRepsAfterPut(0), 1);
  EXPECT_EQ(PingRepsAfterPut(1), 1);
  EXPECT_EQ(PingRepsAfterPut(100), 100);
  EXPECT_EQ(PingRepsAfterPut(101), 1);
  EXPECT_EQ(PingRepsAfterPut(-5), 1);
}

TEST(SondeRtt, IndexOutsideCurrentPingRepsYieldsMinusTen) {
  SondeProbe sonde;
  EXPECT_EQ(Rtt(sonde, -1), -10);
  EXPECT_EQ(Rtt(sonde, 1), -10);  // equal to PingReps
  EXPECT_EQ(Rtt(sonde, 32767), -10);
  EXPECT_EQ(Rtt(sonde, -32768), -10);
}

TEST(SondeRtt, BoundFollowsThePutNotTheLastRun) {
  SondeProbe lowered;
  RecordEchoRun(lowered, 10);
  lowered.put_PingReps(3);
  EXPECT_EQ(Rtt(lowered, 2), 102);
  EXPECT_EQ(Rtt(lowered, 5), -10);

  SondeProbe raised;
  RecordEchoRun(raised, 3);
  raised.put_PingReps(10);
  EXPECT_EQ(Rtt(raised, 2), 102);
  EXPECT_EQ(Rtt(raised, 5), 0);  // never written

  SondeProbe older;  // entries past a shorter run keep what a longer one left
  RecordEchoRun(older, 10);
  RecordEchoRun(older, 3);
  older.put_PingReps(10);
  EXPECT_EQ(Rtt(older, 5), 105);
}

TEST(SondeRtt, YieldsTheLow16BitsOfAnEntry) {
  SondeProbe sonde;
  sonde.State().pingTimes[0] = 0x12345;
  EXPECT_EQ(Rtt(sonde, 0), 0x2345);
  sonde.State().pingTimes[0] = -4;
  EXPECT_EQ(Rtt(sonde, 0), -4);
}

TEST(SondeSleep, ZeroStillDrainsTheQueue) {
  SondeProbe sonde;
  CountingWindow window;
  ASSERT_TRUE(window.Post());
  ASSERT_TRUE(window.Post());
  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_APP + 2, 0, 0));
  EXPECT_EQ(sonde.Sleep(0), S_OK);
  EXPECT_EQ(CountingWindow::dispatched, 2);
  EXPECT_TRUE(QueueIsEmpty());
}

TEST(SondeSleep, NegativeTimeReturnsAndDrains) {
  SondeProbe sonde;
  CountingWindow window;
  ASSERT_TRUE(window.Post());
  EXPECT_EQ(sonde.Sleep(-1), S_OK);  // would never return if taken as INFINITE
  EXPECT_EQ(sonde.Sleep(-2147483647 - 1), S_OK);
  EXPECT_EQ(CountingWindow::dispatched, 1);
}

TEST(SondeSleep, DispatchesWhatAnotherThreadPostedMeanwhile) {
  SondeProbe sonde;
  CountingWindow window;
  const DWORD before = GetTickCount();
  std::thread poster(
      [&window] { PostMessageA(window.Handle(), CountingWindow::kTestMessage, 0, 0); });
  poster.join();
  EXPECT_EQ(sonde.Sleep(50), S_OK);
  EXPECT_GE(GetTickCount() - before, 40u);  // it did wait
  EXPECT_EQ(CountingWindow::dispatched, 1);
  EXPECT_TRUE(QueueIsEmpty());
}

TEST(SondeSockets, EachObjectHoldsItsOwnRegistration) {
  {
    SondeProbe first;
    {
      SondeProbe second;
      EXPECT_NE(gethostbyname("localhost"), nullptr);
    }
    EXPECT_NE(gethostbyname("localhost"), nullptr) << "the first object's registration is gone";
  }
  EXPECT_EQ(gethostbyname("localhost"), nullptr);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

}  // namespace
}  // namespace telvario
