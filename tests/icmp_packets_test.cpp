// Reading what comes back to an echo request from a raw socket: replies, routers' answers that
// quote the request, and packets that are cut short or claim more than they hold, for ICMP and
// ICMPv6; and what the posix echo service refuses.
#include <gtest/gtest.h>

#include <cstring>
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
  Bytes exceeded = RouterAnswer(icmp::kTimeExceeded, 0);
  const Bytes destination{10, 213, 3, 10};
  std::copy(destination.begin(), destination.end(), exceeded.begin() + 20 + 8 + 16);
  icmp::Answer answer;
  ASSERT_TRUE(icmp::ReadAnswer(exceeded.data(), exceeded.size(), &answer));
  EXPECT_EQ(answer.type, icmp::kTimeExceeded);
  EXPECT_EQ(answer.echo.identifier, 0x1234);
  EXPECT_EQ(answer.echo.sequence, 7);
  EXPECT_EQ(answer.from, 0x020BD50Au);
  EXPECT_EQ(answer.dataSize, 0u);
  // Where the request went, by which it is told from another that bears the same numbers.
  EXPECT_EQ(Bytes(answer.quotedDestination, answer.quotedDestination + 4), destination);
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

// An IPv6 header (40 bytes) with the given next header and payload length.
Bytes Ipv6Header(std::uint8_t nextHeader, std::size_t payload) {
  Bytes header(40, 0);
  header[0] = 0x60;
  header[4] = static_cast<std::uint8_t>(payload >> 8);
  header[5] = static_cast<std::uint8_t>(payload);
  header[6] = nextHeader;
  header[7] = 1;
  return header;
}

// A router's ICMPv6 answer as an ICMPv6 socket passes it: the error header, then the request's
// IPv6 header, the extension headers given, and the request's echo header.
Bytes RouterAnswer6(std::uint8_t type, std::uint8_t code, const Bytes& extensions = {},
                    std::uint8_t firstNext = 58, std::uint8_t quotedType = 128) {
  const Bytes echo = EchoMessage(quotedType, 0x4321, 9, {0xAA, 0xBB});
  const Bytes quoted =
      Join(Join(Ipv6Header(firstNext, extensions.size() + echo.size()), extensions), echo);
  return Join(Bytes{type, code, 0, 0, 0, 0, 0, 0}, quoted);
}

