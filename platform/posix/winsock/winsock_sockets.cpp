// Sockets of Windows Sockets 2 over the system's: a SOCKET is the socket's file descriptor.
//
// Reproduced from Windows: every call needs a start-up in force (WSANOTINITIALISED) and a
// socket (WSAENOTSOCK, also for a descriptor of anything else, which closesocket leaves open);
// failures give SOCKET_ERROR (INVALID_SOCKET from socket) with Windows' code as the last error:
// a non-blocking connect under way is WSAEWOULDBLOCK, a refused one WSAECONNREFUSED; a datagram
// longer than the buffer fills it and fails with WSAEMSGSIZE; sending never raises a signal;
// SO_ERROR reads Windows' code of the pending error; SO_RCVBUF reads back the size that was set
// (the system reports double, its own bookkeeping included); WSAPoll takes and gives Windows'
// POLL* bits, reporting only those asked for besides POLLERR, POLLHUP and POLLNVAL.
// The options are those of the socket, TCP, IPv4 and IPv6 levels named in winsock_api.h; any
// other fails with WSAENOPROTOOPT (WSAEINVAL for another level). Where it differs: sending on a
// connection the peer reset fails with WSAECONNRESET every time, where Windows may also say
// WSAECONNABORTED, and after shutdown(SD_SEND) with WSAECONNRESET rather than WSAESHUTDOWN.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "winsock_api.h"
#include "winsock_translation.h"

namespace winsock {
namespace {

using translation::SetError;

constexpr int kSocketError = -1;
constexpr SOCKET kInvalidSocket = ~SOCKET{0};

int Fail(int code) {
  SetError(code);
  return kSocketError;
}

int FailWithErrno() {
  return Fail(translation::ErrorOf(errno));
}

// The descriptor of a socket, or -1 (the error set) when there is none.
int DescriptorOf(SOCKET socket) {
  if (!translation::Started()) return -1;
  struct stat status {};
  if (socket > static_cast<SOCKET>(INT_MAX) || fstat(static_cast<int>(socket), &status) != 0 ||
      !S_ISSOCK(status.st_mode)) {
    SetError(error::kNotSocket);
    return -1;
  }
  return static_cast<int>(socket);
}

// The system's message flags for Windows', -1 for one without a counterpart.
int SystemMessageFlags(int flags) {
  int system = MSG_NOSIGNAL;
  if ((flags & value::kMsgOob) != 0) system |= MSG_OOB;
  if ((flags & value::kMsgPeek) != 0) system |= MSG_PEEK;
  if ((flags & value::kMsgWaitAll) != 0) system |= MSG_WAITALL;
  const int known = value::kMsgOob | value::kMsgPeek | value::kMsgWaitAll;
  return (flags & ~known) == 0 ? system : -1;
}

int Receive(SOCKET socket, char* buffer, int length, int flags, sockaddr* from, int* fromLength) {
  const int fd = DescriptorOf(socket);
  if (fd < 0) return kSocketError;
  const int systemFlags = SystemMessageFlags(flags);
  if (systemFlags < 0) return Fail(error::kOperationNotSupported);
  if (length < 0 || (buffer == nullptr && length > 0)) return Fail(error::kFault);
  if (from != nullptr && fromLength == nullptr) return Fail(error::kFault);
  ::sockaddr_storage address{};
  iovec part{buffer, static_cast<std::size_t>(length)};
  msghdr message{};
  message.msg_name = &address;
  message.msg_namelen = sizeof address;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  const ssize_t received = recvmsg(fd, &message, systemFlags & ~MSG_NOSIGNAL);
  if (received < 0) return FailWithErrno();
  if (from != nullptr && message.msg_namelen > 0 &&
      !translation::ToWindows(address, message.msg_namelen, from, fromLength)) {
    return kSocketError;
  }
  if ((message.msg_flags & MSG_TRUNC) != 0) return Fail(error::kMessageSize);
  return static_cast<int>(received);
}

enum class OptionKind { kInteger, kBoolean, kError };

struct Option {
  int level;
  int name;
  int systemLevel;
  int systemName;
  OptionKind kind;
};

constexpr Option kOptions[] = {
    {value::kSolSocket, value::kSoRcvBuf, SOL_SOCKET, SO_RCVBUF, OptionKind::kInteger},
    {value::kSolSocket, value::kSoError, SOL_SOCKET, SO_ERROR, OptionKind::kError},
    {value::kIpProtoTcp, value::kTcpNoDelay, IPPROTO_TCP, TCP_NODELAY, OptionKind::kBoolean},
    {value::kIpProtoIp, value::kIpTtl, IPPROTO_IP, IP_TTL, OptionKind::kInteger},
    {value::kIpProtoIpv6, value::kIpv6UnicastHops, IPPROTO_IPV6, IPV6_UNICAST_HOPS,
     OptionKind::kInteger},
};

// The option Windows names, or null (the error set) for one not provided.
const Option* FindOption(int level, int name) {
  bool levelKnown = false;
  for (const Option& option : kOptions) {
    if (option.level != level) continue;
    levelKnown = true;
    if (option.name == name) return &option;
  }
  SetError(levelKnown ? error::kNoProtocolOption : error::kInvalid);
  return nullptr;
}

}  // namespace

SOCKET socket(int family, int type, int protocol) {
  if (!translation::Started()) return kInvalidSocket;
  const int systemFamily = translation::SystemFamily(family);
  if (systemFamily != AF_INET && systemFamily != AF_INET6) {
    SetError(error::kAddressFamilyNotSupported);
    return kInvalidSocket;
  }
  if (type != value::kSockStream && type != value::kSockDgram && type != value::kSockRaw) {
    SetError(error::kSocketTypeNotSupported);
    return kInvalidSocket;
  }
  // Windows' types and protocols have the system's numbers.
  const int fd = ::socket(systemFamily, type | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    SetError(translation::ErrorOf(errno));
    return kInvalidSocket;
  }
  return static_cast<SOCKET>(fd);
}

int closesocket(SOCKET socket) {
  const int fd = DescriptorOf(socket);
  if (fd < 0) return kSocketError;
  // The descriptor is gone even when close reports an error, as the socket is on Windows.
  close(fd);
  return 0;
}

int connect(SOCKET socket, const sockaddr* name, int nameLength) {
  const int fd = DescriptorOf(socket);
  if (fd < 0) return kSocketError;
  ::sockaddr_storage address{};
  socklen_t length = 0;
  if (!translation::ToSystem(name, nameLength, &address, &length)) return kSocketError;
  if (::connect(fd, reinterpret_cast<const ::sockaddr*>(&address), length) != 0) {
    return FailWithErrno();
  }
  return 0;
}

int getsockname(SOCKET socket, sockaddr* name, int* nameLength) {
  const int fd = DescriptorOf(socket);
  if (fd < 0) return kSocketError;
  if (name == nullptr || nameLength == nullptr) return Fail(error::kFault);
  ::sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<::sockaddr*>(&address), &length) != 0) {
    return FailWithErrno();
  }
  return translation::ToWindows(address, length, name, nameLength) ? 0 : kSocketError;
}

