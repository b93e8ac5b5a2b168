// Fuzzes the reading of received ICMP packets, as a raw socket passes them (IP header first)
// and as a datagram socket does (ICMP header first): nothing may be read outside the packet,
// and what is accepted must point inside it.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "icmp_packets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A heap copy of the exact size, so that the sanitizer sees any read past its end.
  const std::vector<std::uint8_t> packet(data, data + size);
  icmp::Answer answer;
  if (icmp::ReadAnswer(packet.data(), packet.size(), &answer)) {
    const std::uint8_t* end = packet.data() + packet.size();
    if (answer.data != nullptr &&
        (answer.data < packet.data() || answer.data + answer.dataSize > end)) {
      std::abort();
    }
    if (answer.type != icmp::kEchoReply && answer.echo.type != icmp::kEchoRequest) std::abort();
    icmp::StatusOf(answer.type, answer.code);
  }
  icmp::EchoHeader header;
  icmp::ReadEchoHeader(packet.data(), packet.size(), &header);
  icmp::InternetChecksum(packet.data(), packet.size());
  return 0;
}
