// The ICMP echo service over an ICMP datagram socket, or a raw socket where the datagram kind
// is not allowed: one of its own, else the one the host handed over. See icmp.h.
#include "icmp.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

#include <fcntl.h>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <linux/icmp.h>  // after netinet/in.h, whose definitions it then leaves alone
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "icmp_packets.h"
#include "kernel.h"
#include "no_throw.h"

namespace {

using Clock = std::chrono::steady_clock;

struct EchoSocket {
  int fd = -1;
  bool datagram = false;
  bool handedOver = false;       // a duplicate of the host's socket, whose queue all of them share
  std::uint16_t identifier = 0;  // raw sockets only: the kernel sets it on datagram sockets
  std::uint16_t sequence = 0;
};

// The handles that are open, so that a stale or foreign handle is refused rather than used.
std::mutex openHandlesLock;
std::unordered_set<EchoSocket*> openHandles;
std::atomic<std::uint16_t> nextRawIdentifier{0};

// The raw socket the host handed over (SetIcmpRawSocket), closed when the module goes.
struct HandedOverSocket {
  std::mutex lock;
  int fd = -1;
  ~HandedOverSocket() {
    if (fd >= 0) close(fd);
  }
};
HandedOverSocket handedOver;
// Duplicates of one socket read one queue: a request waited for there must be the only one.
std::mutex handedOverRequestLock;

int DuplicateHandedOver() {
  const std::lock_guard<std::mutex> guard(handedOver.lock);
  return handedOver.fd >= 0 ? fcntl(handedOver.fd, F_DUPFD_CLOEXEC, 0) : -1;
}

bool IsRawIcmpSocket(int fd) {
  int domain = 0, type = 0, protocol = 0;
  socklen_t length = sizeof domain;
  if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0) return false;
  length = sizeof type;
  if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0) return false;
  length = sizeof protocol;
  if (getsockopt(fd, SOL_SOCKET, SO_PROTOCOL, &protocol, &length) != 0) return false;
  return domain == AF_INET && type == SOCK_RAW && protocol == IPPROTO_ICMP;
}

// A raw socket gets a copy of every ICMP message the machine receives; only those that can
// answer an echo request are let through.
void ReceiveAnswersOnly(int fd) {
  icmp_filter filter{};
  filter.data = ~((1U << icmp::kEchoReply) | (1U << icmp::kDestinationUnreachable) |
                  (1U << icmp::kSourceQuench) | (1U << icmp::kTimeExceeded) |
                  (1U << icmp::kParameterProblem));
  setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
}

EchoSocket* Lookup(HANDLE handle) {
  const std::lock_guard<std::mutex> guard(openHandlesLock);
  auto* echoSocket = static_cast<EchoSocket*>(handle);
  return openHandles.count(echoSocket) != 0 ? echoSocket : nullptr;
}

// The moment a request left, on both clocks: the kernel stamps what it receives with the
// real-time clock, and the monotonic one stands in when it gives no stamp.
struct SendTime {
  Clock::time_point monotonic;
  timespec realTime{};
};

// What one received message says about the request.
struct Received {
  IPAddr from = 0;
  ULONG status = IP_SUCCESS;
  UCHAR ttl = 0;
  std::vector<std::uint8_t> data;
  std::optional<timespec> stamp;
};

