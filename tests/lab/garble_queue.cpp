// Garbles the header quoted by every ICMP error of a netfilter queue, then lets it pass: the
// quoted echo request's identifier and sequence number are inverted and the message's checksum
// is made right again, so that the answer arrives, well formed, quoting a request nobody sent.
// The test network's garbling router runs it on its time-exceeded answers. Runs until SIGTERM.
// Usage: garble_queue QUEUE
#include <arpa/inet.h>
#include <libnetfilter_queue/libnetfilter_queue.h>
#include <linux/netfilter.h>
#include <signal.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

volatile sig_atomic_t stopping = 0;

std::uint16_t Checksum(const unsigned char* data, std::size_t size) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < size; i += 2) sum += (data[i] << 8) | data[i + 1];
  if (size % 2 != 0) sum += data[size - 1] << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

// The packet, garbled where it holds an ICMP error quoting an echo request.
std::vector<unsigned char> Garbled(const unsigned char* packet, int size) {
  std::vector<unsigned char> copy(packet, packet + size);
  if (size < 20 || copy[9] != IPPROTO_ICMP) return copy;
  const std::size_t icmp = (copy[0] & 0x0F) * 4u;
  if (copy.size() < icmp + 8 + 20) return copy;
  const std::size_t quoted = icmp + 8;
  const std::size_t quotedIcmp = quoted + (copy[quoted] & 0x0F) * 4u;
  if (copy.size() < quotedIcmp + 8) return copy;
  for (std::size_t i = quotedIcmp + 4; i < quotedIcmp + 8; ++i) copy[i] ^= 0xFF;
  copy[icmp + 2] = 0;
  copy[icmp + 3] = 0;
  const std::uint16_t sum = Checksum(copy.data() + icmp, copy.size() - icmp);
  copy[icmp + 2] = static_cast<unsigned char>(sum >> 8);
  copy[icmp + 3] = static_cast<unsigned char>(sum & 0xFF);
  return copy;
}

int OnPacket(nfq_q_handle* queue, nfgenmsg* /*message*/, nfq_data* packet, void* /*data*/) {
  const nfqnl_msg_packet_hdr* header = nfq_get_msg_packet_hdr(packet);
  if (header == nullptr) return 0;
  unsigned char* payload = nullptr;
  const int size = nfq_get_payload(packet, &payload);
  const std::uint32_t id = ntohl(header->packet_id);
  if (size <= 0) return nfq_set_verdict(queue, id, NF_ACCEPT, 0, nullptr);
  const std::vector<unsigned char> garbled = Garbled(payload, size);
  return nfq_set_verdict(queue, id, NF_ACCEPT, static_cast<std::uint32_t>(garbled.size()),
                         garbled.data());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: garble_queue QUEUE\n");
    return 2;
  }
  signal(SIGTERM, [](int) { stopping = 1; });
  signal(SIGINT, [](int) { stopping = 1; });
  nfq_handle* handle = nfq_open();
  if (handle == nullptr) {
    std::perror("garble_queue: nfq_open");
    return 1;
  }
  nfq_q_handle* queue =
      nfq_create_queue(handle, static_cast<std::uint16_t>(std::atoi(argv[1])), &OnPacket, nullptr);
  if (queue == nullptr || nfq_set_mode(queue, NFQNL_COPY_PACKET, 0xFFFF) < 0) {
    std::perror("garble_queue: queue");
    return 1;
  }
  const int fd = nfq_fd(handle);
  timeval second{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
  char buffer[65536];
  while (stopping == 0) {
    const ssize_t size = recv(fd, buffer, sizeof buffer, 0);
    if (size > 0) nfq_handle_packet(handle, buffer, static_cast<int>(size));
  }
  nfq_destroy_queue(queue);
  nfq_close(handle);
  return 0;
}
