#include "icmp6_messages.h"

namespace telvario {
namespace {

constexpr std::uint8_t kFill = 0x45;
constexpr std::uint8_t kNextHeaderIcmp6 = 58;

std::uint32_t AddWords(std::uint32_t sum, const std::uint8_t* bytes, std::size_t size) {
  for (std::size_t i = 0; i + 1 < size; i += 2)
    sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
  if (size % 2 != 0) sum += static_cast<std::uint32_t>(bytes[size - 1] << 8);
  return sum;
}

}  // namespace

std::vector<std::uint8_t> Icmp6EchoRequest(const std::uint8_t* source,
                                           const std::uint8_t* destination,
                                           std::uint16_t identifier, std::uint16_t sequence,
                                           std::size_t dataSize) {
  std::vector<std::uint8_t> message(kIcmp6HeaderSize + dataSize, kFill);
  message[0] = kIcmp6EchoRequest;
  message[1] = 0;
  message[2] = message[3] = 0;
  message[4] = static_cast<std::uint8_t>(identifier >> 8);
  message[5] = static_cast<std::uint8_t>(identifier);
  message[6] = static_cast<std::uint8_t>(sequence >> 8);
  message[7] = static_cast<std::uint8_t>(sequence);
  // The pseudo-header: both addresses, the message's length and the next header.
  const auto length = static_cast<std::uint32_t>(message.size());
  const std::uint8_t tail[8] = {static_cast<std::uint8_t>(length >> 24),
                                static_cast<std::uint8_t>(length >> 16),
                                static_cast<std::uint8_t>(length >> 8),
                                static_cast<std::uint8_t>(length),
                                0,
                                0,
                                0,
                                kNextHeaderIcmp6};
  std::uint32_t sum = AddWords(0, source, 16);
  sum = AddWords(sum, destination, 16);
  sum = AddWords(sum, tail, sizeof tail);
  sum = AddWords(sum, message.data(), message.size());
  while ((sum >> 16) != 0) sum = (sum & 0xFFFF) + (sum >> 16);
  const auto checksum = static_cast<std::uint16_t>(~sum);
  message[2] = static_cast<std::uint8_t>(checksum >> 8);
  message[3] = static_cast<std::uint8_t>(checksum);
  return message;
}

bool ReadIcmp6EchoReply(const std::uint8_t* message, std::size_t size, std::uint16_t* identifier,
                        std::uint16_t* sequence) {
  if (message == nullptr || size < kIcmp6HeaderSize) return false;
  if (message[0] != kIcmp6EchoReply || message[1] != 0) return false;
  *identifier = static_cast<std::uint16_t>(message[4] << 8 | message[5]);
  *sequence = static_cast<std::uint16_t>(message[6] << 8 | message[7]);
  return true;
}

}  // namespace telvario