int send(SOCKET socket, const char* buffer, int length, int flags) {
  return sendto(socket, buffer, length, flags, nullptr, 0);
}

int recv(SOCKET socket, char* buffer, int length, int flags) {
  return Receive(socket, buffer, length, flags, nullptr, nullptr);
}

int sendto(SOCKET socket, const char* buffer, int length, int flags, const sockaddr* to,
           int toLength) {
  const int fd = DescriptorOf(socket);
  if (fd < 0) return kSocketError;
  const int systemFlags = SystemMessageFlags(flags);
  if (systemFlags < 0) return Fail(error::kOperationNotSupported);
  if (length < 0 || (buffer == nullptr && length > 0)) return Fail(error::kFault);
  ::sockaddr_storage address{};
  socklen_t addressLength = 0;
  if (to != nullptr && !translation::ToSystem(to, toLength, &address, &addressLength)) {
    return kSocketError;
  }
  const ssize_t sent = ::sendto(
      fd, buffer, static_cast<std::size_t>(length), systemFlags,
      to != nullptr ? reinterpret_cast<const ::sockaddr*>(&address) : nullptr, addressLength);
  if (sent < 0) return FailWithErrno();
  return static_cast<int>(sent);
}

int recvfrom(SOCKET socket, char* buffer, int length, int flags, sockaddr* from, int* fromLength) {
  return Receive(socket, buffer, length, flags, from, fromLength);
}

int shutdown(SOCKET socket, int how) {
  const int fd = DescriptorOf(socket);
  if (fd < 0) return kSocketError;
  if (how != value::kSdReceive && how != value::kSdSend && how != value::kSdBoth) {
    return Fail(error::kInvalid);
  }
  // SD_RECEIVE, SD_SEND and SD_BOTH have the numbers of SHUT_RD, SHUT_WR and SHUT_RDWR.
  if (::shutdown(fd, how) != 0) return FailWithErrno();
  return 0;
}

int ioctlsocket(SOCKET socket, LONG command, ULONG* argument) {
  const int fd = DescriptorOf(socket);
  if (fd < 0) return kSocketError;
  if (command != value::kFionbio) return Fail(error::kInvalid);
  if (argument == nullptr) return Fail(error::kFault);
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return FailWithErrno();
  const int wanted = *argument != 0 ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
  if (wanted != flags && fcntl(fd, F_SETFL, wanted) != 0) return FailWithErrno();
  return 0;
}

