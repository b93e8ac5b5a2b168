// ICMPv6 echo messages as a raw socket sends and receives them (RFC 4443), for platforms whose
// ICMPv6 echo service is missing: a request with its checksum, and the reading of what comes
// back, which may be anything.
#ifndef TELVARIO_PROBES_ICMP6_MESSAGES_H
#define TELVARIO_PROBES_ICMP6_MESSAGES_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace telvario {

constexpr std::uint8_t kIcmp6EchoRequest = 128;
constexpr std::uint8_t kIcmp6EchoReply = 129;
constexpr std::size_t kIcmp6HeaderSize = 8;

// An echo request of `dataSize` fill bytes from `source` to `destination` (16 bytes each),
// its checksum over the IPv6 pseudo-header included.
std::vector<std::uint8_t> Icmp6EchoRequest(const std::uint8_t* source,
                                           const std::uint8_t* destination,
                                           std::uint16_t identifier, std::uint16_t sequence,
                                           std::size_t dataSize);

// Reads a received ICMPv6 message: true for an echo reply, with its identifier and sequence.
bool ReadIcmp6EchoReply(const std::uint8_t* message, std::size_t size, std::uint16_t* identifier,
                        std::uint16_t* sequence);

}  // namespace telvario

#endif
