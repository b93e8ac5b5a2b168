// The system's ICMP echo service as the echo probe uses it, on this machine's loopback.
#include <gtest/gtest.h>

#include "windows_api.h"

namespace {

constexpr IPAddr kLoopback = 0x0100007F;  // 127.0.0.1 in network byte order

TEST(IcmpService, NeedsRoomForTheEchoAndAnswersFromLoopback) {
  BYTE reply[256] = {};
  BYTE request[32] = {};
  IP_OPTION_INFORMATION options{};
  options.Ttl = 64;
  const HANDLE service = IcmpCreateFile();
  if (service == INVALID_HANDLE_VALUE) GTEST_SKIP() << "this process may not send ICMP";
  EXPECT_EQ(IcmpSendEcho(service, kLoopback, request, 32, &options, reply,
                         sizeof(ICMP_ECHO_REPLY) + 16, 1000),
            0u);
  ASSERT_EQ(IcmpSendEcho(service, kLoopback, request, 32, &options, reply, sizeof reply, 1000), 1u);
  const auto* record = reinterpret_cast<const ICMP_ECHO_REPLY*>(reply);
  EXPECT_EQ(record->Status, IP_SUCCESS);
  EXPECT_EQ(record->Address, kLoopback);
  EXPECT_EQ(record->DataSize, 32);
  EXPECT_TRUE(IcmpCloseHandle(service));
}

}  // namespace
