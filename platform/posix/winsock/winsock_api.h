// Windows Sockets as the probes use it: start-up and clean-up, address parsing and formatting,
// name resolution, and sockets of both address families. Declared in a namespace of its own
// because the C library has functions and structures of the same names; winsock.h brings them
// into the global namespace for code that does not see the C library's. The structures have
// Windows' layouts, and the constants Windows' values (AF_INET6 is 23 here, not the system's
// 10): winsock.cpp translates at the boundary.
#ifndef TELVARIO_PLATFORM_POSIX_WINSOCK_API_H
#define TELVARIO_PLATFORM_POSIX_WINSOCK_API_H

#include "windows_types.h"

namespace winsock {

// Windows' values, which winsock.h exports under their Windows names.
namespace value {
constexpr int kAfUnspec = 0;
constexpr int kAfInet = 2;
constexpr int kAfInet6 = 23;
constexpr int kSockStream = 1;
constexpr int kSockDgram = 2;
constexpr int kSockRaw = 3;
constexpr int kIpProtoIp = 0;
constexpr int kIpProtoIcmp = 1;
constexpr int kIpProtoTcp = 6;
constexpr int kIpProtoUdp = 17;
constexpr int kIpProtoIpv6 = 41;
constexpr int kIpProtoIcmpv6 = 58;
constexpr int kSolSocket = 0xFFFF;
constexpr int kSoRcvBuf = 0x1002;
constexpr int kSoError = 0x1007;
constexpr int kTcpNoDelay = 1;
constexpr int kIpTtl = 4;
constexpr int kIpv6UnicastHops = 4;
constexpr LONG kFionbio = static_cast<LONG>(0x8004667EU);
constexpr int kSdReceive = 0;
constexpr int kSdSend = 1;
constexpr int kSdBoth = 2;
constexpr int kMsgOob = 0x1;
constexpr int kMsgPeek = 0x2;
constexpr int kMsgWaitAll = 0x8;
constexpr SHORT kPollRdNorm = 0x0100;
constexpr SHORT kPollRdBand = 0x0200;
constexpr SHORT kPollPri = 0x0400;
constexpr SHORT kPollWrNorm = 0x0010;
constexpr SHORT kPollWrBand = 0x0020;
constexpr SHORT kPollErr = 0x0001;
constexpr SHORT kPollHup = 0x0002;
constexpr SHORT kPollNval = 0x0004;
constexpr int kAiPassive = 0x1;
constexpr int kAiCanonName = 0x2;
constexpr int kAiNumericHost = 0x4;
constexpr int kAiNumericServ = 0x8;
constexpr int kAiAll = 0x100;
constexpr int kAiAddrConfig = 0x400;
constexpr int kAiV4Mapped = 0x800;
constexpr int kNiNoFqdn = 0x01;
constexpr int kNiNumericHost = 0x02;
constexpr int kNiNameReqd = 0x04;
constexpr int kNiNumericServ = 0x08;
constexpr int kNiDgram = 0x10;
constexpr int kNiMaxHost = 1025;
}  // namespace value

// Error codes, as WSAGetLastError and getaddrinfo give them.
namespace error {
constexpr int kNotEnoughMemory = 8;    // WSA_NOT_ENOUGH_MEMORY
constexpr int kInvalidParameter = 87;  // WSA_INVALID_PARAMETER
constexpr int kInterrupted = 10004;
constexpr int kBadFile = 10009;
constexpr int kAccess = 10013;
constexpr int kFault = 10014;
constexpr int kInvalid = 10022;
constexpr int kTooManyOpen = 10024;
constexpr int kWouldBlock = 10035;
constexpr int kInProgress = 10036;
constexpr int kAlready = 10037;
constexpr int kNotSocket = 10038;
constexpr int kDestinationRequired = 10039;
constexpr int kMessageSize = 10040;
constexpr int kProtocolType = 10041;
constexpr int kNoProtocolOption = 10042;
constexpr int kProtocolNotSupported = 10043;
constexpr int kSocketTypeNotSupported = 10044;
constexpr int kOperationNotSupported = 10045;
constexpr int kAddressFamilyNotSupported = 10047;
constexpr int kAddressInUse = 10048;
constexpr int kAddressNotAvailable = 10049;
constexpr int kNetworkDown = 10050;
constexpr int kNetworkUnreachable = 10051;
constexpr int kNetworkReset = 10052;
constexpr int kConnectionAborted = 10053;
constexpr int kConnectionReset = 10054;
constexpr int kNoBuffers = 10055;
constexpr int kIsConnected = 10056;
constexpr int kNotConnected = 10057;
constexpr int kShutdown = 10058;
constexpr int kTimedOut = 10060;
constexpr int kConnectionRefused = 10061;
constexpr int kHostDown = 10064;
constexpr int kHostUnreachable = 10065;
constexpr int kVersionNotSupported = 10092;
constexpr int kNotInitialised = 10093;
constexpr int kTypeNotFound = 10109;
constexpr int kHostNotFound = 11001;
constexpr int kTryAgain = 11002;
constexpr int kNoRecovery = 11003;
constexpr int kNoData = 11004;
}  // namespace error

struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[257];
  char szSystemStatus[129];
  USHORT iMaxSockets;
  USHORT iMaxUdpDg;
  char* lpVendorInfo;
};

