// Fuzzes the reading of received ICMP and ICMPv6 packets: ICMP as a raw socket passes it (IP
// header first) and as a datagram socket does (ICMP header first); ICMPv6 as sockets of both
// kinds pass it (ICMPv6 header first, routers' answers quoting the request's IPv6 packet and its
// extension headers). Nothing may be read outside the packet, and what is accepted must point
// inside it.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "icmp_packets.h"

namespace {

void InsidePacket(const std::vector<std::uint8_t>& packet, const std::uint8_t* data,
                  std::size_t size) {
  if (data == nullptr) {
    if (size != 0) std::abort();
    return;
  }
  if (data < packet.data() || size > packet.size() ||
      data > packet.data() + (packet.size() - size)) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A heap copy of the exact size, so that the sanitizer sees any read past its end.
  const std::vector<std::uint8_t> packet(data, data + size);
  icmp::Answer answer;
  if (icmp::ReadAnswer(packet.data(), packet.size(), &answer)) {
    InsidePacket(packet, answer.data, answer.dataSize);
    if (answer.type != icmp::kEchoReply && answer.echo.type != icmp::kEchoRequest) std::abort();
    icmp::StatusOf(answer.type, answer.code);
  }
  icmp::EchoHeader header;
  icmp::ReadEchoHeader(packet.data(), packet.size(), &header);
  icmp::InternetChecksum(packet.data(), packet.size());

  icmp6::Answer answer6;
  if (icmp6::ReadAnswer(packet.data(), packet.size(), &answer6)) {
    InsidePacket(packet, answer6.data, answer6.dataSize);
    if (answer6.type == icmp6::kEchoReply) {
      if (answer6.data != packet.data() + icmp6::kHeaderSize) std::abort();
    } else if (answer6.echo.type != icmp6::kEchoRequest || answer6.data != nullptr) {
      std::abort();
    }
    icmp6::StatusOf(answer6.type, answer6.code);
  }
  icmp6::ReadEchoHeader(packet.data(), packet.size(), &header);
  return 0;
}
