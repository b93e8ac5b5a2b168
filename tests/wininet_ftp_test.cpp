// WinINet's FTP calls as the upload relies on them, against the servers of the tests' namespace
// (tests/lab/ftp_lab.sh): both builds.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "windows_api.h"

namespace {

using std::string_literals::operator""s;

class WininetFtp : public ::testing::Test {
 protected:
  void SetUp() override {
    session_ = InternetOpenA("telvario test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    ASSERT_NE(session_, nullptr);
  }
  void TearDown() override { InternetCloseHandle(session_); }

  HINTERNET Connect(const char* server) {
    return InternetConnectA(session_, server, INTERNET_INVALID_PORT_NUMBER, nullptr, nullptr,
                            INTERNET_SERVICE_FTP, 0, 0);
  }

  HINTERNET session_ = nullptr;
};

TEST_F(WininetFtp, WritesReportWhatWasAcceptedAndTheFileHoldsIt) {
  HINTERNET connection = Connect("127.0.0.1");
  ASSERT_NE(connection, nullptr);
  HINTERNET file =
      FtpOpenFileA(connection, "/temp/wininet.tmp", GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0);
  ASSERT_NE(file, nullptr);
  const std::string data = "line one\r\nline two\n\0binary"s;
  DWORD written = 0;
  EXPECT_TRUE(InternetWriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written));
  EXPECT_EQ(written, data.size());
  EXPECT_TRUE(InternetWriteFile(file, data.data(), 0, &written));  // nothing, and no harm
  EXPECT_EQ(written, 0u);
  // Nothing else may run on the connection while the file is open.
  EXPECT_FALSE(FtpDeleteFileA(connection, "/temp/wininet.tmp"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FTP_TRANSFER_IN_PROGRESS));
  EXPECT_TRUE(InternetCloseHandle(file));

  const std::string stored = TELVARIO_FTP_STATE "/root/writable/temp/wininet.tmp";
  EXPECT_EQ(std::filesystem::file_size(stored), data.size());  // binary: nothing converted
  EXPECT_TRUE(FtpDeleteFileA(connection, "/temp/wininet.tmp"));
  EXPECT_FALSE(std::filesystem::exists(stored));
  EXPECT_FALSE(FtpDeleteFileA(connection, "/temp/wininet.tmp"));  // already gone
  EXPECT_TRUE(InternetCloseHandle(connection));
}

TEST_F(WininetFtp, ClosingTheSessionClosesItsConnection) {
  HINTERNET connection = Connect("127.0.0.1");
  ASSERT_NE(connection, nullptr);
  EXPECT_TRUE(InternetCloseHandle(session_));
  session_ = InternetOpenA("telvario test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  EXPECT_EQ(FtpOpenFileA(connection, "/temp/after.tmp", GENERIC_WRITE, 0, 0), nullptr);
}

TEST_F(WininetFtp, NoServerThereFailsToConnect) {
  EXPECT_EQ(Connect("127.0.0.4"), nullptr);  // nothing listens there
  EXPECT_EQ(Connect("nowhere.invalid"), nullptr);
}

}  // namespace
