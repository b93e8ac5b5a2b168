// What the posix WinINet layer adds to the FTP calls: a login that stops when its session is
// closed from another thread, and names that cannot carry a second command.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "windows_api.h"

namespace {

TEST(WininetFtpPosix, ClosingTheSessionCancelsALoginInProgress) {
  HINTERNET session =
      InternetOpenA("telvario test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  ASSERT_NE(session, nullptr);
  HINTERNET connection = reinterpret_cast<HINTERNET>(1);
  DWORD error = 0;
  const auto start = std::chrono::steady_clock::now();
  std::thread login([&] {
    // 127.0.0.9 never answers: the login would wait for the connection time-out.
    connection =
        InternetConnectA(session, "127.0.0.9", 0, nullptr, nullptr, INTERNET_SERVICE_FTP, 0, 0);
    error = GetLastError();
  });
  Sleep(300);
  EXPECT_TRUE(InternetCloseHandle(session));
  login.join();
  EXPECT_EQ(connection, nullptr);
  EXPECT_EQ(error, ERROR_INTERNET_OPERATION_CANCELLED);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(WininetFtpPosix, NamesWithLineBreaksAreRefused) {
  HINTERNET session =
      InternetOpenA("telvario test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  EXPECT_EQ(InternetConnectA(session, "127.0.0.1\r\nQUIT", 0, nullptr, nullptr,
                             INTERNET_SERVICE_FTP, 0, 0),
            nullptr);
  HINTERNET connection =
      InternetConnectA(session, "127.0.0.1", 0, nullptr, nullptr, INTERNET_SERVICE_FTP, 0, 0);
  ASSERT_NE(connection, nullptr);
  EXPECT_EQ(FtpOpenFileA(connection, "/temp/a.tmp\r\nDELE /temp/b", GENERIC_WRITE, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(FtpDeleteFileA(connection, "/temp/a.tmp\nRMD /temp"));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  InternetCloseHandle(session);
}

}  // namespace
