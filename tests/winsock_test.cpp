// Windows Sockets 1.1 as the probes rely on it: address parsing and formatting, and the local
// machine's entry. Names that need a resolver are tested in the test network.
#include <gtest/gtest.h>

#include <cstring>

#include "windows_api.h"

namespace {

class WinsockTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data_), 0); }
  void TearDown() override { WSACleanup(); }

 private:
  WSADATA data_{};
};

TEST_F(WinsockTest, InetAddrGivesNetworkOrder) {
  const ULONG address = inet_addr("10.0.0.1");
  unsigned char bytes[4];
  std::memcpy(bytes, &address, 4);
  EXPECT_EQ(bytes[0], 10);
  EXPECT_EQ(bytes[1], 0);
  EXPECT_EQ(bytes[2], 0);
  EXPECT_EQ(bytes[3], 1);
  EXPECT_EQ(inet_addr("0.0.0.0"), 0u);
}

TEST_F(WinsockTest, InetAddrGivesNoneForAnythingButAnAddress) {
  EXPECT_EQ(inet_addr("localhost"), INADDR_NONE);
  EXPECT_EQ(inet_addr(nullptr), INADDR_NONE);
  EXPECT_EQ(inet_addr("1.2.3.4.5"), INADDR_NONE);
  EXPECT_EQ(inet_addr("255.255.255.255"), INADDR_NONE);  // cannot be told from a failure
}

TEST_F(WinsockTest, InetNtoaWritesFourDecimalBytes) {
  in_addr address;
  address.s_addr = inet_addr("192.0.2.255");
  EXPECT_STREQ(inet_ntoa(address), "192.0.2.255");
  address.s_addr = 0;
  EXPECT_STREQ(inet_ntoa(address), "0.0.0.0");
  address.s_addr = inet_addr("10.1.20.3");
  EXPECT_STREQ(inet_ntoa(address), "10.1.20.3");
}

TEST_F(WinsockTest, NullOrEmptyNameGivesTheLocalMachine) {
  for (const char* name : {static_cast<const char*>(nullptr), ""}) {
    const HOSTENT* entry = gethostbyname(name);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->h_addrtype, AF_INET);
    EXPECT_EQ(entry->h_length, 4);
    ASSERT_NE(entry->h_addr_list[0], nullptr);
    EXPECT_NE(entry->h_name[0], '\0');
  }
}

TEST_F(WinsockTest, LocalhostComesFromTheHostsFile) {
  const HOSTENT* entry = gethostbyname("localhost");
  ASSERT_NE(entry, nullptr);
  ULONG first = 0;
  std::memcpy(&first, entry->h_addr_list[0], 4);
  EXPECT_EQ(first, inet_addr("127.0.0.1"));
}

TEST_F(WinsockTest, ReverseLookupNeedsFourBytesOfAnInternetAddress) {
  const ULONG loopback = inet_addr("127.0.0.1");
  EXPECT_EQ(gethostbyaddr(reinterpret_cast<const char*>(&loopback), 4, 23), nullptr);
  EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
  EXPECT_EQ(gethostbyaddr(reinterpret_cast<const char*>(&loopback), 3, AF_INET), nullptr);
}

}  // namespace
