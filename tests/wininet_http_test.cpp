// WinINet's HTTP calls as the download relies on them, against the tests' HTTP server on
// loopback: the final response's declared length and status, and the time-out options. Both
// builds: the system's WinINet under Wine, ours on posix.
#include <gtest/gtest.h>

#include <string>

#include "windows_api.h"

namespace {

#define TELVARIO_STRINGIFY2(x) #x
#define TELVARIO_STRINGIFY(x) TELVARIO_STRINGIFY2(x)
const std::string kServer = "http://127.0.0.1:" TELVARIO_STRINGIFY(TELVARIO_HTTP_TEST_PORT);

class WininetHttp : public ::testing::Test {
 protected:
  void SetUp() override {
    session_ = InternetOpenA("telvario test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    ASSERT_NE(session_, nullptr);
  }
  void TearDown() override {
    if (url_ != nullptr) InternetCloseHandle(url_);
    InternetCloseHandle(session_);
  }

  HINTERNET Open(const std::string& path) {
    url_ = InternetOpenUrlA(session_, (kServer + path).c_str(), nullptr, 0,
                            INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    return url_;
  }

  // A header as text; "<none>" when the query fails.
  std::string Query(DWORD level) {
    char text[64] = {};
    DWORD size = sizeof text;
    if (!HttpQueryInfoA(url_, level, text, &size, nullptr)) return "<none>";
    EXPECT_EQ(size, std::string(text).size());
    return text;
  }

  HINTERNET session_ = nullptr;
  HINTERNET url_ = nullptr;
};

TEST_F(WininetHttp, TheFinalResponsesLengthAndStatus) {
  ASSERT_NE(Open("/bytes/1234"), nullptr);
  EXPECT_EQ(Query(HTTP_QUERY_CONTENT_LENGTH), "1234");
  EXPECT_EQ(Query(HTTP_QUERY_STATUS_CODE), "200");
  DWORD number = 0;
  DWORD size = sizeof number;
  ASSERT_TRUE(HttpQueryInfoA(url_, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &number,
                             &size, nullptr));
  EXPECT_EQ(number, 1234u);
  InternetCloseHandle(url_);

  // Followed to /bytes/1234: the redirect's own length is not the body's.
  ASSERT_NE(Open("/redirect"), nullptr);
  EXPECT_EQ(Query(HTTP_QUERY_CONTENT_LENGTH), "1234");
  InternetCloseHandle(url_);
  ASSERT_NE(Open("/missing"), nullptr);
  EXPECT_EQ(Query(HTTP_QUERY_STATUS_CODE), "404");
}

TEST_F(WininetHttp, NoLengthDeclaredAndBuffersTooSmall) {
  ASSERT_NE(Open("/bad-chunks"), nullptr);  // chunked: no length
  char text[16];
  DWORD size = sizeof text;
  EXPECT_FALSE(HttpQueryInfoA(url_, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_HEADER_NOT_FOUND));
  InternetCloseHandle(url_);

  ASSERT_NE(Open("/bytes/1000000"), nullptr);
  size = 3;  // "1000000" needs 8 with its NUL
  EXPECT_FALSE(HttpQueryInfoA(url_, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_GE(size, 8u);
}

TEST_F(WininetHttp, TimeOutsAreSetAndReadBack) {
  for (DWORD option : {static_cast<DWORD>(INTERNET_OPTION_CONNECT_TIMEOUT),
                       static_cast<DWORD>(INTERNET_OPTION_SEND_TIMEOUT),
                       static_cast<DWORD>(INTERNET_OPTION_RECEIVE_TIMEOUT)}) {
    DWORD limit = 12345;
    ASSERT_TRUE(InternetSetOptionA(session_, option, &limit, sizeof limit)) << option;
    // Wine's WinINet takes these time-outs on a session but does not give all of them back.
    DWORD read = 0;
    DWORD size = sizeof read;
    if (InternetQueryOptionA(session_, option, &read, &size)) {
      EXPECT_EQ(read, 12345u) << option;
    }
  }
}

}  // namespace