int setsockopt(SOCKET socket, int level, int name, const char* value, int length) {
  const int fd = DescriptorOf(socket);
  if (fd < 0) return kSocketError;
  const Option* option = FindOption(level, name);
  if (option == nullptr) return kSocketError;
  if (option->kind == OptionKind::kError) return Fail(error::kNoProtocolOption);
  if (value == nullptr) return Fail(error::kFault);
  int setting = 0;
  if (option->kind == OptionKind::kBoolean && length >= 1 &&
      length < static_cast<int>(sizeof setting)) {
    setting = value[0] != 0 ? 1 : 0;  // Windows takes a one-byte BOOLEAN too
  } else if (length >= static_cast<int>(sizeof setting)) {
    std::memcpy(&setting, value, sizeof setting);
    if (option->kind == OptionKind::kBoolean) setting = setting != 0 ? 1 : 0;
  } else {
    return Fail(error::kFault);
  }
  if (::setsockopt(fd, option->systemLevel, option->systemName, &setting, sizeof setting) != 0) {
    return FailWithErrno();
  }
  return 0;
}

int getsockopt(SOCKET socket, int level, int name, char* value, int* length) {
  const int fd = DescriptorOf(socket);
  if (fd < 0) return kSocketError;
  const Option* option = FindOption(level, name);
  if (option == nullptr) return kSocketError;
  int setting = 0;
  if (value == nullptr || length == nullptr || *length < static_cast<int>(sizeof setting)) {
    return Fail(error::kFault);
  }
  socklen_t size = sizeof setting;
  if (::getsockopt(fd, option->systemLevel, option->systemName, &setting, &size) != 0) {
    return FailWithErrno();
  }
  if (option->kind == OptionKind::kError) setting = translation::ErrorOf(setting);
  if (option->systemLevel == SOL_SOCKET && option->systemName == SO_RCVBUF) setting /= 2;
  std::memcpy(value, &setting, sizeof setting);
  *length = sizeof setting;
  return 0;
}

int WSAPoll(WSAPOLLFD* sockets, ULONG count, INT timeout) {
  if (!translation::Started()) return kSocketError;
  if (sockets == nullptr) return Fail(error::kFault);
  if (count == 0) return Fail(error::kInvalid);
  struct Bits {
    SHORT windows;
    short system;
  };
  constexpr Bits kAsked[] = {{value::kPollRdNorm, POLLIN},
                             {value::kPollRdBand, POLLRDBAND},
                             {value::kPollPri, POLLPRI},
                             {value::kPollWrNorm, POLLOUT},
                             {value::kPollWrBand, POLLWRBAND}};
  constexpr Bits kReported[] = {{value::kPollRdNorm, POLLIN},     {value::kPollRdNorm, POLLRDNORM},
                                {value::kPollRdBand, POLLRDBAND}, {value::kPollPri, POLLPRI},
                                {value::kPollWrNorm, POLLOUT},    {value::kPollWrNorm, POLLWRNORM},
                                {value::kPollWrBand, POLLWRBAND}, {value::kPollErr, POLLERR},
                                {value::kPollHup, POLLHUP},       {value::kPollNval, POLLNVAL}};
  std::vector<pollfd> waits;
  try {
    waits.resize(count);
  } catch (...) {
    return Fail(error::kNoBuffers);
  }
  for (ULONG i = 0; i < count; ++i) {
    waits[i].fd =
        sockets[i].fd > static_cast<SOCKET>(INT_MAX) ? -1 : static_cast<int>(sockets[i].fd);
    for (const Bits& bits : kAsked) {
      if ((sockets[i].events & bits.windows) != 0) {
        waits[i].events = static_cast<short>(waits[i].events | bits.system);
      }
    }
  }
  // Windows' wait is not cut short by signals: a wait that is interrupted goes on for the rest.
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout);
  int ready = 0;
  for (;;) {
    int wait = timeout;
    if (timeout > 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = static_cast<int>(std::max<long long>(left, 0));
    }
    ready = poll(waits.data(), count, wait);
    if (ready >= 0 || errno != EINTR) break;
  }
  if (ready < 0) return FailWithErrno();
  ready = 0;
  for (ULONG i = 0; i < count; ++i) {
    SHORT reported = 0;
    for (const Bits& bits : kReported) {
      if ((waits[i].revents & bits.system) != 0) {
        reported = static_cast<SHORT>(reported | bits.windows);
      }
    }
    if (waits[i].fd < 0) reported = value::kPollNval;
    const auto always = static_cast<SHORT>(value::kPollErr | value::kPollHup | value::kPollNval);
    sockets[i].revents = static_cast<SHORT>(reported & (sockets[i].events | always));
    if (sockets[i].revents != 0) ++ready;
  }
  return ready;
}

}  // namespace winsock
