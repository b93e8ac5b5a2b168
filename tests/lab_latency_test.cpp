// Sonde2's latency runs across the lab (tests/lab/lab.sh), from inside tvl-client: the 40 ms
// path of the routed chain, and the jittery, lossy path, whose statistics must match what its
// delay element is set to (20 ms +- 2.5 ms normal each way, 5% of requests lost), over IPv4 and,
// where this platform has any ICMPv6 echo at all, IPv6.
#include <gtest/gtest.h>

#include <string>

#include "sonde2_probe.h"
#include "sonde_probe.h"
#include "test_strings.h"

namespace telvario {
namespace {

using testing::TakeNarrow;
using testing::TestBstr;

struct Statistics {
  double result = 0, min = 0, median = 0, p90 = 0, p99 = 0, max = 0, jitter = 0, loss = 0;
  LONG sent = 0, received = 0;
  std::string peer, results;
};

Statistics Measure(const char* host, LONG probes, LONG intervalMs, LONG family = 0) {
  const SondeProbe sockets;  // a Sonde2 object starts Windows Sockets through its Sonde side
  Sonde2Probe sonde;
  EXPECT_EQ(sonde.put_Probes(probes), S_OK);
  EXPECT_EQ(sonde.put_ProbeInterval(intervalMs), S_OK);
  EXPECT_EQ(sonde.put_Family(family), S_OK);
  Statistics got;
  const TestBstr text(host);
  EXPECT_EQ(sonde.Latency(text.Get(), 32, &got.result), S_OK);
  sonde.get_LatencyMin(&got.min);
  sonde.get_LatencyMedian(&got.median);
  sonde.get_LatencyP90(&got.p90);
  sonde.get_LatencyP99(&got.p99);
  sonde.get_LatencyMax(&got.max);
  sonde.get_Jitter(&got.jitter);
  sonde.get_Loss(&got.loss);
  sonde.get_Sent(&got.sent);
  sonde.get_Received(&got.received);
  BSTR peer = nullptr, results = nullptr;
  sonde.get_PeerAddress(&peer);
  sonde.get_Results(&results);
  got.peer = TakeNarrow(peer);
  got.results = TakeNarrow(results);
  return got;
}

void ExpectOrdered(const Statistics& got) {
  EXPECT_LE(got.min, got.median);
  EXPECT_LE(got.median, got.p90);
  EXPECT_LE(got.p90, got.p99);
  EXPECT_LE(got.p99, got.max);
  EXPECT_EQ(got.result, got.median);
}

// Through router 1, which holds every packet 20 ms each way: about 40 ms, steadily, none lost.
// The delay element runs in user space, so a busy machine (the sanitizers) adds a little jitter
// of its own: about 2 ms was seen; the path's own is none.
TEST(LabLatency, TheDelayedPathOverIpv4) {
  const Statistics got = Measure("10.213.3.10", 20, 50, 4);
  ExpectOrdered(got);
  EXPECT_EQ(got.sent, 20);
  EXPECT_EQ(got.received, 20);
  EXPECT_EQ(got.loss, 0.0);
  EXPECT_GE(got.min, 40.0);
  EXPECT_LE(got.median, 45.0);
  EXPECT_LE(got.jitter, 4.0);
  EXPECT_EQ(got.peer, "10.213.3.10");
}

// 400 requests 10 ms apart, each a sample of the path's own distributions: a round trip of
// 40 ms with a deviation of 3.5 ms (p90 about 44.5, p99 about 48), consecutive answers about
// 4 ms apart on average, and 5% lost.
TEST(LabLatency, TheJitteryLossyPathMatchesItsSettings) {
  const Statistics got = Measure("jitter.lab.test", 400, 10, 4);
  ExpectOrdered(got);
  EXPECT_EQ(got.sent, 400);
  EXPECT_EQ(got.peer, "10.213.7.10");
  EXPECT_GE(got.median, 38.0);
  EXPECT_LE(got.median, 42.5);
  EXPECT_GE(got.p90, 42.0);
  EXPECT_LE(got.p90, 47.5);
  EXPECT_GE(got.p99, 44.0);
  EXPECT_LE(got.p99, 53.0);
  EXPECT_GE(got.jitter, 2.5);
  EXPECT_LE(got.jitter, 5.5);
  EXPECT_GE(got.loss, 0.015);
  EXPECT_LE(got.loss, 0.09);
  EXPECT_NE(got.results.find("\"rttMs\":null"), std::string::npos);  // the lost ones
}

// IPv6 where the platform sends ICMPv6 echo at all; where it cannot (Wine has neither the
// service nor raw ICMPv6 sockets), the run says so: -5, and why.
TEST(LabLatency, TheDelayedPathOverIpv6OrWhyNot) {
  const Statistics got = Measure("echo.lab.test", 10, 50, 6);
  if (got.result == -5) {
    EXPECT_NE(got.results.find("ICMPv6"), std::string::npos) << got.results;
    EXPECT_EQ(got.sent, 0);
    return;
  }
  ExpectOrdered(got);
  EXPECT_EQ(got.peer, "fd13:213:0:3::10");
  EXPECT_EQ(got.received, 10);
  EXPECT_GE(got.min, 40.0);
  EXPECT_LE(got.median, 45.0);
}

TEST(LabLatency, NamesOfBothFamiliesAndTheirFailures) {
  const SondeProbe sockets;
  Sonde2Probe sonde;
  const TestBstr name("echo.lab.test");
  BSTR addresses = nullptr;
  sonde.Addresses(name.Get(), &addresses);
  const std::string both = TakeNarrow(addresses);
  EXPECT_NE(both.find("10.213.3.10"), std::string::npos) << both;
  EXPECT_NE(both.find("fd13:213:0:3::10"), std::string::npos) << both;
  EXPECT_EQ(Measure("nodata.lab.test", 1, 10).result, -3);
  EXPECT_EQ(Measure("absent.lab.test", 1, 10).result, -4);
  EXPECT_EQ(Measure("10.213.3.10", 1, 10, 6).result, -3);  // an IPv4 literal, IPv6 only
}

}  // namespace
}  // namespace telvario
