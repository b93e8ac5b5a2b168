// Reading what comes back to an echo request from a raw socket: replies, routers' answers that
// quote the request, and packets that are cut short or claim more than they hold.
#include <gtest/gtest.h>

#include <vector>

#include "windows_api.h"
#include "icmp_packets.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes IpHeader(std::uint8_t protocol, std::uint8_t ttl, Bytes source, std::size_t optionWords = 0) {
  Bytes header(20 + 4 * optionWords, 0);
  header[0] = static_cast<std::uint8_t>(0x40 | (5 + optionWords));
  header[8] = ttl;
  header[9] = protocol;
  std::copy(source.begin(), source.end(), header.begin() + 12);
  return header;
}

Bytes EchoMessage(std::uint8_t type, std::uint16_t id, std::uint16_t seq, Bytes data) {
  Bytes message{type,
                0,
                0,
                0,
                static_cast<std::uint8_t>(id >> 8),
                static_cast<std::uint8_t>(id),
                static_cast<std::uint8_t>(seq >> 8),
                static_cast<std::uint8_t>(seq)};
  for (const std::uint8_t byte : data) message.push_back(byte);
  return message;
}

Bytes Join(Bytes a, const Bytes& b) {
  for (const std::uint8_t byte : b) a.push_back(byte);
  return a;
}

// A router's answer: its IP header, the error header, the request's IP header and 8 bytes.
Bytes RouterAnswer(std::uint8_t type, std::uint8_t code, std::uint8_t quotedProtocol = 1,
                   std::uint8_t quotedType = 8) {
  const Bytes quoted =
      Join(IpHeader(quotedProtocol, 1, {10, 213, 10, 1}), EchoMessage(quotedType, 0x1234, 7, {}));
  return Join(Join(IpHeader(1, 63, {10, 213, 11, 2}), Bytes{type, code, 0, 0, 0, 0, 0, 0}), quoted);
}

TEST(IcmpPackets, EchoReplyWithAndWithoutIpOptions) {
  for (const std::size_t options : {0u, 1u, 10u}) {
    const Bytes packet = Join(IpHeader(1, 60, {10, 213, 3, 10}, options),
                              EchoMessage(icmp::kEchoReply, 0xBEEF, 42, {1, 2, 3}));
    icmp::Answer answer;
    ASSERT_TRUE(icmp::ReadAnswer(packet.data(), packet.size(), &answer)) << options;
    EXPECT_EQ(answer.from, 0x0A03D50Au);  // 10.213.3.10 in network byte order
    EXPECT_EQ(answer.ttl, 60);
    EXPECT_EQ(answer.echo.identifier, 0xBEEF);
    EXPECT_EQ(answer.echo.sequence, 42);
    ASSERT_EQ(answer.dataSize, 3u);
    EXPECT_EQ(answer.data[2], 3);
  }
}

TEST(IcmpPackets, RouterAnswersNameTheQuotedRequest) {
  const Bytes exceeded = RouterAnswer(icmp::kTimeExceeded, 0);
  icmp::Answer answer;
  ASSERT_TRUE(icmp::ReadAnswer(exceeded.data(), exceeded.size(), &answer));
  EXPECT_EQ(answer.type, icmp::kTimeExceeded);
  EXPECT_EQ(answer.echo.identifier, 0x1234);
  EXPECT_EQ(answer.echo.sequence, 7);
  EXPECT_EQ(answer.from, 0x020BD50Au);
  EXPECT_EQ(answer.dataSize, 0u);
  // Answers about other protocols, or quoting something other than an echo request, are not ours.
  const Bytes udp = RouterAnswer(icmp::kTimeExceeded, 0, 17);
  EXPECT_FALSE(icmp::ReadAnswer(udp.data(), udp.size(), &answer));
  const Bytes reply = RouterAnswer(icmp::kDestinationUnreachable, 1, 1, icmp::kEchoReply);
  EXPECT_FALSE(icmp::ReadAnswer(reply.data(), reply.size(), &answer));
  const Bytes redirect = RouterAnswer(5, 0);
  EXPECT_FALSE(icmp::ReadAnswer(redirect.data(), redirect.size(), &answer));
}

