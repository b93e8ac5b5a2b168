// Sonde2's throughput engine against the download tests' HTTP server on loopback
// (tests/http_test_server.py): several connections for a bounded time each way, the start-up
// left out, and the failures a user meets.
#include <gtest/gtest.h>

#include <string>

#include "responsiveness_probe.h"
#include "results_json.h"
#include "throughput_probe.h"
#include "windows_api.h"

namespace telvario {
namespace {

#define TELVARIO_STRINGIFY2(x) #x
#define TELVARIO_STRINGIFY(x) TELVARIO_STRINGIFY2(x)
const std::string kServer = "http://127.0.0.1:" TELVARIO_STRINGIFY(TELVARIO_HTTP_TEST_PORT);

WebAddress Address(const std::string& url) {
  WebAddress address;
  EXPECT_TRUE(ParseWebAddress(url, &address)) << url;
  return address;
}

ThroughputPlan Plan(const std::string& path, Direction direction, LONG streams) {
  ThroughputPlan plan;
  plan.address = Address(kServer + path);
  plan.direction = direction;
  plan.streams = streams;
  plan.durationSeconds = 2;
  return plan;
}

std::string Fetch(const std::string& path) {
  HINTERNET session = InternetOpenA("test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET file = InternetOpenUrlA(session, (kServer + path).c_str(), nullptr, 0,
                                    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
  std::string body;
  char buffer[256];
  DWORD count = 0;
  while (file != nullptr && InternetReadFile(file, buffer, sizeof buffer, &count) && count > 0) {
    body.append(buffer, count);
  }
  if (file != nullptr) InternetCloseHandle(file);
  InternetCloseHandle(session);
  return body;
}

ULONGLONG Counted(const ThroughputRun& run) {
  ULONGLONG total = 0;
  for (const auto& sample : run.samples) {
    for (const ULONGLONG bytes : sample) total += bytes;
  }
  return total;
}

// What either direction reports: a rate from the bytes after the start-up over the time after
// it, the start-up at least the first second, every connection in every 100 ms sample.
void ExpectARate(const ThroughputRun& run, LONG streams) {
  EXPECT_GT(run.result, 0);
  EXPECT_GE(run.startupSeconds, 1.0);
  EXPECT_LT(run.startupSeconds, run.durationSeconds);
  EXPECT_NEAR(run.elapsed, run.durationSeconds - run.startupSeconds, 1e-9);
  EXPECT_DOUBLE_EQ(run.result, run.bytes * 8 / 1e6 / run.elapsed);
  ASSERT_EQ(run.samples.size(), 20u);
  for (const auto& sample : run.samples) EXPECT_EQ(sample.size(), static_cast<size_t>(streams));
  ASSERT_EQ(run.connections.size(), static_cast<size_t>(streams));
  for (const ConnectionOutcome& connection : run.connections) {
    EXPECT_TRUE(connection.opened);
    EXPECT_FALSE(connection.broke) << connection.failure;
  }
}

TEST(Throughput, DownloadOverSeveralConnections) {
  const ThroughputPlan plan = Plan("/bytes/10000000", Direction::Download, 4);
  const ThroughputRun run = MeasureThroughput(plan);
  ExpectARate(run, 4);
  const std::string json = ThroughputResultsJson(plan, run);
  EXPECT_EQ(json.rfind("{\"measurement\":\"download\"", 0), 0u) << json.substr(0, 80);
  EXPECT_NE(json.find("\"startupSeconds\":1"), std::string::npos);
}

// Only what the server has taken counts: never more than it says it received.
TEST(Throughput, UploadCountsWhatTheServerReceived) {
  const std::string key =
      std::to_string(GetTickCount()) + "-" + std::to_string(GetCurrentThreadId());
  const ThroughputRun run = MeasureThroughput(Plan("/upload/" + key, Direction::Upload, 2));
  ExpectARate(run, 2);
  const ULONGLONG taken = std::stoull(Fetch("/taken/" + key));
  EXPECT_GT(Counted(run), 0u);
  EXPECT_LE(Counted(run), taken);
}

TEST(Throughput, FailuresAUserMeets) {
  // Not http or https: nothing starts.
  ThroughputPlan other = Plan("", Direction::Download, 2);
  other.address = Address("ftp://127.0.0.1/file");
  EXPECT_EQ(MeasureThroughput(other).result, THROUGHPUT_CANNOT_START);
  // Nothing listens on port 9; an error status; a server that takes no uploads.
  ThroughputPlan closed = Plan("", Direction::Download, 2);
  closed.address = Address("http://127.0.0.1:9/");
  EXPECT_EQ(MeasureThroughput(closed).result, THROUGHPUT_NOT_OPENED);
  const ThroughputRun missing = MeasureThroughput(Plan("/missing", Direction::Download, 2));
  EXPECT_EQ(missing.result, THROUGHPUT_NOT_OPENED);
  EXPECT_NE(missing.failure.find("404"), std::string::npos) << missing.failure;
  const ThroughputRun refused = MeasureThroughput(Plan("/no-post", Direction::Upload, 2));
  EXPECT_EQ(refused.result, THROUGHPUT_NOT_OPENED);
  EXPECT_NE(refused.failure.find("405"), std::string::npos) << refused.failure;
  // Every connection breaks in the start-up.
  EXPECT_EQ(MeasureThroughput(Plan("/broken/300000", Direction::Download, 2)).result,
            THROUGHPUT_ALL_BROKE);
}

TEST(Throughput, TheStartUpEndsWhenTheRateSettles) {
  // Steady from the first sample: the first second.
  EXPECT_DOUBLE_EQ(StartupSeconds(std::vector<ULONGLONG>(30, 1000), 3), 1.0);
  // Rising for 2 s, steady after: settled once the later half second is within 10% of the one
  // before (4500 bytes against 5000, at 2.5 s).
  std::vector<ULONGLONG> rising(40, 1000);
  for (std::size_t i = 0; i < 20; ++i) rising[i] = 50 * (i + 1);
  EXPECT_DOUBLE_EQ(StartupSeconds(rising, 4), 2.5);
  // Never settles: the first half.
  std::vector<ULONGLONG> erratic(40);
  for (std::size_t i = 0; i < 40; ++i) erratic[i] = (i / 5) % 2 == 0 ? 100 : 1000;
  EXPECT_DOUBLE_EQ(StartupSeconds(erratic, 4), 2.0);
  // Settling only in the last half second would leave nothing to measure: the first half.
  std::vector<ULONGLONG> late(20, 1000);
  for (std::size_t i = 0; i < 10; ++i) late[i] = 100 * (i + 1);
  EXPECT_DOUBLE_EQ(StartupSeconds(late, 2), 1.0);
}

// Latency under a load of downloads: ten idle echo requests, one at every loaded sample, and
// foreign probes (a handshake and a request each) all along; RPM from the foreign ones.
TEST(Responsiveness, IdleAndLoadedProbesAndRoundTripsPerMinute) {
  WSADATA sockets;  // as every Sonde object starts Windows Sockets for itself
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &sockets), 0);
  ResponsivenessPlan plan;
  plan.address = Address(kServer + "/bytes/10000000");
  plan.streams = 2;
  plan.durationSeconds = 2;
  const ResponsivenessRun run = MeasureResponsiveness(plan);
  EXPECT_GT(run.result, 0) << run.failure;
  EXPECT_EQ(run.result, run.rpm);
  EXPECT_EQ(run.rpm,
            RoundTripsPerMinute(ProbesAfterStartup(run.loadedProbes, run.load.startupSeconds)));
  EXPECT_GT(run.load.result, 0);
  EXPECT_EQ(run.idleProbes.size(), static_cast<std::size_t>(kIdleProbes));
  int echoes = 0, handshakes = 0, requests = 0;
  for (const LatencyProbe& probe : run.loadedProbes) {
    echoes += probe.kind == ProbeKind::Echo;
    handshakes += probe.kind == ProbeKind::Tcp && probe.answered;
    requests += probe.kind == ProbeKind::Http && probe.answered;
  }
  EXPECT_EQ(echoes, 20);  // one at every 100 ms sample
  EXPECT_GT(handshakes, 0);
  EXPECT_GT(requests, 0);
  const std::string json = ResponsivenessResultsJson(plan, run);
  for (const char* part :
       {"\"kind\":\"tcp\"", "\"kind\":\"http\"", "\"phase\":\"idle\"", "\"phase\":\"startup\"",
        "\"phase\":\"loaded\"", "\"startupSeconds\":", "\"samples\":[{\"t\":0.1"}) {
    EXPECT_NE(json.find(part), std::string::npos) << part;
  }
  // The best 95% are kept: of twenty round trips the slowest is left out.
  std::vector<double> times(19, 10.0);
  times.push_back(1000.0);
  EXPECT_DOUBLE_EQ(TrimmedMean(times, 0.95), 10.0);
  EXPECT_DOUBLE_EQ(
      RoundTripsPerMinute({{ProbeKind::Tcp, 0, true, 20}, {ProbeKind::Http, 0, true, 40}}), 2000.0);
  WSACleanup();
}

}  // namespace
}  // namespace telvario
