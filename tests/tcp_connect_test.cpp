// TCP connections as a latency engine times them: a non-blocking connect, waited for with
// WSAPoll and judged by SO_ERROR, to the download tests' server on loopback and to a loopback
// port where nothing listens, of both families; then a request and its answer over the one that
// connected.
#include <gtest/gtest.h>

#include <string>

#include "windows_api.h"

namespace {

class TcpConnect : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data_), 0); }
  void TearDown() override { WSACleanup(); }

 private:
  WSADATA data_{};
};

struct Connection {
  SOCKET socket = INVALID_SOCKET;
  int connectError = 0;  // WSAGetLastError after connect, 0 where it connected at once
  int polled = 0;
  SHORT revents = 0;
  int soError = -1;
};

// A non-blocking connect, waited for up to 5 s.
Connection ConnectWithoutBlocking(const sockaddr* address, int length) {
  Connection connection;
  connection.socket = socket(address->sa_family, SOCK_STREAM, IPPROTO_TCP);
  EXPECT_NE(connection.socket, INVALID_SOCKET);
  u_long on = 1;
  EXPECT_EQ(ioctlsocket(connection.socket, FIONBIO, &on), 0);
  if (connect(connection.socket, address, length) == SOCKET_ERROR) {
    connection.connectError = WSAGetLastError();
  }
  WSAPOLLFD wait{connection.socket, POLLWRNORM, 0};
  connection.polled = WSAPoll(&wait, 1, 5000);
  connection.revents = wait.revents;
  int size = sizeof connection.soError;
  EXPECT_EQ(getsockopt(connection.socket, SOL_SOCKET, SO_ERROR,
                       reinterpret_cast<char*>(&connection.soError), &size),
            0);
  return connection;
}

sockaddr_in Ipv4Loopback(USHORT port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = static_cast<USHORT>((port >> 8) | (port << 8));
  EXPECT_EQ(inet_pton(AF_INET, "127.0.0.1", &address.sin_addr), 1);
  return address;
}

TEST_F(TcpConnect, ToTheTestServerAndToPortsWhereNothingListens) {
  const sockaddr_in server = Ipv4Loopback(TELVARIO_HTTP_TEST_PORT);
  Connection connected =
      ConnectWithoutBlocking(reinterpret_cast<const sockaddr*>(&server), sizeof server);
  EXPECT_TRUE(connected.connectError == 0 || connected.connectError == WSAEWOULDBLOCK)
      << connected.connectError;
  EXPECT_EQ(connected.polled, 1);
  EXPECT_NE(connected.revents & POLLWRNORM, 0);
  EXPECT_EQ(connected.soError, 0);

  // Nothing listens on port 1 of either loopback: refused.
  const sockaddr_in closed = Ipv4Loopback(1);
  sockaddr_in6 closed6{};
  closed6.sin6_family = AF_INET6;
  closed6.sin6_port = static_cast<USHORT>(1 << 8);
  closed6.sin6_addr.s6_addr[15] = 1;
  for (const Connection& refused :
       {ConnectWithoutBlocking(reinterpret_cast<const sockaddr*>(&closed), sizeof closed),
        ConnectWithoutBlocking(reinterpret_cast<const sockaddr*>(&closed6), sizeof closed6)}) {
    EXPECT_TRUE(refused.connectError == WSAEWOULDBLOCK || refused.connectError == WSAECONNREFUSED)
        << refused.connectError;
    EXPECT_EQ(refused.polled, 1);
    EXPECT_NE(refused.revents & (POLLERR | POLLHUP), 0);
    EXPECT_EQ(refused.soError, WSAECONNREFUSED);
    EXPECT_EQ(closesocket(refused.socket), 0);
  }

  // The connected one carries a request and its answer, blocking again.
  const SOCKET s = connected.socket;
  const int noDelay = 1;
  EXPECT_EQ(setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                       sizeof noDelay),
            0);
  int value = 0;
  int size = sizeof value;
  EXPECT_EQ(getsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&value), &size), 0);
  EXPECT_NE(value, 0);
  const int buffer = 65536;
  EXPECT_EQ(
      setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer),
      0);
  size = sizeof value;
  EXPECT_EQ(getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&value), &size), 0);
  EXPECT_EQ(value, buffer);
  const int ttl = 33;
  EXPECT_EQ(setsockopt(s, IPPROTO_IP, IP_TTL, reinterpret_cast<const char*>(&ttl), sizeof ttl), 0);
  size = sizeof value;
  EXPECT_EQ(getsockopt(s, IPPROTO_IP, IP_TTL, reinterpret_cast<char*>(&value), &size), 0);
  EXPECT_EQ(value, ttl);
  char byte = 0;
  EXPECT_EQ(recv(s, &byte, 1, 0), SOCKET_ERROR) << "nothing has come yet";
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  u_long off = 0;
  EXPECT_EQ(ioctlsocket(s, FIONBIO, &off), 0);
  const std::string request = "GET /bytes/100 HTTP/1.0\r\n\r\n";
  EXPECT_EQ(send(s, request.data(), static_cast<int>(request.size()), 0),
            static_cast<int>(request.size()));
  EXPECT_EQ(shutdown(s, SD_SEND), 0);
  std::string answer;
  char part[512];
  for (int received = 0; (received = recv(s, part, sizeof part, 0)) > 0;) {
    answer.append(part, static_cast<std::size_t>(received));
  }
  EXPECT_EQ(answer.rfind("HTTP/1.", 0), 0u) << answer;
  EXPECT_GT(answer.size(), 100u);
  EXPECT_EQ(closesocket(s), 0);
}

}  // namespace
