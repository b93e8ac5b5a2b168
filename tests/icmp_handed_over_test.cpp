// The echo service sending from raw sockets its host handed over, one of each family, as the
// client does with the sockets it opens while its file's capability lasts: in a network
// namespace of the test's own, where no group may open an ICMP datagram socket, after the
// process dropped every capability.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "icmp.h"
#include "kernel.h"

namespace {

constexpr IPAddr kLoopback = 0x0100007F;  // 127.0.0.1 in network byte order

bool BringLoopbackUp() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::memcpy(request.ifr_name, "lo", 3);
  bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  close(fd);
  return up;
}

bool DropEveryCapability() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
  return syscall(SYS_capset, &header, none) == 0;
}

// Echo requests to loopback from the handle, each with data of its own; the number answered
// with that data.
int Answered(HANDLE service, BYTE mark, int requests) {
  int answered = 0;
  for (int i = 0; i < requests; ++i) {
    BYTE request[16];
    std::memset(request, mark, sizeof request);
    request[0] = static_cast<BYTE>(i);
    alignas(ICMP_ECHO_REPLY) BYTE reply[256] = {};
    if (IcmpSendEcho(service, kLoopback, request, sizeof request, nullptr, reply, sizeof reply,
                     1000) != 1) {
      continue;
    }
    const auto* record = reinterpret_cast<const ICMP_ECHO_REPLY*>(reply);
    if (record->Status == IP_SUCCESS && record->DataSize == sizeof request &&
        std::memcmp(record->Data, request, sizeof request) == 0) {
      ++answered;
    }
  }
  return answered;
}

// The same over IPv6, to ::1.
int Answered6(HANDLE service, BYTE mark, int requests) {
  winsock::sockaddr_in6 loopback{};
  loopback.sin6_family = winsock::value::kAfInet6;
  loopback.sin6_addr.u.Byte[15] = 1;
  int answered = 0;
  for (int i = 0; i < requests; ++i) {
    BYTE request[16];
    std::memset(request, mark, sizeof request);
    request[0] = static_cast<BYTE>(i);
    BYTE reply[256] = {};
    if (Icmp6SendEcho2(service, nullptr, nullptr, nullptr, nullptr, &loopback, request,
                       sizeof request, nullptr, reply, sizeof reply, 1000) != 1) {
      continue;
    }
    ICMPV6_ECHO_REPLY record;
    std::memcpy(&record, reply, sizeof record);
    if (record.Status == IP_SUCCESS &&
        std::memcmp(reply + sizeof record, request, sizeof request) == 0) {
      ++answered;
    }
  }
  return answered;
}

TEST(HandedOverSocket, OnlyARawIcmpSocketIsTaken) {
  for (const int family : {AF_INET, AF_INET6}) {
    const int udp = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(udp, 0);
    EXPECT_FALSE(SetIcmpRawSocket(udp));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(fcntl(udp, F_GETFD), FD_CLOEXEC) << "a socket refused stays the caller's";
    close(udp);
  }
  EXPECT_TRUE(SetIcmpRawSocket(-1));
}

TEST(HandedOverSocket, TwoHandlesOnTwoThreadsEachGetTheirOwnReplies) {
  if (unshare(CLONE_NEWNET) != 0) GTEST_SKIP() << "this process may not make a namespace";
  ASSERT_TRUE(BringLoopbackUp());
  const int raw = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  const int raw6 = socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
  ASSERT_GE(raw, 0);
  ASSERT_GE(raw6, 0);
  ASSERT_TRUE(SetIcmpRawSocket(raw));
  ASSERT_TRUE(SetIcmpRawSocket(raw6));  // one of each family is held
  ASSERT_TRUE(DropEveryCapability());
  ASSERT_LT(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP), 0);
  ASSERT_LT(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP), 0);
  ASSERT_LT(socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMPV6), 0);
  ASSERT_LT(socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6), 0);

  const HANDLE first = IcmpCreateFile();
  const HANDLE second = IcmpCreateFile();
  const HANDLE first6 = Icmp6CreateFile();
  const HANDLE second6 = Icmp6CreateFile();
  for (const HANDLE handle : {first, second, first6, second6}) {
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  }
  constexpr int kRequests = 200;
  int secondAnswered = 0;
  int first6Answered = 0;
  int second6Answered = 0;
  std::thread other([&] { secondAnswered = Answered(second, 0xB2, kRequests); });
  std::thread other6([&] { first6Answered = Answered6(first6, 0xC3, kRequests); });
  std::thread another6([&] { second6Answered = Answered6(second6, 0xD4, kRequests); });
  EXPECT_EQ(Answered(first, 0xA1, kRequests), kRequests);
  other.join();
  other6.join();
  another6.join();
  EXPECT_EQ(secondAnswered, kRequests);
  EXPECT_EQ(first6Answered, kRequests);
  EXPECT_EQ(second6Answered, kRequests);
  for (const HANDLE handle : {first, second, first6, second6}) {
    EXPECT_TRUE(IcmpCloseHandle(handle));
  }
}

}  // namespace