TEST(IcmpPackets, EveryShortenedPacketIsRefused) {
  for (const Bytes& packet :
       {RouterAnswer(icmp::kTimeExceeded, 0),
        Join(IpHeader(1, 60, {127, 0, 0, 1}), EchoMessage(icmp::kEchoReply, 1, 1, {}))}) {
    for (std::size_t size = 0; size < packet.size(); ++size) {
      const Bytes cut(packet.begin(), packet.begin() + static_cast<long>(size));
      icmp::Answer answer;
      EXPECT_FALSE(icmp::ReadAnswer(cut.data(), cut.size(), &answer)) << size;
    }
  }
}

TEST(IcmpPackets, HeaderLengthsOutsideThePacketAreRefused) {
  Bytes packet = Join(IpHeader(1, 60, {127, 0, 0, 1}), EchoMessage(icmp::kEchoReply, 1, 1, {}));
  icmp::Answer answer;
  packet[0] = 0x44;  // shorter than the fixed header
  EXPECT_FALSE(icmp::ReadAnswer(packet.data(), packet.size(), &answer));
  packet[0] = 0x4F;  // 60 bytes, more than there are
  EXPECT_FALSE(icmp::ReadAnswer(packet.data(), packet.size(), &answer));
  packet[0] = 0x65;  // not IPv4
  EXPECT_FALSE(icmp::ReadAnswer(packet.data(), packet.size(), &answer));
  Bytes quoting = RouterAnswer(icmp::kTimeExceeded, 0);
  quoting[28] = 0x4F;  // the quoted header claims more than was quoted
  EXPECT_FALSE(icmp::ReadAnswer(quoting.data(), quoting.size(), &answer));
}

TEST(IcmpPackets, StatusesAndChecksum) {
  EXPECT_EQ(icmp::StatusOf(icmp::kEchoReply, 0), IP_SUCCESS);
  EXPECT_EQ(icmp::StatusOf(icmp::kTimeExceeded, 0), IP_TTL_EXPIRED_TRANSIT);
  EXPECT_EQ(icmp::StatusOf(icmp::kTimeExceeded, 1), IP_TTL_EXPIRED_REASSEM);
  EXPECT_EQ(icmp::StatusOf(icmp::kDestinationUnreachable, 0), IP_DEST_NET_UNREACHABLE);
  EXPECT_EQ(icmp::StatusOf(icmp::kDestinationUnreachable, 1), IP_DEST_HOST_UNREACHABLE);
  EXPECT_EQ(icmp::StatusOf(icmp::kDestinationUnreachable, 4), IP_PACKET_TOO_BIG);
  EXPECT_EQ(icmp::StatusOf(icmp::kParameterProblem, 0), IP_PARAM_PROBLEM);
  const Bytes example{0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};
  EXPECT_EQ(icmp::InternetChecksum(example.data(), example.size()), 0x220D);
  const Bytes odd{0x01};
  EXPECT_EQ(icmp::InternetChecksum(odd.data(), odd.size()), 0xFEFF);
}

// A handle that is not open is refused, not used: under Wine the same calls would crash.
TEST(IcmpService, RefusesHandlesItDidNotOpen) {
  BYTE reply[256] = {};
  BYTE request[32] = {};
  IP_OPTION_INFORMATION options{};
  for (const HANDLE handle : {HANDLE{nullptr}, INVALID_HANDLE_VALUE}) {
    EXPECT_EQ(IcmpSendEcho(handle, 0x0100007F, request, 32, &options, reply, sizeof reply, 10), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(IcmpCloseHandle(handle));
  }
  const HANDLE service = IcmpCreateFile();
  if (service == INVALID_HANDLE_VALUE) GTEST_SKIP() << "this process may not send ICMP";
  EXPECT_TRUE(IcmpCloseHandle(service));
  EXPECT_FALSE(IcmpCloseHandle(service));
}

}  // namespace
