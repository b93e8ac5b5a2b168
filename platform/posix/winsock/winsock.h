// Windows Sockets names for code written against <winsock2.h> and <ws2tcpip.h>.
#ifndef TELVARIO_PLATFORM_POSIX_WINSOCK_H
#define TELVARIO_PLATFORM_POSIX_WINSOCK_H

#include "winsock_api.h"

using winsock::addrinfo;
using winsock::closesocket;
using winsock::connect;
using winsock::freeaddrinfo;
using winsock::getaddrinfo;
using winsock::gethostbyaddr;
using winsock::gethostbyname;
using winsock::getnameinfo;
using winsock::getsockname;
using winsock::getsockopt;
using winsock::hostent;
using winsock::htons;
using winsock::in6_addr;
using winsock::in_addr;
using winsock::inet_addr;
using winsock::inet_ntoa;
using winsock::inet_ntop;
using winsock::inet_pton;
using winsock::ioctlsocket;
using winsock::ntohs;
using winsock::recv;
using winsock::recvfrom;
using winsock::send;
using winsock::sendto;
using winsock::setsockopt;
using winsock::shutdown;
using winsock::sockaddr;
using winsock::sockaddr_in;
using winsock::sockaddr_in6;
using winsock::sockaddr_storage;
using winsock::socket;
using winsock::SOCKET;
using winsock::WSACleanup;
using winsock::WSADATA;
using winsock::WSAGetLastError;
using winsock::WSAPoll;
using winsock::WSAPOLLFD;
using winsock::WSAStartup;
using ADDRESS_FAMILY = winsock::ADDRESS_FAMILY;
using ADDRINFOA = winsock::addrinfo;
using PADDRINFOA = winsock::addrinfo*;
using HOSTENT = winsock::hostent;
using IN_ADDR = winsock::in_addr;
using IN6_ADDR = winsock::in6_addr;
using SOCKADDR = winsock::sockaddr;
using SOCKADDR_IN = winsock::sockaddr_in;
using SOCKADDR_IN6 = winsock::sockaddr_in6;
using SOCKADDR_STORAGE = winsock::sockaddr_storage;
using LPWSAPOLLFD = winsock::WSAPOLLFD*;

// Windows declares the argument u_long, 32 bits; the C library's u_long that code sees here is
// wider, so a u_long argument is taken too, and passed on as the 32 bits Windows reads.
inline int ioctlsocket(SOCKET socket, LONG command, unsigned long* argument) {
  if (argument == nullptr) return winsock::ioctlsocket(socket, command, nullptr);
  ULONG value = static_cast<ULONG>(*argument);
  const int result = winsock::ioctlsocket(socket, command, &value);
  *argument = value;
  return result;
}

// The member names Windows gives in6_addr's bytes and words.
#define s6_addr u.Byte
#define s6_bytes u.Byte
#define s6_words u.Word

constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
constexpr int SOCKET_ERROR = -1;
constexpr ULONG INADDR_NONE = 0xFFFFFFFF;
constexpr int INET_ADDRSTRLEN = 22;
constexpr int INET6_ADDRSTRLEN = 65;

constexpr int AF_UNSPEC = winsock::value::kAfUnspec;
constexpr int AF_INET = winsock::value::kAfInet;
constexpr int AF_INET6 = winsock::value::kAfInet6;
constexpr int SOCK_STREAM = winsock::value::kSockStream;
constexpr int SOCK_DGRAM = winsock::value::kSockDgram;
constexpr int SOCK_RAW = winsock::value::kSockRaw;
constexpr int IPPROTO_IP = winsock::value::kIpProtoIp;
constexpr int IPPROTO_ICMP = winsock::value::kIpProtoIcmp;
constexpr int IPPROTO_TCP = winsock::value::kIpProtoTcp;
constexpr int IPPROTO_UDP = winsock::value::kIpProtoUdp;
constexpr int IPPROTO_IPV6 = winsock::value::kIpProtoIpv6;
constexpr int IPPROTO_ICMPV6 = winsock::value::kIpProtoIcmpv6;
constexpr int SOL_SOCKET = winsock::value::kSolSocket;
constexpr int SO_RCVBUF = winsock::value::kSoRcvBuf;
constexpr int SO_ERROR = winsock::value::kSoError;
constexpr int TCP_NODELAY = winsock::value::kTcpNoDelay;
constexpr int IP_TTL = winsock::value::kIpTtl;
constexpr int IPV6_UNICAST_HOPS = winsock::value::kIpv6UnicastHops;
constexpr LONG FIONBIO = winsock::value::kFionbio;
constexpr int SD_RECEIVE = winsock::value::kSdReceive;
constexpr int SD_SEND = winsock::value::kSdSend;
constexpr int SD_BOTH = winsock::value::kSdBoth;
constexpr int MSG_OOB = winsock::value::kMsgOob;
constexpr int MSG_PEEK = winsock::value::kMsgPeek;
constexpr int MSG_WAITALL = winsock::value::kMsgWaitAll;
constexpr SHORT POLLRDNORM = winsock::value::kPollRdNorm;
constexpr SHORT POLLRDBAND = winsock::value::kPollRdBand;
constexpr SHORT POLLIN = POLLRDNORM | POLLRDBAND;
constexpr SHORT POLLPRI = winsock::value::kPollPri;
constexpr SHORT POLLWRNORM = winsock::value::kPollWrNorm;
constexpr SHORT POLLOUT = POLLWRNORM;
constexpr SHORT POLLWRBAND = winsock::value::kPollWrBand;
constexpr SHORT POLLERR = winsock::value::kPollErr;
constexpr SHORT POLLHUP = winsock::value::kPollHup;
constexpr SHORT POLLNVAL = winsock::value::kPollNval;
constexpr int AI_PASSIVE = winsock::value::kAiPassive;
constexpr int AI_CANONNAME = winsock::value::kAiCanonName;
constexpr int AI_NUMERICHOST = winsock::value::kAiNumericHost;
constexpr int AI_NUMERICSERV = winsock::value::kAiNumericServ;
constexpr int AI_ALL = winsock::value::kAiAll;
constexpr int AI_ADDRCONFIG = winsock::value::kAiAddrConfig;
constexpr int AI_V4MAPPED = winsock::value::kAiV4Mapped;
constexpr int NI_NOFQDN = winsock::value::kNiNoFqdn;
constexpr int NI_NUMERICHOST = winsock::value::kNiNumericHost;
constexpr int NI_NAMEREQD = winsock::value::kNiNameReqd;
constexpr int NI_NUMERICSERV = winsock::value::kNiNumericServ;
constexpr int NI_DGRAM = winsock::value::kNiDgram;
constexpr int NI_MAXHOST = winsock::value::kNiMaxHost;