TEST(Icmp6Packets, RepliesAndRoutersAnswersPastExtensionHeaders) {
  const Bytes reply = EchoMessage(icmp6::kEchoReply, 0xBEEF, 42, {1, 2, 3});
  icmp6::Answer answer;
  ASSERT_TRUE(icmp6::ReadAnswer(reply.data(), reply.size(), &answer));
  EXPECT_EQ(answer.echo.identifier, 0xBEEF);
  EXPECT_EQ(answer.echo.sequence, 42);
  ASSERT_EQ(answer.dataSize, 3u);
  EXPECT_EQ(answer.data, reply.data() + 8);

  Bytes exceeded = RouterAnswer6(3, 0);
  for (std::size_t i = 0; i < 16; ++i) exceeded[8 + 24 + i] = static_cast<std::uint8_t>(0xF0 + i);
  ASSERT_TRUE(icmp6::ReadAnswer(exceeded.data(), exceeded.size(), &answer));
  EXPECT_EQ(answer.type, icmp6::kTimeExceeded);
  EXPECT_EQ(answer.echo.identifier, 0x4321);
  EXPECT_EQ(answer.echo.sequence, 9);
  EXPECT_EQ(answer.data, nullptr);
  EXPECT_EQ(Bytes(answer.quotedDestination, answer.quotedDestination + 16),
            Bytes(exceeded.begin() + 32, exceeded.begin() + 48));
  // Hop-by-hop options (8 bytes) then a first fragment, before the echo request.
  const Bytes extensions{44, 0, 0, 0, 0, 0, 0, 0, 58, 0, 0, 1, 0, 0, 0, 7};
  const Bytes through = RouterAnswer6(1, 3, extensions, 0);
  ASSERT_TRUE(icmp6::ReadAnswer(through.data(), through.size(), &answer));
  EXPECT_EQ(answer.echo.sequence, 9);

  Bytes later = through;
  later[48 + 8 + 3] = 0x08;  // the fragment's offset: a later fragment quotes no echo header
  EXPECT_FALSE(icmp6::ReadAnswer(later.data(), later.size(), &answer));
  Bytes tooLong = through;
  tooLong[48 + 1] = 200;  // the hop-by-hop header claims more than was quoted
  EXPECT_FALSE(icmp6::ReadAnswer(tooLong.data(), tooLong.size(), &answer));
  const Bytes udp = RouterAnswer6(1, 4, {}, 17);
  EXPECT_FALSE(icmp6::ReadAnswer(udp.data(), udp.size(), &answer));
  const Bytes quotesReply = RouterAnswer6(3, 0, {}, 58, icmp6::kEchoReply);
  EXPECT_FALSE(icmp6::ReadAnswer(quotesReply.data(), quotesReply.size(), &answer));
  const Bytes request = EchoMessage(icmp6::kEchoRequest, 1, 1, {});
  EXPECT_FALSE(icmp6::ReadAnswer(request.data(), request.size(), &answer));
  const Bytes neighbour{135, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(icmp6::ReadAnswer(neighbour.data(), neighbour.size(), &answer));
  Bytes notIpv6 = RouterAnswer6(3, 0);
  notIpv6[8] = 0x45;
  EXPECT_FALSE(icmp6::ReadAnswer(notIpv6.data(), notIpv6.size(), &answer));
  // Every answer cut within the quoted echo header is refused (the request's data, 2 bytes, may
  // go), and the reply only when shorter than its header.
  for (std::size_t size = 0; size < through.size() - 2; ++size) {
    const Bytes cut(through.begin(), through.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_FALSE(icmp6::ReadAnswer(cut.data(), cut.size(), &answer)) << size;
  }
  for (std::size_t size = 0; size < 8; ++size) {
    EXPECT_FALSE(icmp6::ReadAnswer(reply.data(), size, &answer)) << size;
  }
}

TEST(Icmp6Packets, Statuses) {
  EXPECT_EQ(icmp6::StatusOf(icmp6::kEchoReply, 0), IP_SUCCESS);
  EXPECT_EQ(icmp6::StatusOf(icmp6::kTimeExceeded, 0), IP_HOP_LIMIT_EXCEEDED);
  EXPECT_EQ(icmp6::StatusOf(icmp6::kTimeExceeded, 1), IP_REASSEMBLY_TIME_EXCEEDED);
  EXPECT_EQ(icmp6::StatusOf(icmp6::kDestinationUnreachable, 0), IP_DEST_NO_ROUTE);
  EXPECT_EQ(icmp6::StatusOf(icmp6::kDestinationUnreachable, 1), IP_DEST_PROHIBITED);
  EXPECT_EQ(icmp6::StatusOf(icmp6::kDestinationUnreachable, 3), IP_DEST_ADDR_UNREACHABLE);
  EXPECT_EQ(icmp6::StatusOf(icmp6::kDestinationUnreachable, 4), IP_DEST_PORT_UNREACHABLE);
  EXPECT_EQ(icmp6::StatusOf(icmp6::kDestinationUnreachable, 9), IP_DEST_UNREACHABLE);
  EXPECT_EQ(icmp6::StatusOf(icmp6::kPacketTooBig, 0), IP_PACKET_TOO_BIG);
  EXPECT_EQ(icmp6::StatusOf(icmp6::kParameterProblem, 1), IP_UNRECOGNIZED_NEXT_HEADER);
}

void NTAPI NeverRuns(PVOID /*context*/, PIO_STATUS_BLOCK /*io*/, ULONG /*reserved*/) {
  ADD_FAILURE() << "a refused request has no routine to run";
}

// What this layer refuses before sending: an event to signal, an IPv6 request without an IPv6
// destination, a request of the other family, a record to parse that does not fit; and the
// synchronous form of Icmp6SendEcho2, as IcmpSendEcho.
TEST(IcmpService, RefusesEventsAndRequestsOfTheWrongFamily) {
  const HANDLE service4 = IcmpCreateFile();
  const HANDLE service6 = Icmp6CreateFile();
  if (service4 == INVALID_HANDLE_VALUE || service6 == INVALID_HANDLE_VALUE) {
    GTEST_SKIP() << "this process may not send ICMP";
  }
  BYTE request[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  alignas(8) BYTE reply[128] = {};
  int event = 0;
  sockaddr_in6 loopback{};
  loopback.sin6_family = AF_INET6;
  loopback.sin6_addr.s6_addr[15] = 1;
  EXPECT_EQ(IcmpSendEcho2(service4, &event, nullptr, nullptr, 0x0100007F, request, 8, nullptr,
                          reply, sizeof reply, 100),
            0u);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  EXPECT_EQ(Icmp6SendEcho2(service6, &event, nullptr, nullptr, nullptr, &loopback, request, 8,
                           nullptr, reply, sizeof reply, 100),
            0u);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  sockaddr_in6 notIpv6 = loopback;
  notIpv6.sin6_family = AF_INET;
  EXPECT_EQ(Icmp6SendEcho2(service6, nullptr, NeverRuns, nullptr, nullptr, &notIpv6, request, 8,
                           nullptr, reply, sizeof reply, 100),
            0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(IcmpSendEcho2(service6, nullptr, NeverRuns, nullptr, 0x0100007F, request, 8, nullptr,
                          reply, sizeof reply, 100),
            0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Icmp6SendEcho2(service6, nullptr, NeverRuns, nullptr, nullptr, &loopback, request, 8,
                           nullptr, reply, sizeof(ICMPV6_ECHO_REPLY) + 8, 100),
            0u);
  EXPECT_EQ(GetLastError(), IP_BUF_TOO_SMALL);
  EXPECT_EQ(IcmpParseReplies(reply, sizeof(ICMP_ECHO_REPLY) - 1), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SleepEx(0, TRUE), 0u);

  ASSERT_EQ(Icmp6SendEcho2(service6, nullptr, nullptr, nullptr, nullptr, &loopback, request, 8,
                           nullptr, reply, sizeof reply, 1000),
            1u);
  EXPECT_EQ(GetLastError(), IP_SUCCESS);
  ICMPV6_ECHO_REPLY record;
  std::memcpy(&record, reply, sizeof record);
  EXPECT_EQ(record.Status, IP_SUCCESS);
  USHORT words[8];
  std::memcpy(words, record.Address.sin6_addr, sizeof words);
  EXPECT_EQ(words[7], 0x0100);  // ::1, network byte order
  EXPECT_EQ(std::memcmp(reply + sizeof record, request, 8), 0);
  EXPECT_EQ(Icmp6ParseReplies(reply, sizeof reply), 1u);
  EXPECT_TRUE(IcmpCloseHandle(service4));
  EXPECT_TRUE(IcmpCloseHandle(service6));
}

}  // namespace
