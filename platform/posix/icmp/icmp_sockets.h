// The sockets of the echo service (icmp.h): opening one for a handle, sending a request from it,
// and reading what comes back, for both IPv4 and IPv6.
#ifndef TELVARIO_PLATFORM_POSIX_ICMP_SOCKETS_H
#define TELVARIO_PLATFORM_POSIX_ICMP_SOCKETS_H

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>

#include "icmp.h"

namespace icmp_sockets {

enum class Family { kIpv4, kIpv6 };

// A socket requests leave from and answers arrive on. A datagram socket receives only what
// answers its own requests; a raw one receives every echo reply and error message of its family
// that reaches the machine, and its handle picks out its own by identifier. Closed when the
// last handle using it lets go.
class Channel {
 public:
  Channel(int fd, Family family, bool datagram);
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;
  ~Channel();

  int fd() const { return fd_; }
  Family family() const { return family_; }
  bool datagram() const { return datagram_; }

 private:
  int fd_;
  Family family_;
  bool datagram_;
};

// The channel for a new handle: a datagram socket of its own, else a raw socket of its own,
// else the raw socket of the family the host handed over, shared by every handle that uses it.
// Null when there is none. May throw std::bad_alloc.
std::shared_ptr<Channel> OpenChannel(Family family);

// SetIcmpRawSocket's work: takes a raw ICMP or ICMPv6 socket, or closes both for -1.
bool HandOver(int socket);

// One echo request as it leaves.
struct Request {
  const std::uint8_t* message;  // ICMP(v6) header and data, the checksum left to Send
  std::size_t size;
  const void* destination;  // the system's sockaddr_in or sockaddr_in6
  std::size_t destinationSize;
  const std::uint8_t* source;  // IPv6 only: 16 bytes, or null for the system's choice
  const IP_OPTION_INFORMATION* options;
};

// Sends a request; 0, or the system's error number. Not to be called on one channel from two
// threads at once: the options are the socket's.
int Send(const Channel& channel, const Request& request);

// One message read from a channel, as an answer to an echo request.
struct Answer {
  std::uint16_t identifier = 0;  // raw sockets: of the request; datagram sockets: not set
  std::uint16_t sequence = 0;
  ULONG status = IP_SUCCESS;
  std::uint8_t from[16] = {};  // IPv4: 4 bytes in network order; IPv6: 16
  ULONG scopeId = 0;
  UCHAR ttl = 0;
  const std::uint8_t* data = nullptr;  // inside the buffer read into; none for routers' answers
  std::size_t dataSize = 0;
  std::optional<timespec> stamp;  // when the kernel received it, on the real-time clock
  // A router's answer quotes the request it is about: the destination that request was sent
  // to, by which it is told from one to another that a router garbled (IPv4: 4 bytes).
  bool quotes = false;
  std::uint8_t quotedDestination[16] = {};
};

constexpr std::size_t kReceiveBufferSize = 65536;

enum class Read { kNone, kOther, kAnswer };

// Reads one message from the channel's queue, or from its error queue (datagram sockets report
// routers' answers there), into the buffer of kReceiveBufferSize bytes, without waiting. kNone
// when nothing was left; kOther for a message that answers no echo request (or an error of this
// host's own).
Read Receive(const Channel& channel, bool errorQueue, std::uint8_t* buffer, Answer* answer);

// Reads and so clears the socket's pending error, which would otherwise keep waking its wait.
void ClearPendingError(const Channel& channel);

}  // namespace icmp_sockets

#endif
