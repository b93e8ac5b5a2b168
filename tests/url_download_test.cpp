// ReadURL against a real HTTP server on loopback (tests/http_test_server.py).
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "sonde_probe.h"
#include "test_strings.h"
#include "url_download.h"

namespace telvario {
namespace {

#define TELVARIO_STRINGIFY2(x) #x
#define TELVARIO_STRINGIFY(x) TELVARIO_STRINGIFY2(x)
const std::string kServer = "http://127.0.0.1:" TELVARIO_STRINGIFY(TELVARIO_HTTP_TEST_PORT);

using Url = testing::TestBstr;

struct Results {
  float rate;
  LONG dataRead;
  double elapsed;
};

Results ReadUrl(SondeProbe& sonde, BSTR url) {
  Results results{};
  EXPECT_EQ(sonde.get_ReadURL(url, &results.rate), S_OK);
  sonde.get_DataRead(&results.dataRead);
  sonde.get_ElapsedTime(&results.elapsed);
  return results;
}

Results ReadPath(SondeProbe& sonde, const std::string& path) {
  return ReadUrl(sonde, Url(kServer + path).Get());
}

// A path of the server opened with the platform's own client, and read to its end: the body,
// and whether the client called the transfer a failure, in opening or in reading. (Wine's
// WinINet takes a dropped connection or bad chunking for the end of the body; without a
// declared length to hold the body to, its word stands.)
struct Transfer {
  std::string body;
  bool failed = false;
};

Transfer Fetch(const std::string& path) {
  HINTERNET session = InternetOpenA("test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET file = InternetOpenUrlA(session, (kServer + path).c_str(), nullptr, 0,
                                    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
  Transfer transfer;
  transfer.failed = file == nullptr;
  char buffer[4096];
  DWORD count = 1;
  while (!transfer.failed && count > 0) {
    transfer.failed = !InternetReadFile(file, buffer, sizeof buffer, &count);
    if (!transfer.failed) transfer.body.append(buffer, count);
  }
  if (file != nullptr) InternetCloseHandle(file);
  InternetCloseHandle(session);
  return transfer;
}

#define SKIP_UNLESS_PLATFORM_FAILS_ON(path)                                        \
  if (!Fetch(path).failed) {                                                       \
    GTEST_SKIP() << "this system's WinINet does not report " path " as a failure"; \
  }

TEST(ReadUrl, MeasuresTheWholeBody) {
  SondeProbe sonde;
  const Results results = ReadPath(sonde, "/bytes/1000000");
  EXPECT_EQ(results.dataRead, 1000000);
  EXPECT_GT(results.elapsed, 0.0);
  EXPECT_EQ(results.rate, DownloadRate(1000000, results.elapsed));
  EXPECT_EQ(sonde.State().readRate, results.rate);
}

TEST(ReadUrl, RateIsKilobitsPerSecondFromTheWholeCount) {
  EXPECT_EQ(DownloadRate(1000000, 2.0), 4000.0f);
  // Five gigabytes in ten seconds: the count is past 32 bits, the rate must not wrap.
  EXPECT_EQ(DownloadRate(5000000000ULL, 10.0), 4000000.0f);
}

// From 2 GiB on, DataRead shows the count as a signed 32-bit number, negative, while the rate
// is computed from the whole count.
TEST(ReadUrl, TwoGibibytesOrMoreReadAsANegativeDataRead) {
  SondeProbe sonde;
  const ULONGLONG size = (1ULL << 31) + 4096;
  const Results results = ReadPath(sonde, "/bytes/" + std::to_string(size));
  EXPECT_EQ(results.dataRead, static_cast<LONG>(static_cast<DWORD>(size)));
  EXPECT_LT(results.dataRead, 0);
  EXPECT_EQ(results.rate, DownloadRate(size, results.elapsed));
  EXPECT_GT(results.rate, 0.0f);
}

TEST(ReadUrl, EmptyBodyGivesZeroWithTheElapsedTime) {
  SondeProbe sonde;
  const Results results = ReadPath(sonde, "/empty");
  EXPECT_EQ(results.rate, 0.0f);
  EXPECT_EQ(results.dataRead, 0);
  EXPECT_GE(results.elapsed, 0.0);
}

TEST(ReadUrl, NullOrEmptyUrlGivesMinusTwoAndKeepsTheLastResults) {
  SondeProbe sonde;
  EXPECT_EQ(ReadUrl(sonde, nullptr).rate, -2.0f);
  EXPECT_EQ(ReadUrl(sonde, nullptr).dataRead, 0);

  const Results good = ReadPath(sonde, "/bytes/5000");
  Url empty("");
  const Results afterEmpty = ReadUrl(sonde, empty.Get());
  EXPECT_EQ(afterEmpty.rate, -2.0f);
  EXPECT_EQ(afterEmpty.dataRead, 5000);
  EXPECT_EQ(afterEmpty.elapsed, good.elapsed);
  EXPECT_EQ(ReadUrl(sonde, nullptr).dataRead, 5000);
  EXPECT_EQ(sonde.State().readRate, good.rate);
}

// The body comes short of its declared length: a failure whatever the platform says of it.
TEST(ReadUrl, BrokenConnectionDiscardsEverything) {
  SondeProbe sonde;
  ReadPath(sonde, "/bytes/5000");
  const Results results = ReadPath(sonde, "/broken/50000");
  EXPECT_EQ(results.rate, 0.0f);
  EXPECT_EQ(results.dataRead, 0);
  EXPECT_EQ(results.elapsed, 0.0);
}

TEST(ReadUrl, BadChunkingIsABrokenTransfer) {
  SKIP_UNLESS_PLATFORM_FAILS_ON("/bad-chunks");
  SondeProbe sonde;
  ReadPath(sonde, "/bytes/5000");
  const Results results = ReadPath(sonde, "/bad-chunks");
  EXPECT_EQ(results.rate, 0.0f);
  EXPECT_EQ(results.dataRead, 0);
}

TEST(ReadUrl, EveryCallFetchesFromTheServer) {
  SondeProbe sonde;
  const std::string key =
      std::to_string(GetTickCount()) + "-" + std::to_string(GetCurrentThreadId());
  ReadPath(sonde, "/counted/" + key);
  ReadPath(sonde, "/counted/" + key);
  EXPECT_EQ(Fetch("/hits/" + key).body, "2");
}

TEST(ReadUrl, FollowsRedirectsAndMeasuresErrorPages) {
  SondeProbe sonde;
  EXPECT_EQ(ReadPath(sonde, "/redirect").dataRead, 1234);
  EXPECT_EQ(ReadPath(sonde, "/missing").dataRead, 8);
}

std::string UniqueKey() {
  return std::to_string(GetTickCount()) + "-" + std::to_string(GetCurrentThreadId());
}

// The component follows redirects itself, the same way on every platform: twenty at most, to
// http or https only, each hop's own body not counted. Anything else fails the open (-2) and
// keeps the last results.
TEST(ReadUrl, RedirectsFollowedTheSameWayOnEveryPlatform) {
  SondeProbe sonde;
  EXPECT_EQ(ReadPath(sonde, "/chain/20").dataRead, 1234);
  EXPECT_EQ(ReadPath(sonde, "/chain/21").rate, -2.0f);
  EXPECT_EQ(ReadPath(sonde, "/redirect-to?ftp://127.0.0.1/file").rate, -2.0f);
  EXPECT_EQ(ReadPath(sonde, "/redirect-to?file:///etc/hosts").rate, -2.0f);
  EXPECT_EQ(ReadPath(sonde, "/redirect-to?//127.0.0.1:" TELVARIO_STRINGIFY(
                                TELVARIO_HTTP_TEST_PORT) "/bytes/77")
                .dataRead,
            77);
  EXPECT_EQ(sonde.State().dataRead, 77);

  // A redirect to itself ends at once, and nothing is asked of the server after it has.
  const std::string key = UniqueKey();
  const DWORD start = GetTickCount();
  EXPECT_EQ(ReadPath(sonde, "/loop/" + key).rate, -2.0f);
  EXPECT_LT(GetTickCount() - start, 1000u);
  const std::string asked = Fetch("/hits/" + key).body;
  EXPECT_EQ(asked, std::to_string(kMostRedirects + 1));
  Sleep(1500);
  EXPECT_EQ(Fetch("/hits/" + key).body, asked);
}

// An address that cannot be fetched fails before anything is sent: a port past 65535 must not
// wrap round to another (this server's, here).
TEST(ReadUrl, AddressesAreCheckedBeforeAnythingIsSent) {
  SondeProbe sonde;
  const std::string key = UniqueKey();
  const std::string wrapped =
      "http://127.0.0.1:" + std::to_string(TELVARIO_HTTP_TEST_PORT + 65536) + "/counted/" + key;
  for (const std::string& url :
       {wrapped, std::string("http://127.0.0.1:0/"), std::string("http:///bytes/5"),
        std::string("http://:80/"), std::string("file:///etc/hosts"), std::string("gopher://h/")}) {
    EXPECT_EQ(ReadUrl(sonde, Url(url).Get()).rate, -2.0f) << url;
  }
  EXPECT_EQ(Fetch("/hits/" + key).body, "0");
}

// The declared length is the body: what a server sends past it is not counted.
TEST(ReadUrl, BytesPastTheDeclaredLengthAreNotTheBody) {
  SondeProbe sonde;
  const Results results = ReadPath(sonde, "/longer/100000");
  EXPECT_EQ(results.dataRead, 100000);
  EXPECT_EQ(results.rate, DownloadRate(100000, results.elapsed));
}

TEST(ReadUrl, UrlsThatCannotBeOpenedGiveMinusTwo) {
  SondeProbe sonde;
  EXPECT_EQ(ReadUrl(sonde, Url("gopher://127.0.0.1/").Get()).rate, -2.0f);
  EXPECT_EQ(ReadUrl(sonde, Url("not a url").Get()).rate, -2.0f);
  // Nothing listens on port 9 of loopback.
  EXPECT_EQ(ReadUrl(sonde, Url("http://127.0.0.1:9/").Get()).rate, -2.0f);
  EXPECT_EQ(sonde.State().dataRead, 0);
}

TEST(ReadUrl, ServerThatClosesWithoutAnsweringGivesMinusTwo) {
  SKIP_UNLESS_PLATFORM_FAILS_ON("/close");
  SondeProbe sonde;
  EXPECT_EQ(ReadUrl(sonde, Url(kServer + "/close").Get()).rate, -2.0f);
}

TEST(ReadUrl, TwoObjectsOnTwoThreadsKeepTheirOwnResults) {
  LONG first = -1, second = -1;
  std::thread a([&] {
    SondeProbe sonde;
    first = ReadPath(sonde, "/bytes/3000000").dataRead;
  });
  std::thread b([&] {
    SondeProbe sonde;
    second = ReadPath(sonde, "/bytes/700000").dataRead;
  });
  a.join();
  b.join();
  EXPECT_EQ(first, 3000000);
  EXPECT_EQ(second, 700000);
}

}  // namespace
}  // namespace telvario
