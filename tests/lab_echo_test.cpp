// Echo runs across the lab's routed chain (tests/lab/lab.sh), from inside tvl-client. Every
// round trip through router 1 is held there for about 40 ms, so answered times are at least 40.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "echo_probe.h"
#include "sonde_probe.h"
#include "test_strings.h"

namespace telvario {
namespace {

using testing::TakeNarrow;
using testing::TestBstr;

constexpr char kHost[] = "10.213.3.10";
constexpr char kSilentHost[] = "10.213.4.10";
constexpr char kBehindSilentRouter[] = "10.213.5.10";
constexpr char kBehindGarblingRouter[] = "10.213.6.10";
constexpr const char* kRouters[] = {"10.213.10.2", "10.213.11.2", "10.213.12.2"};
constexpr LONG kDelayedRoundTrip = 40;

struct EchoResult {
  SHORT result = 0;
  SHORT goodPings = 0;
  std::string replyIp;
  std::vector<SHORT> rtt;
};

// One run by a fresh object, as a script does it; hop < 0 means PingTime.
EchoResult Measure(const char* site, int hop = -1, SHORT reps = 1, SHORT packetSize = 32) {
  SondeProbe sonde;
  sonde.put_PingReps(reps);
  sonde.put_PacketSize(packetSize);
  const TestBstr text(site);
  EchoResult run;
  if (hop < 0) {
    sonde.get_PingTime(text.Get(), &run.result);
  } else {
    sonde.get_TraceRouteTime(text.Get(), static_cast<SHORT>(hop), &run.result);
  }
  sonde.get_NGoodPings(&run.goodPings);
  BSTR reply = nullptr;
  sonde.get_ReplyIP(&reply);
  run.replyIp = TakeNarrow(reply);
  for (SHORT i = 0; i < reps; ++i) {
    SHORT value = 0;
    sonde.get_RTT(i, &value);
    run.rtt.push_back(value);
  }
  return run;
}

TEST(LabEcho, PingThroughTheDelayedPath) {
  const EchoResult run = Measure(kHost, -1, 4);
  EXPECT_EQ(run.goodPings, 4);
  EXPECT_EQ(run.replyIp, kHost);
  for (const SHORT time : run.rtt) EXPECT_GE(time, kDelayedRoundTrip);
  EXPECT_GE(run.result, kDelayedRoundTrip);
}

TEST(LabEcho, ByNameAndWithTheLargestPacket) {
  const EchoResult named = Measure("echo.lab.test");
  EXPECT_EQ(named.replyIp, kHost);
  EXPECT_GE(named.result, kDelayedRoundTrip);
  // 1500 bytes of fill with don't-fragment set: the links carry it whole, and the reply fits.
  const EchoResult large = Measure(kHost, -1, 2, 1500);
  EXPECT_EQ(large.goodPings, 2);
  EXPECT_GE(large.result, kDelayedRoundTrip);
}

TEST(LabEcho, EachRouterAnswersAtItsHop) {
  for (int hop = 1; hop <= 3; ++hop) {
    const EchoResult run = Measure(kHost, hop);
    EXPECT_EQ(run.replyIp, kRouters[hop - 1]) << "hop " << hop;
    EXPECT_GE(run.result, kDelayedRoundTrip) << "hop " << hop;
    EXPECT_EQ(run.goodPings, 1);
  }
  EXPECT_EQ(Measure(kHost, 4).replyIp, kHost);
}

TEST(LabEcho, SilentHopGivesNoReplyAndNoAddress) {
  const EchoResult silent = Measure(kBehindSilentRouter, 2);
  EXPECT_EQ(silent.result, ECHO_NO_REPLY);
  EXPECT_EQ(silent.replyIp, "0.0.0.0");
  EXPECT_EQ(silent.goodPings, 0);
  EXPECT_EQ(Measure(kBehindSilentRouter, 3).replyIp, kRouters[2]);
}

// Router 3 answers about tvl-garbled quoting a request nobody sent: no answer to ours.
TEST(LabEcho, GarbledTimeExceededIsNoAnswer) {
  const EchoResult garbled = Measure(kBehindGarblingRouter, 3);
  EXPECT_EQ(garbled.result, ECHO_NO_REPLY);
  EXPECT_EQ(garbled.replyIp, "0.0.0.0");
  EXPECT_EQ(garbled.goodPings, 0);
  EXPECT_EQ(Measure(kBehindGarblingRouter, 2).replyIp, kRouters[1]);
  EXPECT_EQ(Measure(kBehindGarblingRouter, 4).replyIp, kBehindGarblingRouter);
}

// Run while another process pings the same host (tests/lab/with-pinger.sh): its replies
// arrive among ours, and one taken for ours would show a time below the path's 40 ms.
TEST(LabEcho, AnotherPingersRepliesNeverCount) {
  const EchoResult run = Measure(kHost, -1, 20);
  EXPECT_EQ(run.goodPings, 20);
  EXPECT_GE(run.result, kDelayedRoundTrip);
  for (SHORT rtt : run.rtt) EXPECT_GE(rtt, kDelayedRoundTrip);
}

TEST(LabEcho, SilentHostKeepsThePresetAnswerAboveHop32) {
  const EchoResult ping = Measure(kSilentHost);
  EXPECT_EQ(ping.result, ECHO_NO_REPLY);
  EXPECT_EQ(ping.replyIp, kSilentHost);
  EXPECT_EQ(Measure(kSilentHost, 33).replyIp, kSilentHost);
  EXPECT_EQ(Measure(kSilentHost, 32).replyIp, "0.0.0.0");
  // 256 is above 32 as a whole, though its low 8 bits, the time to live sent, are 0.
  EXPECT_EQ(Measure(kSilentHost, 256).replyIp, kSilentHost);
}

TEST(LabEcho, TimeOutsTakeNoLongerThanTheRepetitionsAllow) {
  const auto start = std::chrono::steady_clock::now();
  const EchoResult run = Measure(kSilentHost, -1, 3);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(run.rtt, (std::vector<SHORT>{-1, -1, -1}));
  // Three time-outs of a second and two pauses of 100 ms, with room for a busy machine.
  EXPECT_LT(elapsed, std::chrono::milliseconds(3 * 1000 + 2 * 100 + 1500));
  EXPECT_GE(elapsed, std::chrono::milliseconds(3 * 1000 + 2 * 100 - 50));
}

TEST(LabEcho, NamesThatDoNotResolveSendNothing) {
  const EchoResult nodata = Measure("nodata.lab.test", -1, 3);
  EXPECT_EQ(nodata.result, ECHO_RESOLVE_NODATA);
  EXPECT_EQ(nodata.rtt, (std::vector<SHORT>{-3, -3, -3}));
  EXPECT_EQ(nodata.replyIp, "255.255.255.255");
  EXPECT_EQ(nodata.goodPings, 0);
  const EchoResult missing = Measure("missing.lab.test", 5, 2);
  EXPECT_EQ(missing.result, ECHO_RESOLVE_FAILED);
  EXPECT_EQ(missing.rtt, (std::vector<SHORT>{-4, -4}));
  EXPECT_EQ(missing.replyIp, "255.255.255.255");
}

TEST(LabEcho, DottedAddressIsUsedWhateverTheLastLookupLeft) {
  SondeProbe sonde;
  EXPECT_EQ(gethostbyname("nodata.lab.test"), nullptr);
  ASSERT_EQ(WSAGetLastError(), WSANO_DATA);
  EXPECT_EQ(Measure(kHost).replyIp, kHost);
}

TEST(LabEcho, NullSiteGoesToThisMachinesFirstAddress) {
  SondeProbe sonde;  // holds Windows Sockets for the lookup below
  const HOSTENT* self = gethostbyname(nullptr);
  ASSERT_NE(self, nullptr);
  in_addr first;
  std::memcpy(&first.s_addr, self->h_addr_list[0], sizeof first.s_addr);
  const std::string expected = inet_ntoa(first);
  const EchoResult run = Measure(nullptr);
  EXPECT_EQ(run.replyIp, expected);
  EXPECT_GE(run.result, 0);
}

// The reply buffer of a 1500-byte one cannot hold the echo of the largest request; the service
// refuses such a call rather than answer, which is why the probe's buffer is larger.
TEST(LabEcho, ServiceNeedsRoomForTheEcho) {
  SondeProbe sonde;
  const HANDLE service = IcmpCreateFile();
  ASSERT_NE(service, INVALID_HANDLE_VALUE);
  std::vector<BYTE> request(kMaxEchoRequest, kEchoFill);
  std::vector<BYTE> reply(1500);
  IP_OPTION_INFORMATION options{};
  options.Ttl = 64;
  const DWORD records =
      IcmpSendEcho(service, inet_addr(kHost), request.data(), static_cast<WORD>(request.size()),
                   &options, reply.data(), static_cast<DWORD>(reply.size()), kEchoTimeoutMs);
  EXPECT_EQ(records, 0u);
  IcmpCloseHandle(service);
}

}  // namespace
}  // namespace telvario
