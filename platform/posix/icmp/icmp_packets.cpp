#include "icmp_packets.h"

#include <cstring>

#include "icmp.h"

namespace icmp {

std::uint16_t BigEndian16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

namespace {

constexpr std::uint8_t kProtocolIcmp = 1;
constexpr std::size_t kMinIpHeader = 20;

// The length of the IPv4 header that starts the bytes, or 0 when they do not hold one.
std::size_t IpHeaderLength(const std::uint8_t* packet, std::size_t size) {
  if (size < kMinIpHeader || packet[0] >> 4 != 4) return 0;
  const std::size_t length = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
  return length >= kMinIpHeader && length <= size ? length : 0;
}

bool IsErrorMessage(std::uint8_t type) {
  return type == kDestinationUnreachable || type == kSourceQuench || type == kTimeExceeded ||
         type == kParameterProblem;
}

}  // namespace

bool ReadEchoHeader(const std::uint8_t* message, std::size_t size, EchoHeader* header) {
  if (size < kHeaderSize) return false;
  if (message[0] != kEchoReply && message[0] != kEchoRequest) return false;
  header->type = message[0];
  header->code = message[1];
  header->identifier = BigEndian16(message + 4);
  header->sequence = BigEndian16(message + 6);
  return true;
}

bool ReadAnswer(const std::uint8_t* packet, std::size_t size, Answer* answer) {
  const std::size_t ipLength = IpHeaderLength(packet, size);
  if (ipLength == 0 || packet[9] != kProtocolIcmp || size - ipLength < kHeaderSize) return false;
  const std::uint8_t* message = packet + ipLength;
  const std::size_t messageSize = size - ipLength;
  answer->from = static_cast<std::uint32_t>(packet[12]) | packet[13] << 8 | packet[14] << 16 |
                 static_cast<std::uint32_t>(packet[15]) << 24;
  answer->ttl = packet[8];
  answer->type = message[0];
  answer->code = message[1];
  if (message[0] == kEchoReply) {
    if (!ReadEchoHeader(message, messageSize, &answer->echo)) return false;
    answer->data = message + kHeaderSize;
    answer->dataSize = messageSize - kHeaderSize;
    return true;
  }
  if (!IsErrorMessage(message[0])) return false;
  // The error quotes the request's IP header and at least the first 8 bytes after it.
  const std::uint8_t* quoted = message + kHeaderSize;
  const std::size_t quotedSize = messageSize - kHeaderSize;
  const std::size_t quotedIpLength = IpHeaderLength(quoted, quotedSize);
  if (quotedIpLength == 0 || quoted[9] != kProtocolIcmp) return false;
  if (!ReadEchoHeader(quoted + quotedIpLength, quotedSize - quotedIpLength, &answer->echo) ||
      answer->echo.type != kEchoRequest) {
    return false;
  }
  std::memcpy(answer->quotedDestination, quoted + 16, 4);
  answer->data = nullptr;
  answer->dataSize = 0;
  return true;
}

std::uint16_t InternetChecksum(const std::uint8_t* bytes, std::size_t size) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < size; i += 2) sum += BigEndian16(bytes + i);
  if (size % 2 != 0) sum += static_cast<std::uint32_t>(bytes[size - 1]) << 8;
  while (sum >> 16 != 0) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

std::uint32_t StatusOf(std::uint8_t type, std::uint8_t code) {
  switch (type) {
    case kEchoReply:
      return IP_SUCCESS;
    case kTimeExceeded:
      return code == 1 ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
    case kParameterProblem:
      return IP_PARAM_PROBLEM;
    case kSourceQuench:
      return IP_SOURCE_QUENCH;
    case kDestinationUnreachable:
      switch (code) {
        case 0:
          return IP_DEST_NET_UNREACHABLE;
        case 2:
          return IP_DEST_PROT_UNREACHABLE;
        case 3:
          return IP_DEST_PORT_UNREACHABLE;
        case 4:
          return IP_PACKET_TOO_BIG;
        case 5:
          return IP_BAD_ROUTE;
        default:
          return IP_DEST_HOST_UNREACHABLE;
      }
    default:
      return IP_GENERAL_FAILURE;
  }
}

}  // namespace icmp

