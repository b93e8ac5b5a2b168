// Every kind of Results record, written by the component's own writer and read back by the
// client's reader: what the one writes, the other takes, figure for figure.
#include <gtest/gtest.h>

#include "results_json.h"
#include "route_probe.h"
#include "route_table.h"
#include "run_results.h"
#include "web_address.h"

namespace {

using telvario::cli::ReadRunResults;
using telvario::cli::RunResults;

telvario::ThroughputRun ARun() {
  telvario::ThroughputRun run;
  run.result = 812.25;
  run.bytes = 304593750;
  run.elapsed = 3;
  run.startupSeconds = 1;
  run.durationSeconds = 4;
  run.samples = {{1000, 2000}, {3000, 4000}};
  telvario::ConnectionOutcome broke;
  broke.opened = true;
  broke.broke = true;
  broke.stalled = true;
  broke.endedAt = 0.2;
  broke.failure = "the connection broke";
  telvario::ConnectionOutcome whole;
  whole.download = false;
  whole.opened = true;
  run.connections = {broke, whole};
  return run;
}

void ExpectTransfer(const telvario::cli::TransferRecord& read, const telvario::ThroughputRun& run) {
  EXPECT_EQ(read.bytes, run.bytes);
  EXPECT_EQ(read.elapsed, run.elapsed);
  EXPECT_EQ(read.startupSeconds, run.startupSeconds);
  ASSERT_EQ(read.connections.size(), 2u);
  EXPECT_TRUE(read.connections[0].broke && read.connections[0].opened &&
              read.connections[0].stalled);
  EXPECT_FALSE(read.connections[1].stalled);
  EXPECT_EQ(read.connections[0].direction, "download");
  EXPECT_EQ(read.connections[1].direction, "upload");
  EXPECT_EQ(read.connections[0].endedAt, 0.2);
  EXPECT_EQ(read.connections[0].failure, "the connection broke");
  ASSERT_EQ(read.samples.size(), 2u);
  EXPECT_DOUBLE_EQ(read.samples[1].t, 0.2);
  EXPECT_EQ(read.samples[1].bytes, 7000);
  EXPECT_EQ(read.samples[1].connections, (std::vector<double>{3000, 4000}));
}

TEST(CliResultsRoundTrip, Latency) {
  telvario::LatencyPlan plan;
  plan.host = "echo.example \"quoted\"";
  plan.probes = 3;
  telvario::LatencyRun run;
  run.result = 40.25;
  run.peer = "10.0.0.1";
  run.samples = {{0, true, 40.25}, {100, false, 0}, {200, true, 41.5}};
  run.statistics = telvario::Summarize(run.samples);
  run.stopped = true;
  const RunResults read = ReadRunResults(telvario::LatencyResultsJson(plan, run), 0);
  ASSERT_NE(read.Latency(), nullptr) << read.problem;
  const auto& latency = *read.Latency();
  EXPECT_EQ(latency.host, plan.host);
  EXPECT_EQ(latency.peer, "10.0.0.1");
  EXPECT_EQ(latency.probes, 3);
  EXPECT_EQ(latency.outcome.result, 40.25);
  EXPECT_TRUE(latency.outcome.cancelled);
  EXPECT_EQ(latency.sent, 3);
  EXPECT_EQ(latency.received, 2);
  EXPECT_NEAR(*latency.loss, 1.0 / 3, 1e-3);
  EXPECT_EQ(latency.median, run.statistics.median);
  EXPECT_EQ(latency.max, 41.5);
  ASSERT_EQ(latency.samples.size(), 3u);
  EXPECT_FALSE(latency.samples[1].rttMs.has_value());
  EXPECT_EQ(latency.samples[2].rttMs, 41.5);
}

TEST(CliResultsRoundTrip, DownloadUploadAndLoad) {
  const telvario::ThroughputRun run = ARun();
  for (const auto direction :
       {telvario::Direction::Download, telvario::Direction::Upload, telvario::Direction::Both}) {
    telvario::ThroughputPlan plan{{}, direction, 2, 4};
    ASSERT_TRUE(telvario::ParseWebAddress("http://u:pw@server/x", &plan.address));
    const RunResults read = ReadRunResults(telvario::ThroughputResultsJson(plan, run), 0);
    ASSERT_NE(read.Transfer(), nullptr) << read.problem;
    const auto& transfer = *read.Transfer();
    EXPECT_EQ(transfer.measurement, direction == telvario::Direction::Download ? "download"
                                    : direction == telvario::Direction::Upload ? "upload"
                                                                               : "load");
    EXPECT_EQ(transfer.url, "http://server/x");
    EXPECT_EQ(transfer.streams, 2);
    EXPECT_EQ(transfer.durationSeconds, 4);
    EXPECT_EQ(transfer.outcome.result, 812.25);
    ExpectTransfer(transfer, run);
  }
}

TEST(CliResultsRoundTrip, Responsiveness) {
  telvario::ResponsivenessPlan plan;
  ASSERT_TRUE(telvario::ParseWebAddress("http://server/bytes/1", &plan.address));
  plan.streams = 1;
  plan.withUpload = true;
  telvario::ResponsivenessRun run;
  run.result = run.rpm = 1500;
  run.idleLatencyMs = 5.5;
  run.loadedLatencyMs = 20;
  run.loadedLatencyP90Ms = 30;
  run.idleProbes = {{telvario::ProbeKind::Echo, 0, true, 5.5}};
  run.loadedProbes = {{telvario::ProbeKind::Echo, 2, true, 20},
                      {telvario::ProbeKind::Http, 2.5, false, 0}};
  run.load = ARun();
  const RunResults read = ReadRunResults(telvario::ResponsivenessResultsJson(plan, run), 0);
  ASSERT_NE(read.Responsiveness(), nullptr) << read.problem;
  const auto& responsiveness = *read.Responsiveness();
  EXPECT_EQ(responsiveness.url, "http://server/bytes/1");
  EXPECT_TRUE(responsiveness.upload);
  EXPECT_EQ(responsiveness.rpm, 1500);
  EXPECT_EQ(responsiveness.idleLatency, 5.5);
  EXPECT_EQ(responsiveness.loadedLatency, 20);
  EXPECT_EQ(responsiveness.loadedLatencyP90, 30);
  EXPECT_EQ(responsiveness.throughput, 812.25);
  ASSERT_EQ(responsiveness.probes.size(), 3u);
  EXPECT_EQ(responsiveness.probes[0].phase, "idle");
  EXPECT_EQ(responsiveness.probes[2].kind, "http");
  EXPECT_FALSE(responsiveness.probes[2].rttMs.has_value());
  ExpectTransfer(responsiveness.load, run.load);
  // Both connections, one of each direction, opened: neither direction failed.
  EXPECT_TRUE(read.Succeeded());

  run.load.uploadFailure = "the server answered with status 405";
  const RunResults halfLoad = ReadRunResults(telvario::ResponsivenessResultsJson(plan, run), 0);
  ASSERT_NE(halfLoad.Responsiveness(), nullptr) << halfLoad.problem;
  EXPECT_EQ(halfLoad.Responsiveness()->uploadFailure, run.load.uploadFailure);
  EXPECT_FALSE(halfLoad.Succeeded());
}

// A route's hops, one silent and one reached by two addresses, read back and laid out as the
// client's table.
TEST(CliResultsRoundTrip, Route) {
  telvario::RoutePlan plan;
  plan.host = "far.example";
  plan.probes = 3;
  plan.maxHops = 8;
  telvario::RouteRun run;
  run.result = 2;
  run.peer = "10.0.0.2";
  run.end = "destination";
  telvario::HopFigures silent;
  silent.hop = 1;
  silent.statistics = telvario::Summarize({{0, false, 0}, {100, false, 0}, {200, false, 0}});
  silent.reading = "does not answer about itself, not loss on the path";
  telvario::HopFigures reached;
  reached.hop = 2;
  reached.address = "10.0.0.2";
  reached.addresses = {{"10.0.0.2", 2}, {"10.0.0.9", 1}};
  reached.name = "far.example";
  reached.statistics = telvario::Summarize({{0, true, 40.5}, {100, true, 41.5}, {200, true, 40}});
  reached.lastMs = 40;
  reached.addedLatency = 40.5;
  run.hops = {silent, reached};
  const RunResults read = ReadRunResults(telvario::RouteResultsJson(plan, run), 0);
  ASSERT_NE(read.Route(), nullptr) << read.problem;
  const auto& route = *read.Route();
  EXPECT_EQ(read.Target(), "far.example");
  EXPECT_EQ(route.peer, "10.0.0.2");
  EXPECT_EQ(route.maxHops, 8);
  EXPECT_EQ(route.end, "destination");
  EXPECT_TRUE(read.Succeeded());
  ASSERT_EQ(route.hops.size(), 2u);
  EXPECT_EQ(route.hops[0].loss, 1);
  EXPECT_FALSE(route.hops[0].median.has_value());
  EXPECT_EQ(route.hops[0].reading, silent.reading);
  EXPECT_EQ(route.hops[1].addresses, (std::vector<std::string>{"10.0.0.2", "10.0.0.9"}));
  EXPECT_EQ(route.hops[1].median, 40.5);
  EXPECT_EQ(route.hops[1].last, 40);
  EXPECT_EQ(route.hops[1].addedLatency, 40.5);

  const std::vector<std::string> lines = telvario::cli::RouteTableLines(route.hops);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].substr(0, 16), "  1  (no answer)");
  EXPECT_NE(lines[1].find("100.0%"), std::string::npos);
  EXPECT_NE(lines[1].find(silent.reading), std::string::npos);
  EXPECT_EQ(lines[2].find("  2  far.example (10.0.0.2) +1"), 0u) << lines[2];
  // Every figure under its heading: the columns line up.
  EXPECT_EQ(lines[0].find("Median") + 6, lines[2].find("40.5") + 4) << lines[0] << "\n" << lines[2];
  for (const std::string& line : telvario::cli::RouteTableLines(route.hops, 40)) {
    EXPECT_LE(line.size(), 40u);
  }
}

// A run that could not start for its address: what it says, and no figure.
TEST(CliResultsRoundTrip, Refused) {
  for (const char* measurement : {"download", "upload", "responsiveness"}) {
    const RunResults read = ReadRunResults(
        telvario::RefusedResultsJson(measurement, "ftp://u:pw@host/x", -1, "not http"), 0);
    ASSERT_NE(read.Outcome(), nullptr) << measurement << ": " << read.problem;
    EXPECT_EQ(read.measurement, measurement);
    EXPECT_EQ(read.Outcome()->result, -1);
    EXPECT_EQ(read.Outcome()->failure, "not http");
    EXPECT_EQ(read.Target().find("pw"), std::string::npos) << read.Target();
    EXPECT_FALSE(read.Succeeded());
  }
  // An upload the consent refused: 0, and why; no rate.
  const RunResults refused = ReadRunResults(
      telvario::RefusedResultsJson("upload", "http://host/up", 0, "the upload was not confirmed"),
      0);
  ASSERT_NE(refused.Transfer(), nullptr) << refused.problem;
  EXPECT_FALSE(refused.Transfer()->Measured());
  EXPECT_FALSE(refused.Succeeded());
}

}  // namespace
