// A server that takes the request and never answers: ReadURL gives up when the response has
// stalled for WinINet's receive time-out, a minute, and never hangs.
#include <gtest/gtest.h>

#include <string>

#include "sonde_probe.h"
#include "test_strings.h"

namespace telvario {
namespace {

#define TELVARIO_STRINGIFY2(x) #x
#define TELVARIO_STRINGIFY(x) TELVARIO_STRINGIFY2(x)

TEST(ReadUrlTimeout, ServerThatNeverAnswersGivesMinusTwoAfterAMinute) {
  const std::string url = "http://127.0.0.1:" TELVARIO_STRINGIFY(TELVARIO_HTTP_TEST_PORT) "/silent";
  const testing::TestBstr text(url);
  SondeProbe sonde;
  const DWORD start = GetTickCount();
  float rate = 0;
  EXPECT_EQ(sonde.get_ReadURL(text.Get(), &rate), S_OK);
  const DWORD waited = GetTickCount() - start;
  EXPECT_EQ(rate, -2.0f);
  EXPECT_GE(waited, 55000u);  // it waited for the server, as WinINet does
  EXPECT_LE(waited, 75000u);  // and not for ever
  std::printf("a user waits %.1f s for a server that never answers\n", waited / 1000.0);
}

// The limit is the one set on the session, whatever it is.
TEST(ReadUrlTimeout, TheSessionsReceiveTimeOutIsHonoured) {
  HINTERNET session = InternetOpenA("test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  DWORD limit = 2000;
  ASSERT_TRUE(InternetSetOptionA(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &limit, sizeof limit));
  const std::string url = "http://127.0.0.1:" TELVARIO_STRINGIFY(TELVARIO_HTTP_TEST_PORT) "/silent";
  const DWORD start = GetTickCount();
  EXPECT_EQ(InternetOpenUrlA(session, url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
  const DWORD waited = GetTickCount() - start;
  EXPECT_GE(waited, 1500u);
  EXPECT_LE(waited, 10000u);
  InternetCloseHandle(session);
}

}  // namespace
}  // namespace telvario