ULONG Milliseconds(const SendTime& sent, const std::optional<timespec>& stamp) {
  if (stamp) {
    const long long nanoseconds = (stamp->tv_sec - sent.realTime.tv_sec) * 1000000000LL +
                                  stamp->tv_nsec - sent.realTime.tv_nsec;
    // A stamp before the send or far after it means the real-time clock was set meanwhile.
    if (nanoseconds >= 0 && nanoseconds < 3600LL * 1000000000LL) {
      return static_cast<ULONG>(nanoseconds / 1000000);
    }
  }
  const auto elapsed = Clock::now() - sent.monotonic;
  return static_cast<ULONG>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void ReadControl(msghdr* message, Received* received, sockaddr_in* offender) {
  for (cmsghdr* control = CMSG_FIRSTHDR(message); control != nullptr;
       control = CMSG_NXTHDR(message, control)) {
    if (control->cmsg_level == SOL_SOCKET && control->cmsg_type == SCM_TIMESTAMPNS) {
      timespec stamp{};
      std::memcpy(&stamp, CMSG_DATA(control), sizeof stamp);
      received->stamp = stamp;
    } else if (control->cmsg_level == IPPROTO_IP && control->cmsg_type == IP_TTL) {
      int ttl = 0;
      std::memcpy(&ttl, CMSG_DATA(control), sizeof ttl);
      received->ttl = static_cast<UCHAR>(ttl);
    } else if (control->cmsg_level == IPPROTO_IP && control->cmsg_type == IP_RECVERR &&
               offender != nullptr) {
      sock_extended_err error{};
      std::memcpy(&error, CMSG_DATA(control), sizeof error);
      // Errors of this host's own (a packet too big for the path with DF set, say) are not
      // answers from the network; they are drained and left aside.
      if (error.ee_origin != SO_EE_ORIGIN_ICMP) continue;
      received->status = icmp::StatusOf(error.ee_type, error.ee_code);
      std::memcpy(offender,
                  SO_EE_OFFENDER(reinterpret_cast<sock_extended_err*>(CMSG_DATA(control))),
                  sizeof *offender);
      offender->sin_family = AF_INET;
    }
  }
}

// Reads one message; true when it answers the request with this sequence number.
bool ReadOne(const EchoSocket& echo, std::uint16_t sequence, bool errorQueue, Received* received) {
  std::uint8_t buffer[65536];
  alignas(cmsghdr) char control[512];
  sockaddr_in from{};
  iovec part{buffer, sizeof buffer};
  msghdr message{};
  message.msg_name = &from;
  message.msg_namelen = sizeof from;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t size = recvmsg(echo.fd, &message, MSG_DONTWAIT | (errorQueue ? MSG_ERRQUEUE : 0));
  if (size < 0) return false;
  const auto length = static_cast<std::size_t>(size);
  *received = Received{};
  if (!echo.datagram) {
    icmp::Answer answer;
    if (!icmp::ReadAnswer(buffer, length, &answer)) return false;
    if (answer.echo.identifier != echo.identifier || answer.echo.sequence != sequence) return false;
    ReadControl(&message, received, nullptr);
    received->from = answer.from;
    received->ttl = answer.ttl;
    received->status = icmp::StatusOf(answer.type, answer.code);
    received->data.assign(answer.data, answer.data + answer.dataSize);
    return true;
  }
  icmp::EchoHeader header;
  if (!icmp::ReadEchoHeader(buffer, length, &header) || header.sequence != sequence) return false;
  if (errorQueue) {
    // The error queue gives back the request itself, with the router that answered.
    sockaddr_in offender{};
    ReadControl(&message, received, &offender);
    if (offender.sin_family != AF_INET) return false;
    received->from = offender.sin_addr.s_addr;
    return true;
  }
  if (header.type != icmp::kEchoReply) return false;
  ReadControl(&message, received, nullptr);
  received->from = from.sin_addr.s_addr;
  received->status = IP_SUCCESS;
  received->data.assign(buffer + icmp::kHeaderSize, buffer + length);
  return true;
}

// Reading the pending error clears it, so that it neither fails the next send nor keeps a wait
// waking up.
void ClearPendingError(const EchoSocket& echo) {
  int pending = 0;
  socklen_t length = sizeof pending;
  getsockopt(echo.fd, SOL_SOCKET, SO_ERROR, &pending, &length);
}

// Throws away what earlier requests left: late replies, errors, and the socket's pending error.
void DrainStale(const EchoSocket& echo) {
  std::uint8_t buffer[2048];
  alignas(cmsghdr) char control[512];
  for (const int flags : {int{MSG_DONTWAIT}, MSG_DONTWAIT | MSG_ERRQUEUE}) {
    for (;;) {
      iovec part{buffer, sizeof buffer};
      msghdr message{};
      message.msg_iov = &part;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      if (recvmsg(echo.fd, &message, flags) < 0 && errno != EHOSTUNREACH && errno != ENETUNREACH &&
          errno != EMSGSIZE && errno != ECONNREFUSED) {
        break;
      }
    }
  }
  ClearPendingError(echo);
}

void ApplyOptions(const EchoSocket& echo, const IP_OPTION_INFORMATION* options) {
  // A time to live of 0 cannot be sent; it stands for the system's default, as under Wine.
  const int ttl = options != nullptr && options->Ttl != 0 ? options->Ttl : -1;
  const int tos = options != nullptr ? options->Tos : 0;
  const bool dontFragment = options != nullptr && (options->Flags & IP_FLAG_DF) != 0;
  const int discovery = dontFragment ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
  setsockopt(echo.fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
  setsockopt(echo.fd, IPPROTO_IP, IP_TOS, &tos, sizeof tos);
  setsockopt(echo.fd, IPPROTO_IP, IP_MTU_DISCOVER, &discovery, sizeof discovery);
}

ULONG StatusOfSendError(int error) {
  switch (error) {
    case EMSGSIZE:
      return IP_PACKET_TOO_BIG;
    case ENETUNREACH:
      return IP_DEST_NET_UNREACHABLE;
    case EHOSTUNREACH:
      return IP_DEST_HOST_UNREACHABLE;
    case EACCES:
    case EINVAL:
      return IP_BAD_DESTINATION;
    case ENOBUFS:
    case ENOMEM:
      return IP_NO_RESOURCES;
    default:
      return IP_GENERAL_FAILURE;
  }
}

DWORD Fail(ULONG status) {
  SetLastError(status);
  return 0;
}

void WriteRecord(const Received& received, ULONG roundTrip, void* replyBuffer, DWORD replySize) {
  auto* record = static_cast<ICMP_ECHO_REPLY*>(replyBuffer);
  auto* data = static_cast<std::uint8_t*>(replyBuffer) + sizeof(ICMP_ECHO_REPLY);
  const std::size_t room = replySize - sizeof(ICMP_ECHO_REPLY);
  const std::size_t dataSize = std::min({received.data.size(), room, std::size_t{0xFFFF}});
  std::copy_n(received.data.begin(), dataSize, data);
  *record = ICMP_ECHO_REPLY{};
  record->Address = received.from;
  record->Status = received.status;
  record->RoundTripTime = roundTrip;
  record->DataSize = static_cast<USHORT>(dataSize);
  record->Data = data;
  record->Options.Ttl = received.ttl;
}

}  // namespace

HANDLE IcmpCreateFile() {
  return WithoutThrowing(ReportsLastError<HANDLE>{INVALID_HANDLE_VALUE}, [&]() -> HANDLE {
    auto echo = std::make_unique<EchoSocket>();
    echo->fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    echo->datagram = echo->fd >= 0;
    if (echo->fd < 0) echo->fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (echo->fd < 0) {
      echo->fd = DuplicateHandedOver();
      echo->handedOver = echo->fd >= 0;
    }
    if (echo->fd < 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    const int on = 1;
    setsockopt(echo->fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    if (echo->datagram) {
      setsockopt(echo->fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
      setsockopt(echo->fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
    } else {
      echo->identifier = static_cast<std::uint16_t>(getpid() + 0x9E37 * nextRawIdentifier++);
      ReceiveAnswersOnly(echo->fd);
    }
    const std::lock_guard<std::mutex> guard(openHandlesLock);
    openHandles.insert(echo.get());
    return echo.release();
  });
}

BOOL IcmpCloseHandle(HANDLE icmpHandle) {
  EchoSocket* echo = nullptr;
  {
    const std::lock_guard<std::mutex> guard(openHandlesLock);
    echo = static_cast<EchoSocket*>(icmpHandle);
    if (openHandles.erase(echo) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  close(echo->fd);
  delete echo;
  return TRUE;
}

DWORD IcmpSendEcho(HANDLE icmpHandle, IPAddr destinationAddress, void* requestData,
                   WORD requestSize, PIP_OPTION_INFORMATION requestOptions, void* replyBuffer,
                   DWORD replySize, DWORD timeout) {
  return WithoutThrowing(ReportsLastError<DWORD>{0}, [&]() -> DWORD {
    EchoSocket* echo = Lookup(icmpHandle);
    if (echo == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return 0;
    }
    if ((requestData == nullptr && requestSize > 0) || replyBuffer == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    if (replySize < sizeof(ICMP_ECHO_REPLY) + requestSize + 8) return Fail(IP_BUF_TOO_SMALL);

    std::unique_lock<std::mutex> oneAtATime(handedOverRequestLock, std::defer_lock);
    if (echo->handedOver) oneAtATime.lock();
    DrainStale(*echo);
    ApplyOptions(*echo, requestOptions);
    const std::uint16_t sequence = echo->sequence++;
    std::vector<std::uint8_t> message(icmp::kHeaderSize + requestSize);
    message[0] = icmp::kEchoRequest;
    message[4] = static_cast<std::uint8_t>(echo->identifier >> 8);
    message[5] = static_cast<std::uint8_t>(echo->identifier);
    message[6] = static_cast<std::uint8_t>(sequence >> 8);
    message[7] = static_cast<std::uint8_t>(sequence);
    if (requestSize > 0) std::memcpy(message.data() + icmp::kHeaderSize, requestData, requestSize);
    if (!echo->datagram) {
      const std::uint16_t checksum = icmp::InternetChecksum(message.data(), message.size());
      message[2] = static_cast<std::uint8_t>(checksum >> 8);
      message[3] = static_cast<std::uint8_t>(checksum);
    }
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = destinationAddress;

    SendTime sent;
    sent.monotonic = Clock::now();
    clock_gettime(CLOCK_REALTIME, &sent.realTime);
    if (sendto(echo->fd, message.data(), message.size(), 0,
               reinterpret_cast<const sockaddr*>(&destination), sizeof destination) < 0) {
      return Fail(StatusOfSendError(errno));
    }

    const Clock::time_point deadline = sent.monotonic + std::chrono::milliseconds(timeout);
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return Fail(IP_REQ_TIMED_OUT);
      pollfd waiting{echo->fd, POLLIN, 0};
      if (poll(&waiting, 1, static_cast<int>(left)) <= 0) continue;
      Received received;
      const bool answered =
          ((waiting.revents & POLLERR) != 0 && echo->datagram &&
           ReadOne(*echo, sequence, true, &received)) ||
          ((waiting.revents & POLLIN) != 0 && ReadOne(*echo, sequence, false, &received));
      if (!answered) {
        // What was read answered another request, or was an error of this host's own.
        if ((waiting.revents & POLLERR) != 0) ClearPendingError(*echo);
        continue;
      }
      WriteRecord(received, Milliseconds(sent, received.stamp), replyBuffer, replySize);
      SetLastError(received.status);
      return 1;
    }
  });
}

extern "C" BOOL SetIcmpRawSocket(int socket) {
  if (socket >= 0 && !IsRawIcmpSocket(socket)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int previous = -1;
  {
    const std::lock_guard<std::mutex> guard(handedOver.lock);
    previous = handedOver.fd;
    handedOver.fd = socket;
  }
  if (previous >= 0 && previous != socket) close(previous);
  return TRUE;
}
