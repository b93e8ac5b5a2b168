// Routes across the lab's faults (tests/lab/lab.sh), as rows of the fault lab (fault_rows.h): a
// hop that never answers about itself (router 2, about tvl-behind), a router whose answers quote
// a request nobody sent (router 3, about tvl-garbled), a destination that never answers
// (tvl-silent) and one router 3 holds unreachable; IPv6's where this platform's echo service has
// IPv6. Each row is five rounds 50 ms apart, which end within a second of their last answer.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fault_rows.h"
#include "route_test_support.h"

namespace telvario {
namespace {

using testing::RouteSeen;

constexpr double kBound = 4 * 0.05 + 1 + 2;  // the rounds, the last answer limit, a busy machine

// A row: the route to `host`, its result and end, and what `check` asks of its hops.
std::function<void()> RouteCase(const char* name, const char* host, LONG family, LONG result,
                                const char* end, std::function<void(const RouteSeen&)> check) {
  return [=] {
    const DWORD start = GetTickCount();
    const RouteSeen seen = testing::RunRoute(host, 5, 50, family);
    const double seconds = testing::SecondsSince(start);
    testing::Report(name,
                    "Route " + std::to_string(seen.result) + ", " +
                        std::to_string(seen.hops.size()) + " hops" +
                        (seen.end.empty() ? "" : ", " + seen.end),
                    seconds, kBound);
    EXPECT_LE(seconds, kBound) << name;
    if (family == 6 && seen.result == -5) return;  // no IPv6 echo service here
    EXPECT_EQ(seen.result, result) << name << ": " << seen.results;
    EXPECT_EQ(seen.end, end) << name;
    check(seen);
  };
}

// The hop that never answered about itself: no address, all its requests lost, none of that
// carried on, and said so; the route went on past it.
std::function<void(const RouteSeen&)> SilentAt(std::size_t hop, const char* destination) {
  return [=](const RouteSeen& seen) {
    ASSERT_EQ(seen.hops.size(), 4u) << seen.results;
    const testing::HopSeen& silent = seen.hops[hop - 1];
    EXPECT_EQ(silent.address, "");
    EXPECT_EQ(silent.received, 0);
    EXPECT_EQ(silent.loss, 1.0);
    EXPECT_EQ(silent.forwardLoss, 0.0);
    EXPECT_NE(silent.reading.find("not loss on the path"), std::string::npos) << silent.reading;
    EXPECT_EQ(seen.hops[3].address, destination);
    EXPECT_EQ(seen.hops[3].loss, 0.0);
  };
}

std::function<void(const RouteSeen&)> RoutersThenNothing(const char* third) {
  return [=](const RouteSeen& seen) {
    ASSERT_EQ(seen.hops.size(), 3u) << seen.results;
    EXPECT_EQ(seen.hops[2].address, third);
    EXPECT_EQ(seen.hops[2].received, 5);
  };
}

TEST(RouteFaultLab, EveryFaultEndsTheRouteAsItShould) {
  testing::SideBySide({
      RouteCase("route past a silent hop", "10.213.5.10", 4, 4, "destination",
                SilentAt(2, "10.213.5.10")),
      RouteCase("route past garbled quotes", "10.213.6.10", 4, 4, "destination",
                SilentAt(3, "10.213.6.10")),
      RouteCase("route to a silent host", "10.213.4.10", 4, -2, "",
                RoutersThenNothing("10.213.12.2")),
      RouteCase("route6 past a silent hop", "fd13:213:0:5::10", 6, 4, "destination",
                SilentAt(2, "fd13:213:0:5::10")),
      RouteCase("route6 to a silent host", "fd13:213:0:4::10", 6, -2, "",
                RoutersThenNothing("fd13:213:0:12::2")),
      RouteCase("route to an unreachable", "10.213.8.10", 4, 3, "host unreachable",
                RoutersThenNothing("10.213.12.2")),
      RouteCase("route6 to an unreachable", "fd13:213:0:8::10", 6, 3, "no route to the destination",
                RoutersThenNothing("fd13:213:0:12::2")),
  });
}

}  // namespace
}  // namespace telvario
