// Holds every packet of a netfilter queue for a fixed time, then lets it pass, in arrival
// order: the test network's delay element, for kernels without netem.
// Usage: delay_queue QUEUE MILLISECONDS
#include <arpa/inet.h>
#include <libnetfilter_queue/libnetfilter_queue.h>
#include <linux/netfilter.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>

namespace {

using Clock = std::chrono::steady_clock;

struct Held {
  std::uint32_t id;
  Clock::time_point due;
};

std::deque<Held> held;
Clock::duration delay;
volatile sig_atomic_t stopping = 0;

int OnPacket(nfq_q_handle* /*queue*/, nfgenmsg* /*message*/, nfq_data* packet, void* /*data*/) {
  const nfqnl_msg_packet_hdr* header = nfq_get_msg_packet_hdr(packet);
  if (header != nullptr) held.push_back({ntohl(header->packet_id), Clock::now() + delay});
  return 0;
}

void ReleaseDue(nfq_q_handle* queue) {
  const Clock::time_point now = Clock::now();
  while (!held.empty() && held.front().due <= now) {
    nfq_set_verdict(queue, held.front().id, NF_ACCEPT, 0, nullptr);
    held.pop_front();
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: delay_queue QUEUE MILLISECONDS\n");
    return 2;
  }
  const auto queueNumber = static_cast<std::uint16_t>(std::atoi(argv[1]));
  delay = std::chrono::milliseconds(std::atoi(argv[2]));
  signal(SIGTERM, [](int) { stopping = 1; });
  signal(SIGINT, [](int) { stopping = 1; });

  nfq_handle* handle = nfq_open();
  if (handle == nullptr) {
    std::perror("delay_queue: nfq_open");
    return 1;
  }
  nfq_q_handle* queue = nfq_create_queue(handle, queueNumber, &OnPacket, nullptr);
  if (queue == nullptr || nfq_set_mode(queue, NFQNL_COPY_META, 0) < 0) {
    std::perror("delay_queue: queue");
    return 1;
  }
  nfq_set_queue_maxlen(queue, 100000);
  const int fd = nfq_fd(handle);
  const int on = 1;
  setsockopt(fd, SOL_NETLINK, NETLINK_NO_ENOBUFS, &on, sizeof on);

  char buffer[65536];
  while (stopping == 0) {
    timespec wait{1, 0};
    if (!held.empty()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::nanoseconds>(held.front().due - Clock::now());
      const long long nanoseconds = left.count() > 0 ? left.count() : 0;
      wait = {static_cast<time_t>(nanoseconds / 1000000000), nanoseconds % 1000000000};
    }
    pollfd readable{fd, POLLIN, 0};
    if (ppoll(&readable, 1, &wait, nullptr) > 0) {
      for (;;) {
        const ssize_t size = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (size <= 0) break;
        nfq_handle_packet(handle, buffer, static_cast<int>(size));
      }
    }
    ReleaseDue(queue);
  }
  for (const Held& packet : held) nfq_set_verdict(queue, packet.id, NF_ACCEPT, 0, nullptr);
  nfq_destroy_queue(queue);
  nfq_close(handle);
  return 0;
}
