// Windows Sockets as the probes rely on it: address parsing and formatting of both families,
// the local machine's entry, names from the hosts file, and a raw ICMPv6 socket's echo to
// loopback. Names that need a resolver are tested in the test network; TCP connections in
// tcp_connect_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

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

// Every address of a result list as text, with its family and length checked.
std::vector<std::string> Addresses(const ADDRINFOA* list) {
  std::vector<std::string> texts;
  for (const ADDRINFOA* entry = list; entry != nullptr; entry = entry->ai_next) {
    char text[INET6_ADDRSTRLEN] = {};
    if (entry->ai_family == AF_INET) {
      EXPECT_EQ(entry->ai_addrlen, sizeof(sockaddr_in));
      EXPECT_EQ(entry->ai_addr->sa_family, AF_INET);
      const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
      EXPECT_NE(inet_ntop(AF_INET, &address->sin_addr, text, sizeof text), nullptr);
    } else {
      EXPECT_EQ(entry->ai_family, AF_INET6);
      EXPECT_EQ(entry->ai_addrlen, sizeof(sockaddr_in6));
      EXPECT_EQ(entry->ai_addr->sa_family, AF_INET6);
      const auto* address = reinterpret_cast<const sockaddr_in6*>(entry->ai_addr);
      EXPECT_NE(inet_ntop(AF_INET6, &address->sin6_addr, text, sizeof text), nullptr);
    }
    texts.emplace_back(text);
  }
  return texts;
}

std::vector<std::string> Resolve(const char* name, int family, int flags, int* error) {
  ADDRINFOA hints{};
  hints.ai_family = family;
  hints.ai_flags = flags;
  hints.ai_socktype = SOCK_STREAM;
  ADDRINFOA* found = nullptr;
  *error = getaddrinfo(name, nullptr, &hints, &found);
  if (*error != 0) {
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(WSAGetLastError(), *error);
    return {};
  }
  std::vector<std::string> texts = Addresses(found);
  freeaddrinfo(found);
  return texts;
}

TEST_F(WinsockTest, NamesAndLiteralsOfBothFamilies) {
  int error = 0;
  EXPECT_EQ(Resolve("localhost", AF_INET, 0, &error), std::vector<std::string>{"127.0.0.1"});
  const std::vector<std::string> any = Resolve("localhost", AF_UNSPEC, 0, &error);
  EXPECT_EQ(error, 0);
  EXPECT_NE(std::find(any.begin(), any.end(), "127.0.0.1"), any.end());
  EXPECT_EQ(Resolve("::1", AF_UNSPEC, AI_NUMERICHOST, &error), std::vector<std::string>{"::1"});
  EXPECT_EQ(Resolve("2001:db8::7", AF_INET6, 0, &error), std::vector<std::string>{"2001:db8::7"});
  EXPECT_EQ(Resolve("192.0.2.1", AF_UNSPEC, AI_NUMERICHOST, &error),
            std::vector<std::string>{"192.0.2.1"});
  EXPECT_TRUE(Resolve("::1", AF_INET, 0, &error).empty());
  EXPECT_NE(error, 0);
  EXPECT_TRUE(Resolve("localhost", AF_UNSPEC, AI_NUMERICHOST, &error).empty());
  EXPECT_EQ(error, WSAHOST_NOT_FOUND);
}

