// Sonde2's routes across the lab's routed chain (tests/lab/lab.sh), from inside tvl-client:
// client - r1 (20 ms each way) - r2 - r3 - hosts, over IPv4 and, where this platform's echo
// service has IPv6, IPv6. The chain's faults (a silent hop, garbled quotes, an unreachable, a
// destination that never answers) are rows of route_fault_test.cpp.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "route_test_support.h"

namespace telvario {
namespace {

using testing::RouteSeen;
using testing::RunRoute;

constexpr const char* kRouters[] = {"10.213.10.2", "10.213.11.2", "10.213.12.2"};
constexpr const char* kRouters6[] = {"fd13:213:0:10::2", "fd13:213:0:11::2", "fd13:213:0:12::2"};

// Wine's echo service takes a round trip to its own server for each request, some 0.3 ms.
bool UnderWine() {
  const HMODULE ntdll = LoadLibraryA("ntdll.dll");  // none on posix
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The requests of each round, by their send times in the record, leave together: one round after
// the other, never mixed; within a tenth of the 50 ms interval in most rounds where a request
// costs the service microseconds (a schedule spread over the interval would put most of it
// between a round's first and last), and well within the interval in every one, however busy
// the machine. Under Wine each costs a round trip to its server, which a busy machine stretches.
void ExpectRoundsLeaveTogether(const std::string& results) {
  const auto record = nlohmann::json::parse(results);
  std::map<int, std::pair<double, double>> spans;  // round: first and last send
  for (const auto& sample : record["samples"]) {
    const int round = sample["round"];
    const double sent = sample["sentMs"];
    auto [span, fresh] = spans.try_emplace(round, sent, sent);
    span->second.first = std::min(span->second.first, sent);
    span->second.second = std::max(span->second.second, sent);
  }
  std::vector<double> widths;
  double lastOfRoundBefore = 0;
  for (const auto& [round, span] : spans) {
    EXPECT_GE(span.first, lastOfRoundBefore) << "round " << round;
    lastOfRoundBefore = span.second;
    widths.push_back(span.second - span.first);
    if (!UnderWine()) {
      EXPECT_LE(widths.back(), 20.0) << "round " << round;
    }
  }
  std::sort(widths.begin(), widths.end());
  ASSERT_FALSE(widths.empty());
  EXPECT_LE(widths[widths.size() / 2], UnderWine() ? 20.0 : 5.0);
}

// Every hop of the 40 ms chain answers every request: its routers at their hops, the host at
// the fourth, which ends the route. All the delay is router 1's; nothing is read into any hop.
void ExpectTheChain(const RouteSeen& seen, const char* const* routers, const char* host) {
  EXPECT_EQ(seen.result, 4) << seen.results;
  ASSERT_EQ(seen.hops.size(), 4u);
  EXPECT_EQ(seen.end, "destination");
  for (std::size_t i = 0; i < 4; ++i) {
    const testing::HopSeen& hop = seen.hops[i];
    EXPECT_EQ(hop.address, i < 3 ? routers[i] : host) << "hop " << i + 1;
    EXPECT_EQ(hop.addresses, hop.address);
    EXPECT_EQ(hop.received, hop.sent);
    EXPECT_EQ(hop.loss, 0.0);
    EXPECT_EQ(hop.forwardLoss, 0.0);
    EXPECT_GE(hop.min, 40.0) << "hop " << i + 1;
    EXPECT_LE(hop.median, 45.0) << "hop " << i + 1;
    EXPECT_LE(hop.min, hop.median);
    EXPECT_LE(hop.median, hop.p90);
    EXPECT_LE(hop.p90, hop.max);
    EXPECT_GE(hop.last, hop.min);
    EXPECT_LE(hop.last, hop.max);
    EXPECT_EQ(hop.reading, "") << "hop " << i + 1;
    if (i == 0) {
      EXPECT_GE(hop.addedLatency, 40.0);
      EXPECT_LE(hop.addedLatency, hop.median);
    } else {
      EXPECT_LT(hop.addedLatency, 3.0) << "hop " << i + 1;
    }
  }
  ExpectRoundsLeaveTogether(seen.results);
}

TEST(LabRoute, TheChainHopByHopOverIpv4) {
  const RouteSeen seen = RunRoute("echo.lab.test", 10, 50, 4);
  ExpectTheChain(seen, kRouters, "10.213.3.10");
  EXPECT_EQ(seen.peer, "10.213.3.10");
  EXPECT_EQ(seen.hops[0].sent, 10);
  // Asked for no names, the run sent no name query: none is known.
  for (const testing::HopSeen& hop : seen.hops) EXPECT_EQ(hop.name, "");
  // Hops beyond the route give nothing.
  EXPECT_EQ(seen.beyond.address, "");
  EXPECT_EQ(seen.beyond.sent, 0);
}

TEST(LabRoute, TheChainOverIpv6OrWhyNot) {
  const RouteSeen seen = RunRoute("echo.lab.test", 10, 50, 6);
  if (seen.result == -5) {
    EXPECT_NE(seen.results.find("ICMPv6"), std::string::npos) << seen.results;
    EXPECT_TRUE(seen.hops.empty());
    return;
  }
  ExpectTheChain(seen, kRouters6, "fd13:213:0:3::10");
}

// The routers' names, and the host's, from the lab's reverse records; all within their limit.
TEST(LabRoute, NamesWhereAskedFor) {
  testing::RouteSettings settings;
  settings.resolveNames = true;
  const DWORD start = GetTickCount();
  const RouteSeen seen = RunRoute("10.213.3.10", 2, 50, 4, settings);
  EXPECT_LE(GetTickCount() - start, 2 * 50 + 1000 + 2000 + 1000u);
  ASSERT_EQ(seen.hops.size(), 4u);
  EXPECT_EQ(seen.hops[0].name, "r1.lab.test");
  EXPECT_EQ(seen.hops[1].name, "r2.lab.test");
  EXPECT_EQ(seen.hops[2].name, "r3.lab.test");
  EXPECT_EQ(seen.hops[3].name, "echo.lab.test");
  EXPECT_NE(seen.results.find("\"name\":\"r1.lab.test\""), std::string::npos);
}

// A route of most hops to a host that never answers: every round sends them all at once, and
// the run takes its rounds and one answer limit, not a round's worth of limits each. Some 540
// requests are on their way at once: more than Wine's echo service has room for, which
// completes the rest unsent. Those are no requests of the run's: the routers that answer
// every request they get lose none.
TEST(LabRoute, RoundsOfManyHopsTakeTheirScheduleAndOneAnswerLimit) {
  testing::RouteSettings settings;
  settings.maxHops = 30;
  const DWORD start = GetTickCount();
  const RouteSeen seen = RunRoute("10.213.4.10", 20, 50, 4, settings);
  const DWORD took = GetTickCount() - start;
  EXPECT_EQ(seen.result, -2);
  ASSERT_EQ(seen.hops.size(), 3u);
  for (const testing::HopSeen& hop : seen.hops) {
    EXPECT_GT(hop.sent, 0);
    EXPECT_EQ(hop.received, hop.sent);
  }
  const auto record = nlohmann::json::parse(seen.results);
  const auto& samples = record["samples"];
  if (UnderWine()) {
    EXPECT_LE(samples.size(), 20u * 30u);
  } else {
    EXPECT_EQ(samples.size(), 20u * 30u);
  }
  // The last request left unanswered is waited for its whole limit, and the run no longer.
  double lastUnanswered = 0;
  for (const auto& sample : samples) {
    if (sample["rttMs"].is_null()) {
      lastUnanswered = std::max(lastUnanswered, sample["sentMs"].get<double>());
    }
  }
  EXPECT_GE(took, lastUnanswered + 1000);
  EXPECT_LE(took, 19 * 50 + 1000 + 1500u);
  ExpectRoundsLeaveTogether(seen.results);
}

// Progress as the route goes: phase "route", the destination's median so far, and the hops'
// members answering with the route so far; a Cancel keeps what was measured.
TEST(LabRoute, ProgressShowsTheRouteSoFarAndCancelKeepsIt) {
  testing::RouteSettings settings;
  settings.cancelAfterEvents = 3;
  const RouteSeen seen = RunRoute("10.213.3.10", 100, 50, 4, settings);
  ASSERT_GE(seen.events.size(), 3u);
  for (const testing::EventSeen& event : seen.events) EXPECT_EQ(event.phase, "route");
  const testing::EventSeen& last = seen.events[2];
  EXPECT_GE(last.value, 40.0);  // the destination's median, once it has answered
  EXPECT_EQ(last.hops, 4);
  EXPECT_EQ(last.firstHop, kRouters[0]);
  EXPECT_LT(last.fraction, 0.5);
  EXPECT_EQ(seen.result, 4);
  EXPECT_LT(seen.hops[0].sent, 100);
  EXPECT_NE(seen.results.find("\"cancelled\":true"), std::string::npos);
}

}  // namespace
}  // namespace telvario
