// Every guarded step given up, in seconds: the component's limits shortened, against servers of
// the fault lab (tests/lab/fault_lab.sh) that hold their faults for 3 s only. Each case checks
// the caller is back within its bound with the result of that step, that the file it may have
// left is gone, and that its worker ends by itself once the server lets go; then the cap on
// workers left running, and measurements that work afterwards in the same process.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ftp_upload.h"
#include "sonde_probe.h"
#include "stall_guard.h"
#include "test_strings.h"

namespace telvario {
namespace {

namespace fs = std::filesystem;

double SecondsSince(DWORD start) {
  return (GetTickCount() - start) / 1000.0;
}

// Waits until no worker is left running, as a server that let go allows.
bool WorkersEnded(DWORD withinMs) {
  const DWORD start = GetTickCount();
  while (AbandonedWorkers() > 0) {
    if (GetTickCount() - start > withinMs) return false;
    Sleep(100);
  }
  return true;
}

float ReadUrl(const std::string& url) {
  SondeProbe sonde;
  const testing::TestBstr text(url);
  float rate = 0;
  EXPECT_EQ(sonde.get_ReadURL(text.Get(), &rate), S_OK);
  return rate;
}

bool NoFilesLeft(const char* server) {
  std::error_code ignored;
  const fs::path temp = fs::path(TELVARIO_FAULT_STATE) / "root-short" / server / "temp";
  return fs::directory_iterator(temp, ignored) == fs::directory_iterator();
}

class GuardGiveUp : public ::testing::Test {
 protected:
  void SetUp() override { Shorten(500); }
  void TearDown() override { SetGuardLimitsForTesting(GuardLimits{}); }

  // Cases whose subject is not a stall take a longer stall limit: a loaded machine can hold
  // the test server back for half a second, and their writes would then stall for real.
  static void Shorten(DWORD stallMs) {
    GuardLimits shortened;
    shortened.stallMs = stallMs;
    shortened.graceMs = 500;
    shortened.cleanupMs = 1000;
    SetGuardLimitsForTesting(shortened);
  }

  // A case: its result, then its bound, then the worker it left gone once the server has let
  // go (held 3 s), nothing left on the server.
  template <typename Call>
  void Case(const char* name, Call call, double bound, const char* server = nullptr) {
    const DWORD start = GetTickCount();
    call();
    const double seconds = SecondsSince(start);
    std::printf("%-32s %5.1f s (bound %.0f s)\n", name, seconds, bound);
    EXPECT_LE(seconds, bound) << name;
    EXPECT_TRUE(WorkersEnded(8000)) << name;
    if (server != nullptr) {
      EXPECT_TRUE(NoFilesLeft(server)) << name;
    }
  }
};

TEST_F(GuardGiveUp, EveryStepGivenUpAndAMeasurementWorksAfterwards) {
  Case(
      "open of a silent server", [] { EXPECT_EQ(ReadUrl("http://127.0.0.1:18311/"), -2.0f); }, 3);
  Case(
      "read that stalls", [] { EXPECT_EQ(ReadUrl("http://127.0.0.1:18312/"), 0.0f); }, 3);
  Case(
      "read under 4 KiB a stall time", [] { EXPECT_EQ(ReadUrl("http://127.0.0.1:18313/"), 0.0f); },
      3);
  Case(
      "login without a greeting",
      [] { EXPECT_EQ(RunUploadTest("127.0.0.21"), UPLOAD_NOT_CONNECTED); },
      kUploadConnectLimitMs / 1000.0 + 1);
  Case(
      "STOR unanswered", [] { EXPECT_EQ(RunUploadTest("127.0.0.22"), UPLOAD_FILE_REFUSED); }, 3,
      "silent-stor");
  Case(
      "writes that stall", [] { EXPECT_EQ(RunUploadTest("127.0.0.23"), UPLOAD_WRITE_FAILED); }, 4,
      "stalling");
  Case(
      "writes at 1 KiB/s", [] { EXPECT_EQ(RunUploadTest("127.0.0.24"), UPLOAD_WRITE_FAILED); }, 4,
      "slow-reader");
  Shorten(3000);
  Case(
      "close never confirmed", [] { EXPECT_EQ(RunUploadTest("127.0.0.25"), UPLOAD_WRITE_FAILED); },
      9, "no-226");
  Case(
      "DELE unanswered", [] { EXPECT_GT(RunUploadTest("127.0.0.26"), 0); }, 10, "busy-dele");

  // Workers left running are capped: past the cap a measurement fails at once, and once they
  // have ended, measuring works again.
  Shorten(500);
  std::vector<std::thread> stuck;
  for (LONG i = 0; i < kMostAbandonedWorkers; ++i) {
    stuck.emplace_back([] { EXPECT_EQ(ReadUrl("http://127.0.0.1:18311/"), -2.0f); });
  }
  for (std::thread& thread : stuck) thread.join();
  EXPECT_EQ(AbandonedWorkers(), kMostAbandonedWorkers);
  const DWORD start = GetTickCount();
  EXPECT_EQ(ReadUrl("http://127.0.0.1:18300/bytes/1000"), -2.0f);
  EXPECT_EQ(RunUploadTest("127.0.0.26"), UPLOAD_NOT_CONNECTED);
  EXPECT_LT(SecondsSince(start), 0.5);
  EXPECT_TRUE(WorkersEnded(8000));
  EXPECT_GT(ReadUrl("http://127.0.0.1:18300/bytes/1000"), 0.0f);
}

}  // namespace
}  // namespace telvario
