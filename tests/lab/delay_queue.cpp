// Holds every packet of a netfilter queue for a time, then lets it pass: the test network's
// delay element, for kernels without netem. The time is fixed, or with --sd drawn for each
// packet from a normal distribution around it (a draw below zero holds for no time); packets
// leave when their time is up, so with --sd one may overtake another, as under netem. --loss
// drops that share of the packets on arrival, each packet on its own draw. The draws come from
// a generator seeded by --seed (1 unless given): the same packets, in the same order, meet the
// same fate on every run.
// Usage: delay_queue QUEUE MILLISECONDS [--sd MILLISECONDS] [--loss PERCENT] [--seed N]
#include <arpa/inet.h>
#include <libnetfilter_queue/libnetfilter_queue.h>
#include <linux/netfilter.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

struct Settings {
  std::uint16_t queue = 0;
  double delay = 0;  // milliseconds
  double sd = 0;     // milliseconds
  double loss = 0;   // percent
  std::uint64_t seed = 1;
};

// Packet ids by the time they are due; equal times keep their arrival order.
std::multimap<Clock::time_point, std::uint32_t> held;
Settings settings;
std::mt19937_64 generator;
volatile sig_atomic_t stopping = 0;

Clock::duration DrawDelay() {
  double delay = settings.delay;
  if (settings.sd > 0) delay = std::normal_distribution<double>(delay, settings.sd)(generator);
  return std::chrono::duration_cast<Clock::duration>(Milliseconds(delay > 0 ? delay : 0));
}

bool DrawLoss() {
  return settings.loss > 0 && std::bernoulli_distribution(settings.loss / 100)(generator);
}

int OnPacket(nfq_q_handle* queue, nfgenmsg* /*message*/, nfq_data* packet, void* /*data*/) {
  const nfqnl_msg_packet_hdr* header = nfq_get_msg_packet_hdr(packet);
  if (header == nullptr) return 0;
  const std::uint32_t id = ntohl(header->packet_id);
  if (DrawLoss()) return nfq_set_verdict(queue, id, NF_DROP, 0, nullptr);
  held.emplace(Clock::now() + DrawDelay(), id);
  return 0;
}

void ReleaseDue(nfq_q_handle* queue) {
  const Clock::time_point now = Clock::now();
  while (!held.empty() && held.begin()->first <= now) {
    nfq_set_verdict(queue, held.begin()->second, NF_ACCEPT, 0, nullptr);
    held.erase(held.begin());
  }
}

// A number of the command line, not below zero.
bool Number(const char* text, double* value) {
  char* end = nullptr;
  errno = 0;
  *value = std::strtod(text, &end);
  return errno == 0 && end != text && *end == '\0' && *value >= 0;
}

bool Whole(const char* text, std::uint64_t most, std::uint64_t* value) {
  char* end = nullptr;
  errno = 0;
  *value = std::strtoull(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && text[0] != '-' && *value <= most;
}

bool Parse(int argc, char** argv) {
  std::uint64_t queue = 0;
  if (argc < 3 || argc % 2 == 0 || !Whole(argv[1], 65535, &queue) ||
      !Number(argv[2], &settings.delay)) {
    return false;
  }
  settings.queue = static_cast<std::uint16_t>(queue);
  for (int i = 3; i + 1 < argc; i += 2) {
    const char* value = argv[i + 1];
    if (std::strcmp(argv[i], "--sd") == 0) {
      if (!Number(value, &settings.sd)) return false;
    } else if (std::strcmp(argv[i], "--loss") == 0) {
      if (!Number(value, &settings.loss) || settings.loss > 100) return false;
    } else if (std::strcmp(argv[i], "--seed") != 0 || !Whole(value, UINT64_MAX, &settings.seed)) {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (!Parse(argc, argv)) {
    std::fprintf(stderr,
                 "usage: delay_queue QUEUE MILLISECONDS [--sd MILLISECONDS] [--loss PERCENT] "
                 "[--seed N]\n");
    return 2;
  }
  generator.seed(settings.seed);
  signal(SIGTERM, [](int) { stopping = 1; });
  signal(SIGINT, [](int) { stopping = 1; });

  nfq_handle* handle = nfq_open();
  if (handle == nullptr) {
    std::perror("delay_queue: nfq_open");
    return 1;
  }
  nfq_q_handle* queue = nfq_create_queue(handle, settings.queue, &OnPacket, nullptr);
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
          std::chrono::duration_cast<std::chrono::nanoseconds>(held.begin()->first - Clock::now());
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
  for (const auto& [due, id] : held) nfq_set_verdict(queue, id, NF_ACCEPT, 0, nullptr);
  nfq_destroy_queue(queue);
  nfq_close(handle);
  return 0;
}
