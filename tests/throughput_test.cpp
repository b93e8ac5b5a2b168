// Sonde2's throughput engine against the download tests' HTTP server on loopback
// (tests/http_test_server.py): several connections for a bounded time each way, the start-up
// left out, and the failures a user meets.
#include <gtest/gtest.h>

#include <string>

#include "responsiveness_probe.h"
#include "results_json.h"
#include "stall_guard.h"
#include "throughput_probe.h"
#include "throughput_streams.h"
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

// A request with the component's network time-outs, which every WinINet applies to a request
// (Wine none to a URL opened whole): a server that never answers fails the test, not hangs it.
std::string Fetch(const std::string& path) {
  HINTERNET session = InternetOpenA("test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  LimitNetworkWaits(session);
  HINTERNET connection = InternetConnectA(session, "127.0.0.1", TELVARIO_HTTP_TEST_PORT, nullptr,
                                          nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  HINTERNET file = connection == nullptr
                       ? nullptr
                       : HttpOpenRequestA(connection, "GET", path.c_str(), nullptr, nullptr,
                                          nullptr, INTERNET_FLAG_RELOAD, 0);
  if (file != nullptr && !HttpSendRequestA(file, nullptr, 0, nullptr, 0)) {
    InternetCloseHandle(file);
    file = nullptr;
  }
  EXPECT_NE(file, nullptr) << path << ": error " << GetLastError();
  std::string body;
  char buffer[256];
  DWORD count = 0;
  while (file != nullptr && InternetReadFile(file, buffer, sizeof buffer, &count) && count > 0) {
    body.append(buffer, count);
  }
  if (file != nullptr) InternetCloseHandle(file);
  if (connection != nullptr) InternetCloseHandle(connection);
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

double SecondsSince(DWORD start) {
  return (GetTickCount() - start) / 1000.0;
}

std::string Key() {
  return std::to_string(GetTickCount()) + "-" + std::to_string(GetCurrentThreadId());
}

// Whatever the server does, a run keeps its time, never floods it, counts a connection for
// each stream, and marks what stalled.
TEST(Throughput, BoundsHoldAndNoServerIsFlooded) {
  // A body without end: the run ends with its time, its downloads closed under their workers.
  DWORD start = GetTickCount();
  const ThroughputRun endless = MeasureThroughput(Plan("/endless", Direction::Download, 4));
  EXPECT_GT(endless.result, 0) << endless.failure;
  EXPECT_LE(SecondsSince(start), 2.5);
  // Every connection stalls after 64 KiB, in the start-up: each marked, its blocked read ended
  // by its time-out.
  ThroughputPlan stalling = Plan("/stall/65536", Direction::Download, 32);
  stalling.durationSeconds = 3;
  start = GetTickCount();
  const ThroughputRun stalled = MeasureThroughput(stalling);
  EXPECT_LE(SecondsSince(start), stalling.durationSeconds + kThroughputStallMs / 1000.0);
  EXPECT_EQ(stalled.result, THROUGHPUT_ALL_BROKE);
  EXPECT_NE(stalled.failure.find("stalled"), std::string::npos) << stalled.failure;
  ASSERT_EQ(stalled.connections.size(), 32u);
  for (const ConnectionOutcome& connection : stalled.connections) {
    EXPECT_TRUE(connection.opened && connection.stalled && connection.broke);
  }
  // Bodies too small to measure a rate: a few requests, then a failure that gives their size.
  const std::string key = Key();
  ThroughputPlan tiny = Plan("/counted/" + key, Direction::Download, 32);
  tiny.durationSeconds = 5;
  const ThroughputRun small = MeasureThroughput(tiny);
  EXPECT_EQ(small.result, THROUGHPUT_TOO_SMALL);
  EXPECT_NE(small.failure.find("(5 bytes;"), std::string::npos) << small.failure;
  EXPECT_LT(small.durationSeconds, 5);
  EXPECT_LE(std::stoi(Fetch("/hits/" + key)), 32 * kMostSmallBodies);
  EXPECT_EQ(MeasureThroughput(Plan("/empty", Direction::Download, 2)).result, THROUGHPUT_TOO_SMALL);
  // Streams are connections of their own, as the server counts them.
  EXPECT_GT(MeasureThroughput(Plan("/peer/" + key + "/1000000000", Direction::Download, 8)).result,
            0);
  EXPECT_EQ(Fetch("/peers/" + key), "8");
}

// Ends a run once it has gone on for `seconds`.
class CancelAfter final : public ThroughputObserver {
 public:
  explicit CancelAfter(double seconds) : seconds_(seconds) {}
  bool KeepGoing(double /*fraction*/, double /*latestMbps*/) override {
    return SecondsSince(start_) < seconds_;
  }

 private:
  double seconds_;
  DWORD start_ = GetTickCount();
};

// A cancel in the start-up ends the run at once with what it measured: the second half of the
// run as it went, every transfer ended, both ways.
TEST(Throughput, ACancelEndsTheRunWithWhatItMeasured) {
  ThroughputPlan plan = Plan("/endless", Direction::Both, 2);
  plan.durationSeconds = 10;
  CancelAfter cancel(1.3);
  const DWORD start = GetTickCount();
  const ThroughputRun run = MeasureThroughput(plan, &cancel);
  EXPECT_LE(SecondsSince(start), 1.3 + 0.1 + kCancelGraceMs / 1000.0);
  EXPECT_TRUE(run.stopped);
  EXPECT_GT(run.result, 0) << run.failure;
  EXPECT_GT(run.bytes, 0);
  EXPECT_FALSE(run.startupSettled && run.startupSeconds > run.durationSeconds);
  EXPECT_NEAR(run.elapsed, run.durationSeconds - run.startupSeconds, 1e-9);
  EXPECT_LT(run.durationSeconds, 2);
}

// Upload bodies count where they went, spread over the time each took; the next body is sized
// to the rate the last went at.
TEST(Throughput, UploadBodiesAreBinnedWhereTheyWent) {
  const LONGLONG second = 1000;  // ticks at a frequency of 1000
  // 1000 bytes over 0.05-0.25 s: a quarter in the first bin, half in the second, a quarter in
  // the third; 7 bytes in 0.31-0.32 s: all in the fourth.
  const std::vector<ULONGLONG> bins =
      BinBodies({{second / 20, second / 4, 1000}, {310, 320, 7}}, 0, second, 5);
  EXPECT_EQ(bins, (std::vector<ULONGLONG>{250, 500, 250, 7, 0}));
  // A body past the last bin counts as far as the bins go.
  EXPECT_EQ(BinBodies({{0, 1000, 100}}, 0, second, 2), (std::vector<ULONGLONG>{10, 10}));
  // 64 KiB in 0.8 s is 80 KiB/s: two seconds' worth, at most four times the last.
  EXPECT_EQ(NextBodySize(64 * 1024, 0.8, 5), 160u * 1024);
  EXPECT_EQ(NextBodySize(64 * 1024, 0.001, 5), 4u * 64 * 1024);
  EXPECT_EQ(NextBodySize(64 * 1024, 10, 5), kFirstBodyBytes);  // never below the first
  EXPECT_EQ(NextBodySize(64 * 1024, 0.1, 0.05), 0u);           // nothing could finish
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
  // The best 95% are kept: of twenty round trips the slowest is left out; of ten, none.
  std::vector<double> times(19, 10.0);
  times.push_back(1000.0);
  EXPECT_DOUBLE_EQ(TrimmedMean(times, 0.95), 10.0);
  EXPECT_DOUBLE_EQ(TrimmedMean({10, 10, 10, 10, 10, 10, 10, 10, 10, 110}, 0.95), 20.0);
  // A name of both families probes the address that takes the load's connections, whatever the
  // resolver lists first: the server listens on IPv4 only.
  ProbeTarget target;
  std::string failure;
  ASSERT_TRUE(
      ResolveTarget(Address("http://localhost:" TELVARIO_STRINGIFY(TELVARIO_HTTP_TEST_PORT) "/"),
                    &target, &failure));
  EXPECT_EQ(target.peer.text, "127.0.0.1");
  EXPECT_DOUBLE_EQ(
      RoundTripsPerMinute({{ProbeKind::Tcp, 0, true, 20}, {ProbeKind::Http, 0, true, 40}}), 2000.0);
  WSACleanup();
}

}  // namespace
}  // namespace telvario
