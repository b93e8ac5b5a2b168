// A route's figures from its probes, as the engine hands them over: where it ends, what each hop
// says of itself, what carries on from it, and how it is read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "route_figures.h"

namespace telvario {
namespace {

// Rounds of requests for hops 1..: for each hop, its round trip (negative: lost), round by round.
struct HopPlan {
  std::string address;
  std::vector<double> roundTrips;
  ULONG status = IP_TTL_EXPIRED_TRANSIT;
};

RouteRun Route(const std::vector<HopPlan>& hops, int family = AF_INET) {
  RouteRun run;
  run.family = family;
  for (LONG round = 0; round < static_cast<LONG>(hops.front().roundTrips.size()); ++round) {
    for (LONG ttl = 1; ttl <= static_cast<LONG>(hops.size()); ++ttl) {
      const HopPlan& hop = hops[static_cast<std::size_t>(ttl - 1)];
      RouteProbe probe;
      probe.round = round;
      probe.ttl = ttl;
      probe.sample.sendOffsetMs = round * 100.0;
      const double roundTrip = hop.roundTrips[static_cast<std::size_t>(round)];
      probe.sample.answered = roundTrip >= 0;
      if (probe.sample.answered) {
        probe.sample.roundTripMs = roundTrip;
        probe.answer = EchoAnswer{hop.status, hop.address};
      }
      run.probes.push_back(probe);
    }
  }
  FigureRoute(&run);
  return run;
}

std::vector<double> Steady(double ms, int rounds, int lostEvery = 0) {
  std::vector<double> trips;
  for (int round = 0; round < rounds; ++round) {
    trips.push_back(lostEvery != 0 && round % lostEvery == 0 ? -1 : ms);
  }
  return trips;
}

// Router 2 answers about itself slowly and half the time; a tenth is lost after it, on the path.
TEST(RouteFigures, WhatCarriesOnAndWhatIsTheRoutersOwn) {
  const RouteRun run = Route({{"10.0.0.1", Steady(10, 20)},
                              {"10.0.1.1", Steady(25, 20, 2)},
                              {"10.0.2.1", Steady(12, 20, 10)},
                              {"10.0.3.9", Steady(12.5, 20, 10), IP_SUCCESS}});
  EXPECT_EQ(run.result, 4);
  EXPECT_EQ(run.end, "destination");
  ASSERT_EQ(run.hops.size(), 4u);
  const std::vector<double> loss{0, 0.5, 0.1, 0.1}, forward{0, 0.1, 0.1, 0.1};
  const std::vector<double> added{10, 2, 0, 0.5};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_DOUBLE_EQ(run.hops[i].statistics.loss, loss[i]) << "hop " << i + 1;
    EXPECT_DOUBLE_EQ(run.hops[i].forwardLoss, forward[i]) << "hop " << i + 1;
    EXPECT_DOUBLE_EQ(run.hops[i].addedLatency, added[i]) << "hop " << i + 1;
    EXPECT_EQ(run.hops[i].statistics.sent, 20);
  }
  EXPECT_EQ(run.hops[1].reading,
            "answers slowly and limits its answers, not delay or loss on the path");
  for (const std::size_t i : {0u, 2u, 3u}) EXPECT_EQ(run.hops[i].reading, "") << "hop " << i + 1;
}

// A hop that never answers about itself; paths that split at another; an unreachable end.
TEST(RouteFigures, SilenceSplitsAndUnreachables) {
  HopPlan split{"10.0.1.1", Steady(20, 6)};
  RouteRun run = Route({{"10.0.0.1", Steady(10, 6)},
                        {"", Steady(-1, 6)},
                        split,
                        {"10.0.3.1", Steady(21, 6), IP_DEST_PROT_UNREACHABLE}},
                       AF_INET6);
  EXPECT_EQ(run.result, 4);
  EXPECT_EQ(run.end, "communication prohibited");
  EXPECT_EQ(run.hops[1].address, "");
  EXPECT_EQ(run.hops[1].forwardLoss, 0.0);
  EXPECT_EQ(run.hops[1].addedLatency, 0.0);
  EXPECT_EQ(run.hops[1].reading, "does not answer about itself, not loss on the path");
  EXPECT_EQ(run.hops[2].addedLatency, 10.0);  // over hop 1, the last that answered

  // Two of six answers at hop 3 from another router: the most answers first.
  for (RouteProbe& probe : run.probes) {
    if (probe.ttl == 3 && probe.round >= 4) probe.answer.address = "10.0.9.9";
  }
  FigureRoute(&run);
  EXPECT_EQ(run.hops[2].address, "10.0.1.1");
  ASSERT_EQ(run.hops[2].addresses.size(), 2u);
  EXPECT_EQ(run.hops[2].addresses[1], (std::pair<std::string, LONG>{"10.0.9.9", 2}));
  EXPECT_EQ(run.end, "communication prohibited");
}

// Not reached: the hops up to the last that answered, and ROUTE_NOT_REACHED; nothing answered:
// no hops, and ROUTE_NO_REPLY.
TEST(RouteFigures, NotReachedAndNothingAnswered) {
  const RouteRun unreached =
      Route({{"10.0.0.1", Steady(10, 3)}, {"10.0.1.1", Steady(11, 3)}, {"", Steady(-1, 3)}});
  EXPECT_EQ(unreached.result, ROUTE_NOT_REACHED);
  EXPECT_EQ(unreached.end, "");
  EXPECT_EQ(unreached.hops.size(), 2u);
  const RouteRun silent = Route({{"", Steady(-1, 3)}, {"", Steady(-1, 3)}});
  EXPECT_EQ(silent.result, ROUTE_NO_REPLY);
  EXPECT_TRUE(silent.hops.empty());
}

}  // namespace
}  // namespace telvario