namespace icmp6 {
namespace {

constexpr std::uint8_t kNextHeaderIcmpv6 = 58;
constexpr std::uint8_t kHopByHop = 0;
constexpr std::uint8_t kRouting = 43;
constexpr std::uint8_t kFragment = 44;
constexpr std::uint8_t kDestinationOptions = 60;
constexpr std::size_t kIpv6HeaderSize = 40;

bool IsErrorMessage(std::uint8_t type) {
  return type == kDestinationUnreachable || type == kPacketTooBig || type == kTimeExceeded ||
         type == kParameterProblem;
}

// Where the ICMPv6 message of a quoted IPv6 packet starts, past its extension headers; null when
// the packet is cut short, is no IPv6, carries something else, or is a later fragment.
const std::uint8_t* QuotedIcmpv6(const std::uint8_t* packet, std::size_t size, std::size_t* left) {
  if (size < kIpv6HeaderSize || packet[0] >> 4 != 6) return nullptr;
  std::uint8_t next = packet[6];
  std::size_t offset = kIpv6HeaderSize;
  // Every extension header takes at least 8 bytes, so the walk ends within the packet.
  while (next != kNextHeaderIcmpv6) {
    if (size - offset < 8) return nullptr;
    const std::uint8_t* header = packet + offset;
    std::size_t length = 0;
    if (next == kHopByHop || next == kRouting || next == kDestinationOptions) {
      length = (static_cast<std::size_t>(header[1]) + 1) * 8;
    } else if (next == kFragment) {
      const bool first = (icmp::BigEndian16(header + 2) & 0xFFF8) == 0;
      if (!first) return nullptr;
      length = 8;
    } else {
      return nullptr;
    }
    if (length > size - offset) return nullptr;
    next = header[0];
    offset += length;
  }
  *left = size - offset;
  return packet + offset;
}

}  // namespace

bool ReadEchoHeader(const std::uint8_t* message, std::size_t size, icmp::EchoHeader* header) {
  if (size < kHeaderSize) return false;
  if (message[0] != kEchoReply && message[0] != kEchoRequest) return false;
  header->type = message[0];
  header->code = message[1];
  header->identifier = icmp::BigEndian16(message + 4);
  header->sequence = icmp::BigEndian16(message + 6);
  return true;
}

bool ReadAnswer(const std::uint8_t* message, std::size_t size, Answer* answer) {
  if (size < kHeaderSize) return false;
  answer->type = message[0];
  answer->code = message[1];
  if (message[0] == kEchoReply) {
    if (!icmp6::ReadEchoHeader(message, size, &answer->echo)) return false;
    answer->data = message + kHeaderSize;
    answer->dataSize = size - kHeaderSize;
    return true;
  }
  if (!IsErrorMessage(message[0])) return false;
  // The error quotes as much of the request as fits in the minimum MTU, from its IPv6 header.
  std::size_t left = 0;
  const std::uint8_t* quoted = QuotedIcmpv6(message + kHeaderSize, size - kHeaderSize, &left);
  if (quoted == nullptr || !icmp6::ReadEchoHeader(quoted, left, &answer->echo) ||
      answer->echo.type != kEchoRequest) {
    return false;
  }
  std::memcpy(answer->quotedDestination, message + kHeaderSize + 24, 16);
  answer->data = nullptr;
  answer->dataSize = 0;
  return true;
}

std::uint32_t StatusOf(std::uint8_t type, std::uint8_t code) {
  switch (type) {
    case kEchoReply:
      return IP_SUCCESS;
    case kPacketTooBig:
      return IP_PACKET_TOO_BIG;
    case kTimeExceeded:
      return code == 1 ? IP_REASSEMBLY_TIME_EXCEEDED
                       : (code == 0 ? IP_HOP_LIMIT_EXCEEDED : IP_TIME_EXCEEDED);
    case kParameterProblem:
      switch (code) {
        case 0:
          return IP_BAD_HEADER;
        case 1:
          return IP_UNRECOGNIZED_NEXT_HEADER;
        default:
          return IP_PARAMETER_PROBLEM;
      }
    case kDestinationUnreachable:
      switch (code) {
        case 0:
          return IP_DEST_NO_ROUTE;
        case 1:
        case 5:
        case 6:
          return IP_DEST_PROHIBITED;
        case 2:
          return IP_DEST_SCOPE_MISMATCH;
        case 3:
          return IP_DEST_ADDR_UNREACHABLE;
        case 4:
          return IP_DEST_PORT_UNREACHABLE;
        default:
          return IP_DEST_UNREACHABLE;
      }
    default:
      return IP_ICMP_ERROR;
  }
}

}  // namespace icmp6
