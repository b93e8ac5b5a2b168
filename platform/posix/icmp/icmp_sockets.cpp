// The echo service's sockets. See icmp_sockets.h and icmp.h.
#include "icmp_sockets.h"

#include <cerrno>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <linux/icmp.h>  // after netinet/in.h, whose definitions it then leaves alone
#include <netinet/icmp6.h>
#include <sys/socket.h>
#include <unistd.h>

#include "icmp_packets.h"

namespace icmp_sockets {
namespace {

int Domain(Family family) {
  return family == Family::kIpv4 ? AF_INET : AF_INET6;
}

int Protocol(Family family) {
  return family == Family::kIpv4 ? int{IPPROTO_ICMP} : int{IPPROTO_ICMPV6};
}

// The raw socket of each family the host handed over (SetIcmpRawSocket), closed when the
// module goes, and the channel the handles share over it while any is open.
struct HandedOver {
  std::mutex lock;
  int fd[2] = {-1, -1};
  std::weak_ptr<Channel> shared[2];
  ~HandedOver() {
    for (const int socket : fd) {
      if (socket >= 0) close(socket);
    }
  }
};
HandedOver handedOver;

std::size_t Index(Family family) {
  return family == Family::kIpv4 ? 0 : 1;
}

// The family of a raw ICMP or ICMPv6 socket; nothing for anything else.
std::optional<Family> RawIcmpFamily(int fd) {
  int domain = 0, type = 0, protocol = 0;
  socklen_t length = sizeof domain;
  if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0) return std::nullopt;
  length = sizeof type;
  if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0) return std::nullopt;
  length = sizeof protocol;
  if (getsockopt(fd, SOL_SOCKET, SO_PROTOCOL, &protocol, &length) != 0) return std::nullopt;
  if (type != SOCK_RAW) return std::nullopt;
  if (domain == AF_INET && protocol == IPPROTO_ICMP) return Family::kIpv4;
  if (domain == AF_INET6 && protocol == IPPROTO_ICMPV6) return Family::kIpv6;
  return std::nullopt;
}

// A raw socket gets a copy of every ICMP message of its family the machine receives (and, on
// loopback, its own requests); only those that can answer an echo request are let through.
void ReceiveAnswersOnly(int fd, Family family) {
  if (family == Family::kIpv4) {
    icmp_filter filter{};
    filter.data = ~((1U << icmp::kEchoReply) | (1U << icmp::kDestinationUnreachable) |
                    (1U << icmp::kSourceQuench) | (1U << icmp::kTimeExceeded) |
                    (1U << icmp::kParameterProblem));
    setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    return;
  }
  icmp6_filter filter{};
  ICMP6_FILTER_SETBLOCKALL(&filter);
  for (const std::uint8_t type :
       {icmp6::kEchoReply, icmp6::kDestinationUnreachable, icmp6::kPacketTooBig,
        icmp6::kTimeExceeded, icmp6::kParameterProblem}) {
    ICMP6_FILTER_SETPASS(type, &filter);
  }
  setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
}

