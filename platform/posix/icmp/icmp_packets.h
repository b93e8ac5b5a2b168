// Reading the ICMP and ICMPv6 messages that come back to an echo request: echo replies, and the
// routers' error messages that quote the request. Every length is checked against the bytes
// received.
#ifndef TELVARIO_PLATFORM_POSIX_ICMP_PACKETS_H
#define TELVARIO_PLATFORM_POSIX_ICMP_PACKETS_H

#include <cstddef>
#include <cstdint>

namespace icmp {

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kDestinationUnreachable = 3;
constexpr std::uint8_t kSourceQuench = 4;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kTimeExceeded = 11;
constexpr std::uint8_t kParameterProblem = 12;
constexpr std::size_t kHeaderSize = 8;

// The identity of an echo message: its type and code, identifier and sequence number.
struct EchoHeader {
  std::uint8_t type = 0;
  std::uint8_t code = 0;
  std::uint16_t identifier = 0;
  std::uint16_t sequence = 0;
};

// What a raw socket received, read as an answer to an echo request.
struct Answer {
  std::uint32_t from = 0;  // the sender, network byte order
  std::uint8_t ttl = 0;    // the time to live it arrived with
  std::uint8_t type = 0;
  std::uint8_t code = 0;
  EchoHeader echo;  // of the reply itself, or of the request an error message quotes
  const std::uint8_t* data = nullptr;  // echo reply data; none for error messages
  std::size_t dataSize = 0;
  std::uint8_t quotedDestination[4] = {};  // an error message's: the request's destination
};

// Reads the header of an ICMP echo message without IP header (as an ICMP datagram socket
// passes it either way); false when it is shorter than a header or not an echo message.
bool ReadEchoHeader(const std::uint8_t* message, std::size_t size, EchoHeader* header);

// Reads a whole IP packet carrying ICMP. True for an echo reply, and for an error message
// (unreachable, source quench, time exceeded, parameter problem) that quotes an ICMP echo
// request; false for anything else, and for any truncated or inconsistent packet.
bool ReadAnswer(const std::uint8_t* packet, std::size_t size, Answer* answer);

// The 16-bit number at the bytes, sent most significant byte first.
std::uint16_t BigEndian16(const std::uint8_t* bytes);

// The Internet checksum of a message, in network byte order.
std::uint16_t InternetChecksum(const std::uint8_t* bytes, std::size_t size);

// The echo service's reply status for an ICMP type and code.
std::uint32_t StatusOf(std::uint8_t type, std::uint8_t code);

}  // namespace icmp

namespace icmp6 {

constexpr std::uint8_t kDestinationUnreachable = 1;
constexpr std::uint8_t kPacketTooBig = 2;
constexpr std::uint8_t kTimeExceeded = 3;
constexpr std::uint8_t kParameterProblem = 4;
constexpr std::uint8_t kEchoRequest = 128;
constexpr std::uint8_t kEchoReply = 129;
constexpr std::size_t kHeaderSize = 8;

// What an ICMPv6 socket received, read as an answer to an echo request. The sender is not in
// the message: an ICMPv6 socket passes no IPv6 header, and gives the sender apart.
struct Answer {
  std::uint8_t type = 0;
  std::uint8_t code = 0;
  icmp::EchoHeader echo;  // of the reply itself, or of the request an error message quotes
  const std::uint8_t* data = nullptr;  // echo reply data; none for error messages
  std::size_t dataSize = 0;
  std::uint8_t quotedDestination[16] = {};  // an error message's: the request's destination
};

// Reads the header of an ICMPv6 echo message (request or reply); false when it is shorter than
// a header or not an echo message.
bool ReadEchoHeader(const std::uint8_t* message, std::size_t size, icmp::EchoHeader* header);

// Reads an ICMPv6 message as a raw or datagram ICMPv6 socket passes it (ICMPv6 header first).
// True for an echo reply, and for an error message (unreachable, packet too big, time
// exceeded, parameter problem) whose quoted IPv6 packet, past any extension headers, starts an
// ICMPv6 echo request; false for anything else, and for any truncated or inconsistent message.
bool ReadAnswer(const std::uint8_t* message, std::size_t size, Answer* answer);

// The echo service's reply status for an ICMPv6 type and code.
std::uint32_t StatusOf(std::uint8_t type, std::uint8_t code);

}  // namespace icmp6

#endif