struct hostent {
  char* h_name;
  char** h_aliases;
  SHORT h_addrtype;
  SHORT h_length;
  char** h_addr_list;
};

struct in_addr {
  ULONG s_addr;
};

// Windows names the bytes u.Byte (s6_addr, a macro of winsock.h) and the 16-bit words u.Word.
struct in6_addr {
  union {
    UCHAR Byte[16];
    USHORT Word[8];
  } u;
};

using ADDRESS_FAMILY = USHORT;

struct sockaddr {
  ADDRESS_FAMILY sa_family;
  CHAR sa_data[14];
};

struct sockaddr_in {
  ADDRESS_FAMILY sin_family;
  USHORT sin_port;
  in_addr sin_addr;
  CHAR sin_zero[8];
};

struct sockaddr_in6 {
  ADDRESS_FAMILY sin6_family;
  USHORT sin6_port;
  ULONG sin6_flowinfo;
  in6_addr sin6_addr;
  ULONG sin6_scope_id;
};

struct sockaddr_storage {
  ADDRESS_FAMILY ss_family;
  CHAR ss_pad1[6];
  LONGLONG ss_align;
  CHAR ss_pad2[112];
};

// Windows' order: the canonical name before the address (the C library's is the other way).
struct addrinfo {
  int ai_flags;
  int ai_family;
  int ai_socktype;
  int ai_protocol;
  SIZE_T ai_addrlen;
  char* ai_canonname;
  sockaddr* ai_addr;
  addrinfo* ai_next;
};

using SOCKET = UINT_PTR;

struct WSAPOLLFD {
  SOCKET fd;
  SHORT events;
  SHORT revents;
};

static_assert(sizeof(in6_addr) == 16 && sizeof(sockaddr) == 16 && sizeof(sockaddr_in) == 16 &&
              sizeof(sockaddr_in6) == 28 && sizeof(sockaddr_storage) == 128);

int WSAStartup(WORD requestedVersion, WSADATA* data);
int WSACleanup();
int WSAGetLastError();
ULONG inet_addr(const char* text);
char* inet_ntoa(in_addr address);
hostent* gethostbyname(const char* name);
hostent* gethostbyaddr(const char* address, int length, int type);

int getaddrinfo(const char* nodeName, const char* serviceName, const addrinfo* hints,
                addrinfo** result);
void freeaddrinfo(addrinfo* list);
int getnameinfo(const sockaddr* address, int addressLength, char* host, DWORD hostLength,
                char* service, DWORD serviceLength, int flags);
const char* inet_ntop(int family, const void* address, char* text, SIZE_T size);
int inet_pton(int family, const char* text, void* address);
// Byte order: network order is big-endian, as on Windows. (The names in parentheses: the
// system's headers, where a file includes them too, make them macros.)
constexpr unsigned short(htons)(unsigned short value) {
  return static_cast<unsigned short>((value << 8) | (value >> 8));
}
constexpr unsigned short(ntohs)(unsigned short value) {
  return (htons)(value);
}

SOCKET socket(int family, int type, int protocol);
int closesocket(SOCKET socket);
int connect(SOCKET socket, const sockaddr* name, int nameLength);
// The socket's own address, once bound or connected.
int getsockname(SOCKET socket, sockaddr* name, int* nameLength);
int send(SOCKET socket, const char* buffer, int length, int flags);
int recv(SOCKET socket, char* buffer, int length, int flags);
int sendto(SOCKET socket, const char* buffer, int length, int flags, const sockaddr* to,
           int toLength);
int recvfrom(SOCKET socket, char* buffer, int length, int flags, sockaddr* from, int* fromLength);
int shutdown(SOCKET socket, int how);
int ioctlsocket(SOCKET socket, LONG command, ULONG* argument);
int setsockopt(SOCKET socket, int level, int name, const char* value, int length);
int getsockopt(SOCKET socket, int level, int name, char* value, int* length);
int WSAPoll(WSAPOLLFD* sockets, ULONG count, INT timeout);

}  // namespace winsock

#endif