void Prepare(const Channel& channel) {
  const int on = 1;
  setsockopt(channel.fd(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
  if (!channel.datagram()) {
    ReceiveAnswersOnly(channel.fd(), channel.family());
  } else if (channel.family() == Family::kIpv4) {
    setsockopt(channel.fd(), IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    setsockopt(channel.fd(), IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
  } else {
    setsockopt(channel.fd(), IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on);
  }
}

std::shared_ptr<Channel> SharedHandedOver(Family family) {
  const std::lock_guard<std::mutex> guard(handedOver.lock);
  const std::size_t index = Index(family);
  if (auto shared = handedOver.shared[index].lock()) return shared;
  if (handedOver.fd[index] < 0) return nullptr;
  const int fd = fcntl(handedOver.fd[index], F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  auto shared = std::make_shared<Channel>(fd, family, false);
  Prepare(*shared);
  handedOver.shared[index] = shared;
  return shared;
}

void ApplyOptions(const Channel& channel, const IP_OPTION_INFORMATION* options) {
  // A time to live of 0 cannot be sent; it stands for the system's default, as under Wine.
  const int ttl = options != nullptr && options->Ttl != 0 ? options->Ttl : -1;
  const bool dontFragment = options != nullptr && (options->Flags & IP_FLAG_DF) != 0;
  if (channel.family() == Family::kIpv4) {
    const int tos = options != nullptr ? options->Tos : 0;
    const int discovery = dontFragment ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    setsockopt(channel.fd(), IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
    setsockopt(channel.fd(), IPPROTO_IP, IP_TOS, &tos, sizeof tos);
    setsockopt(channel.fd(), IPPROTO_IP, IP_MTU_DISCOVER, &discovery, sizeof discovery);
    return;
  }
  const int dontFrag = dontFragment ? 1 : 0;
  setsockopt(channel.fd(), IPPROTO_IPV6, IPV6_UNICAST_HOPS, &ttl, sizeof ttl);
  setsockopt(channel.fd(), IPPROTO_IPV6, IPV6_DONTFRAG, &dontFrag, sizeof dontFrag);
}

struct Control {
  std::optional<timespec> stamp;
  int ttl = -1;
  const sock_extended_err* error = nullptr;  // inside the control buffer
};

void ReadControl(msghdr* message, Control* control) {
  for (cmsghdr* part = CMSG_FIRSTHDR(message); part != nullptr; part = CMSG_NXTHDR(message, part)) {
    if (part->cmsg_level == SOL_SOCKET && part->cmsg_type == SCM_TIMESTAMPNS) {
      timespec stamp{};
      std::memcpy(&stamp, CMSG_DATA(part), sizeof stamp);
      control->stamp = stamp;
    } else if (part->cmsg_level == IPPROTO_IP && part->cmsg_type == IP_TTL) {
      std::memcpy(&control->ttl, CMSG_DATA(part), sizeof control->ttl);
    } else if ((part->cmsg_level == IPPROTO_IP && part->cmsg_type == IP_RECVERR) ||
               (part->cmsg_level == IPPROTO_IPV6 && part->cmsg_type == IPV6_RECVERR)) {
      control->error = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(part));
    }
  }
}

// A router's answer, as the error queue of a datagram socket gives it: the request it answers
// (the message and, as its name, the destination the router quotes), the ICMP type and code,
// and the router's address.
Read ReadQueuedError(const Channel& channel, const std::uint8_t* message, std::size_t size,
                     const sockaddr_storage& quoted, const Control& control, Answer* answer) {
  if (control.error == nullptr) return Read::kOther;
  sock_extended_err error{};
  std::memcpy(&error, control.error, sizeof error);
  const bool ipv4 = channel.family() == Family::kIpv4;
  // Errors of this host's own (a packet too big for the path, say) are no answers from the
  // network; they are drained and left aside.
  if (error.ee_origin != (ipv4 ? SO_EE_ORIGIN_ICMP : SO_EE_ORIGIN_ICMP6)) return Read::kOther;
  icmp::EchoHeader header;
  const bool echo = ipv4 ? icmp::ReadEchoHeader(message, size, &header)
                         : icmp6::ReadEchoHeader(message, size, &header);
  if (!echo) return Read::kOther;
  answer->sequence = header.sequence;
  answer->status = ipv4 ? icmp::StatusOf(error.ee_type, error.ee_code)
                        : icmp6::StatusOf(error.ee_type, error.ee_code);
  if (quoted.ss_family != (ipv4 ? AF_INET : AF_INET6)) return Read::kOther;
  answer->quotes = true;
  if (ipv4) {
    std::memcpy(answer->quotedDestination, &reinterpret_cast<const sockaddr_in&>(quoted).sin_addr,
                4);
  } else {
    std::memcpy(answer->quotedDestination, &reinterpret_cast<const sockaddr_in6&>(quoted).sin6_addr,
                16);
  }
  const auto* offender = reinterpret_cast<const std::uint8_t*>(control.error + 1);
  if (ipv4) {
    sockaddr_in router{};
    std::memcpy(&router, offender, sizeof router);
    if (router.sin_family != AF_INET) return Read::kOther;
    std::memcpy(answer->from, &router.sin_addr, 4);
  } else {
    sockaddr_in6 router{};
    std::memcpy(&router, offender, sizeof router);
    if (router.sin6_family != AF_INET6) return Read::kOther;
    std::memcpy(answer->from, &router.sin6_addr, 16);
    answer->scopeId = router.sin6_scope_id;
  }
  return Read::kAnswer;
}

}  // namespace

Channel::Channel(int fd, Family family, bool datagram)
    : fd_(fd), family_(family), datagram_(datagram) {}

Channel::~Channel() {
  close(fd_);
}

std::shared_ptr<Channel> OpenChannel(Family family) {
  bool datagram = true;
  int fd = socket(Domain(family), SOCK_DGRAM | SOCK_CLOEXEC, Protocol(family));
  if (fd < 0) {
    datagram = false;
    fd = socket(Domain(family), SOCK_RAW | SOCK_CLOEXEC, Protocol(family));
  }
  if (fd < 0) return SharedHandedOver(family);
  std::shared_ptr<Channel> channel;
  try {
    channel = std::make_shared<Channel>(fd, family, datagram);
  } catch (...) {
    close(fd);
    throw;
  }
  Prepare(*channel);
  return channel;
}

bool HandOver(int socket) {
  int previous[2] = {-1, -1};
  {
    const std::lock_guard<std::mutex> guard(handedOver.lock);
    if (socket < 0) {
      for (std::size_t i = 0; i < 2; ++i) {
        previous[i] = handedOver.fd[i];
        handedOver.fd[i] = -1;
        handedOver.shared[i].reset();
      }
    } else {
      const std::optional<Family> family = RawIcmpFamily(socket);
      if (!family) return false;
      const std::size_t index = Index(*family);
      previous[index] = handedOver.fd[index];
      handedOver.fd[index] = socket;
      handedOver.shared[index].reset();
    }
  }
  for (const int fd : previous) {
    if (fd >= 0 && fd != socket) close(fd);
  }
  return true;
}

int Send(const Channel& channel, const Request& request) {
  ApplyOptions(channel, request.options);
  iovec part{const_cast<std::uint8_t*>(request.message), request.size};
  msghdr message{};
  message.msg_name = const_cast<void*>(request.destination);
  message.msg_namelen = static_cast<socklen_t>(request.destinationSize);
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in6_pktinfo))] = {};
  if (channel.family() == Family::kIpv6 && request.source != nullptr) {
    // The source of this request alone: the socket stays bound to none.
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* part6 = CMSG_FIRSTHDR(&message);
    part6->cmsg_level = IPPROTO_IPV6;
    part6->cmsg_type = IPV6_PKTINFO;
    part6->cmsg_len = CMSG_LEN(sizeof(in6_pktinfo));
    in6_pktinfo information{};
    std::memcpy(&information.ipi6_addr, request.source, 16);
    std::memcpy(CMSG_DATA(part6), &information, sizeof information);
  }
  // A datagram socket reports an error that a router sent about an earlier request to the
  // next send as well, which then leaves nothing: that report is no failure of this request,
  // which is sent again.
  for (int attempt = 0;; ++attempt) {
    if (sendmsg(channel.fd(), &message, MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) return 0;
    const int error = errno;
    const bool reported = error == EHOSTUNREACH || error == ENETUNREACH || error == ECONNREFUSED ||
                          error == EPROTO || error == EACCES;
    if (!channel.datagram() || !reported || attempt > 0) return error;
  }
}

Read Receive(const Channel& channel, bool errorQueue, std::uint8_t* buffer, Answer* answer) {
  alignas(cmsghdr) char control[512];
  sockaddr_storage from{};
  iovec part{buffer, kReceiveBufferSize};
  msghdr message{};
  message.msg_name = &from;
  message.msg_namelen = sizeof from;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t size =
      recvmsg(channel.fd(), &message, MSG_DONTWAIT | (errorQueue ? MSG_ERRQUEUE : 0));
  if (size < 0) {
    // A raw socket may report an error for a request once; that is no message, but more may
    // follow it.
    const bool reported =
        errno == EHOSTUNREACH || errno == ENETUNREACH || errno == EMSGSIZE || errno == ECONNREFUSED;
    return reported ? Read::kOther : Read::kNone;
  }
  const auto length = static_cast<std::size_t>(size);
  *answer = Answer{};
  Control received;
  ReadControl(&message, &received);
  answer->stamp = received.stamp;
  if (received.ttl >= 0) answer->ttl = static_cast<UCHAR>(received.ttl);
  if (errorQueue) return ReadQueuedError(channel, buffer, length, from, received, answer);

  if (channel.family() == Family::kIpv4) {
    if (!channel.datagram()) {
      icmp::Answer read;
      if (!icmp::ReadAnswer(buffer, length, &read)) return Read::kOther;
      answer->identifier = read.echo.identifier;
      answer->sequence = read.echo.sequence;
      answer->status = icmp::StatusOf(read.type, read.code);
      std::memcpy(answer->from, &read.from, 4);
      answer->ttl = read.ttl;
      answer->data = read.data;
      answer->dataSize = read.dataSize;
      answer->quotes = read.type != icmp::kEchoReply;
      std::memcpy(answer->quotedDestination, read.quotedDestination, 4);
      return Read::kAnswer;
    }
    icmp::EchoHeader header;
    if (!icmp::ReadEchoHeader(buffer, length, &header) || header.type != icmp::kEchoReply ||
        from.ss_family != AF_INET) {
      return Read::kOther;
    }
    answer->sequence = header.sequence;
    std::memcpy(answer->from, &reinterpret_cast<const sockaddr_in*>(&from)->sin_addr, 4);
    answer->data = buffer + icmp::kHeaderSize;
    answer->dataSize = length - icmp::kHeaderSize;
    return Read::kAnswer;
  }

  // ICMPv6 sockets of both kinds pass the message without its IPv6 header.
  icmp6::Answer read;
  if (!icmp6::ReadAnswer(buffer, length, &read) || from.ss_family != AF_INET6) {
    return Read::kOther;
  }
  // A datagram socket's own error messages come through its error queue only.
  if (channel.datagram() && read.type != icmp6::kEchoReply) return Read::kOther;
  const auto* sender = reinterpret_cast<const sockaddr_in6*>(&from);
  answer->identifier = read.echo.identifier;
  answer->sequence = read.echo.sequence;
  answer->status = icmp6::StatusOf(read.type, read.code);
  std::memcpy(answer->from, &sender->sin6_addr, 16);
  answer->scopeId = sender->sin6_scope_id;
  answer->data = read.data;
  answer->dataSize = read.dataSize;
  answer->quotes = read.type != icmp6::kEchoReply;
  std::memcpy(answer->quotedDestination, read.quotedDestination, 16);
  return Read::kAnswer;
}

void ClearPendingError(const Channel& channel) {
  int pending = 0;
  socklen_t length = sizeof pending;
  getsockopt(channel.fd(), SOL_SOCKET, SO_ERROR, &pending, &length);
}

}  // namespace icmp_sockets
