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
  std::printf("a user waits %.1f s for a server that never answers\n", waited / 1000.0);
}

}  // namespace
}  // namespace telvario