constexpr int WSA_NOT_ENOUGH_MEMORY = winsock::error::kNotEnoughMemory;
constexpr int WSA_INVALID_PARAMETER = winsock::error::kInvalidParameter;
constexpr int WSAEINTR = winsock::error::kInterrupted;
constexpr int WSAEBADF = winsock::error::kBadFile;
constexpr int WSAEACCES = winsock::error::kAccess;
constexpr int WSAEFAULT = winsock::error::kFault;
constexpr int WSAEINVAL = winsock::error::kInvalid;
constexpr int WSAEMFILE = winsock::error::kTooManyOpen;
constexpr int WSAEWOULDBLOCK = winsock::error::kWouldBlock;
constexpr int WSAEINPROGRESS = winsock::error::kInProgress;
constexpr int WSAEALREADY = winsock::error::kAlready;
constexpr int WSAENOTSOCK = winsock::error::kNotSocket;
constexpr int WSAEDESTADDRREQ = winsock::error::kDestinationRequired;
constexpr int WSAEMSGSIZE = winsock::error::kMessageSize;
constexpr int WSAEPROTOTYPE = winsock::error::kProtocolType;
constexpr int WSAENOPROTOOPT = winsock::error::kNoProtocolOption;
constexpr int WSAEPROTONOSUPPORT = winsock::error::kProtocolNotSupported;
constexpr int WSAESOCKTNOSUPPORT = winsock::error::kSocketTypeNotSupported;
constexpr int WSAEOPNOTSUPP = winsock::error::kOperationNotSupported;
constexpr int WSAEAFNOSUPPORT = winsock::error::kAddressFamilyNotSupported;
constexpr int WSAEADDRINUSE = winsock::error::kAddressInUse;
constexpr int WSAEADDRNOTAVAIL = winsock::error::kAddressNotAvailable;
constexpr int WSAENETDOWN = winsock::error::kNetworkDown;
constexpr int WSAENETUNREACH = winsock::error::kNetworkUnreachable;
constexpr int WSAENETRESET = winsock::error::kNetworkReset;
constexpr int WSAECONNABORTED = winsock::error::kConnectionAborted;
constexpr int WSAECONNRESET = winsock::error::kConnectionReset;
constexpr int WSAENOBUFS = winsock::error::kNoBuffers;
constexpr int WSAEISCONN = winsock::error::kIsConnected;
constexpr int WSAENOTCONN = winsock::error::kNotConnected;
constexpr int WSAESHUTDOWN = winsock::error::kShutdown;
constexpr int WSAETIMEDOUT = winsock::error::kTimedOut;
constexpr int WSAECONNREFUSED = winsock::error::kConnectionRefused;
constexpr int WSAEHOSTDOWN = winsock::error::kHostDown;
constexpr int WSAEHOSTUNREACH = winsock::error::kHostUnreachable;
constexpr int WSAVERNOTSUPPORTED = winsock::error::kVersionNotSupported;
constexpr int WSANOTINITIALISED = winsock::error::kNotInitialised;
constexpr int WSATYPE_NOT_FOUND = winsock::error::kTypeNotFound;
constexpr int WSAHOST_NOT_FOUND = winsock::error::kHostNotFound;
constexpr int WSATRY_AGAIN = winsock::error::kTryAgain;
constexpr int WSANO_RECOVERY = winsock::error::kNoRecovery;
constexpr int WSANO_DATA = winsock::error::kNoData;

constexpr WORD MAKEWORD(BYTE low, BYTE high) {
  return static_cast<WORD>(low | (high << 8));
}

#endif
