// Sonde2's throughput and responsiveness across the lab's 40 ms path, from inside tvl-client, to
// tvl-host's HTTP server (tests/lab/lab.sh): both directions over two connections, and the
// latency of the path idle and under the load.
#include <gtest/gtest.h>

#include <string>

#include "responsiveness_probe.h"
#include "sonde_probe.h"
#include "throughput_probe.h"

namespace telvario {
namespace {

const std::string kServer = "http://10.213.3.10:8080";

TEST(LabThroughput, BothDirectionsAndTheLatencyUnderTheLoad) {
  const SondeProbe sockets;  // Windows Sockets, as a Sonde2 object starts it
  ThroughputPlan plan;
  ParseWebAddress(kServer + "/bytes/20000000", &plan.address);
  plan.streams = 2;
  plan.durationSeconds = 3;
  const ThroughputRun download = MeasureThroughput(plan);
  EXPECT_GT(download.result, 0) << download.failure;
  ParseWebAddress(kServer + "/upload", &plan.address);
  plan.direction = Direction::Upload;
  const ThroughputRun upload = MeasureThroughput(plan);
  EXPECT_GT(upload.result, 0) << upload.failure;

  ResponsivenessPlan loaded;
  ParseWebAddress(kServer + "/bytes/20000000", &loaded.address);
  loaded.streams = 2;
  loaded.durationSeconds = 3;
  const ResponsivenessRun run = MeasureResponsiveness(loaded);
  EXPECT_GT(run.rpm, 0) << run.failure;
  // Every round trip crosses router 1's 40 ms; a handshake and a request each take one.
  EXPECT_GE(run.idleLatencyMs, 40.0);
  EXPECT_LE(run.idleLatencyMs, 45.0);
  EXPECT_GE(run.loadedLatencyMs, 40.0);
  EXPECT_LE(run.rpm, 60000.0 / 40.0);
}

}  // namespace
}  // namespace telvario