TEST_F(WinsockTest, AddressTextRoundTrips) {
  for (const char* text : {"192.0.2.33", "0.0.0.0", "255.255.255.255"}) {
    in_addr address{};
    ASSERT_EQ(inet_pton(AF_INET, text, &address), 1) << text;
    char back[INET_ADDRSTRLEN] = {};
    EXPECT_STREQ(inet_ntop(AF_INET, &address, back, sizeof back), text);
  }
  for (const char* text : {"::1", "2001:db8::1", "fe80::1:2:3:4", "::ffff:192.0.2.1", "::"}) {
    in6_addr address{};
    ASSERT_EQ(inet_pton(AF_INET6, text, &address), 1) << text;
    char back[INET6_ADDRSTRLEN] = {};
    EXPECT_STREQ(inet_ntop(AF_INET6, &address, back, sizeof back), text);
  }
  in6_addr loopback{};
  ASSERT_EQ(inet_pton(AF_INET6, "::1", &loopback), 1);
  EXPECT_EQ(loopback.s6_addr[15], 1);
  EXPECT_EQ(loopback.s6_addr[0], 0);
  in_addr address{};
  EXPECT_EQ(inet_pton(AF_INET, "192.0.2", &address), 0);
  EXPECT_EQ(inet_pton(AF_INET, "::1", &address), 0);
  in6_addr address6{};
  EXPECT_EQ(inet_pton(AF_INET6, "1::2::3", &address6), 0);
  EXPECT_EQ(inet_pton(AF_INET6, "192.0.2.1", &address6), 0);
  EXPECT_EQ(inet_pton(12345, "192.0.2.1", &address), -1);
  EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
  char tooShort[8] = {};
  EXPECT_EQ(inet_ntop(AF_INET6, &loopback, tooShort, 3), nullptr);
  EXPECT_EQ(inet_ntop(12345, &loopback, tooShort, sizeof tooShort), nullptr);
}

// An echo request to ::1 from a raw ICMPv6 socket, answered to it: the fallback of an engine
// where the system has no ICMPv6 echo service.
TEST_F(WinsockTest, RawIcmpv6EchoToLoopback) {
  const SOCKET raw = socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6);
  if (raw == INVALID_SOCKET) {
    const int error = WSAGetLastError();
    if (error == WSAEACCES) GTEST_SKIP() << "this process may not open a raw socket";
    if (error == WSAEPROTONOSUPPORT) GTEST_SKIP() << "this system has no raw ICMPv6 sockets";
    FAIL() << "socket failed with " << error;
  }
  const int hops = 9;
  EXPECT_EQ(setsockopt(raw, IPPROTO_IPV6, IPV6_UNICAST_HOPS, reinterpret_cast<const char*>(&hops),
                       sizeof hops),
            0);
  int readBack = 0;
  int size = sizeof readBack;
  EXPECT_EQ(
      getsockopt(raw, IPPROTO_IPV6, IPV6_UNICAST_HOPS, reinterpret_cast<char*>(&readBack), &size),
      0);
  EXPECT_EQ(readBack, hops);
  sockaddr_in6 destination{};
  destination.sin6_family = AF_INET6;
  destination.sin6_addr.s6_addr[15] = 1;
  // Type 128, code 0, the checksum left to the system, identifier 0x7E6A, sequence 3.
  const unsigned char request[16] = {128, 0,   0,   0,   0x7E, 0x6A, 0,   3,
                                     't', 'e', 'l', 'v', 'a',  'r',  'i', 'o'};
  ASSERT_EQ(sendto(raw, reinterpret_cast<const char*>(request), sizeof request, 0,
                   reinterpret_cast<const sockaddr*>(&destination), sizeof destination),
            static_cast<int>(sizeof request));
  bool replied = false;
  // The request itself may come back first: this socket sees all ICMPv6 on loopback.
  for (int i = 0; i < 8 && !replied; ++i) {
    WSAPOLLFD wait{raw, POLLRDNORM, 0};
    ASSERT_EQ(WSAPoll(&wait, 1, 2000), 1);
    EXPECT_NE(wait.revents & POLLRDNORM, 0);
    unsigned char reply[256] = {};
    sockaddr_in6 from{};
    int fromSize = sizeof from;
    const int received = recvfrom(raw, reinterpret_cast<char*>(reply), sizeof reply, 0,
                                  reinterpret_cast<sockaddr*>(&from), &fromSize);
    ASSERT_GE(received, 8);
    if (reply[0] != 129 || reply[4] != 0x7E || reply[5] != 0x6A) continue;
    replied = true;
    EXPECT_EQ(received, static_cast<int>(sizeof request));
    EXPECT_EQ(std::memcmp(reply + 8, request + 8, 8), 0);
    EXPECT_EQ(fromSize, static_cast<int>(sizeof from));
    EXPECT_EQ(from.sin6_family, AF_INET6);
    EXPECT_EQ(from.sin6_addr.s6_addr[15], 1);
  }
  EXPECT_TRUE(replied);
  EXPECT_EQ(closesocket(raw), 0);
  EXPECT_EQ(closesocket(raw), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

}  // namespace
