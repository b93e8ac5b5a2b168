// The ICMP and ICMPv6 echo service of the IP helper library on a POSIX system.
//
// Requests leave from an ICMP (ICMPv6) datagram socket where net.ipv4.ping_group_range admits
// the caller's group (the kernel then routes the replies and the routers' answers to that
// socket), else from a raw socket (CAP_NET_RAW), else from the raw socket of that family the
// host handed over with SetIcmpRawSocket. When none is there, IcmpCreateFile (Icmp6CreateFile)
// fails with ERROR_ACCESS_DENIED. The service never raises a capability, nor needs one beyond
// opening its socket.
//
// As on Windows: one reply record per request, also for a router's answer (time exceeded,
// unreachable), whose status tells which; a record without reply on time-out (status and last
// error IP_REQ_TIMED_OUT). The reply buffer must hold a record, the request data and 8 bytes,
// else the call fails with IP_BUF_TOO_SMALL. A time to live (hop limit) of 0 sends with the
// system's default. Round-trip times are whole milliseconds from a monotonic clock, or from the
// kernel's receive time stamp where it gives one.
//
// Asynchronous requests (IcmpSendEcho2, Icmp6SendEcho2 with an APC routine) return 0 with
// ERROR_IO_PENDING once sent, and complete exactly once each, whatever the number outstanding
// on a handle: with the reply, a router's answer, a failure to send, or their own time-out. The
// routine then runs on the thread that sent the request, at its next alertable wait (SleepEx),
// with STATUS_SUCCESS and the bytes written in the I/O status block; it reads the record with
// IcmpParseReplies (Icmp6ParseReplies), which gives 1 for a reply or a router's answer, else 0
// with the record's status as last error. Closing a handle gives up its outstanding requests
// at once: each routine still runs, at its thread's next alertable wait, with STATUS_CANCELLED
// and a record of status IP_GENERAL_FAILURE (a synchronous call waiting on it returns 0 with
// that status); nothing touches a reply buffer after that. Where it differs from Windows: an
// event handle to signal is not supported (ERROR_NOT_SUPPORTED; this layer has no events);
// neither the status block nor the routine's context lives in the reply buffer.
#ifndef TELVARIO_PLATFORM_POSIX_ICMP_H
#define TELVARIO_PLATFORM_POSIX_ICMP_H

#include "io_completion.h"
#include "windows_types.h"
#include "winsock_api.h"

using IPAddr = ULONG;

struct IP_OPTION_INFORMATION {
  UCHAR Ttl;
  UCHAR Tos;
  UCHAR Flags;
  UCHAR OptionsSize;
  UCHAR* OptionsData;
};
using PIP_OPTION_INFORMATION = IP_OPTION_INFORMATION*;

// Reserved holds the number of replies until IcmpParseReplies reads it.
struct ICMP_ECHO_REPLY {
  IPAddr Address;
  ULONG Status;
  ULONG RoundTripTime;
  USHORT DataSize;
  USHORT Reserved;
  void* Data;
  IP_OPTION_INFORMATION Options;
};
using PICMP_ECHO_REPLY = ICMP_ECHO_REPLY*;

// Packed, as in Windows' own header: 26 bytes.
struct __attribute__((packed)) IPV6_ADDRESS_EX {
  USHORT sin6_port;
  ULONG sin6_flowinfo;
  USHORT sin6_addr[8];
  ULONG sin6_scope_id;
};
using PIPV6_ADDRESS_EX = IPV6_ADDRESS_EX*;

// The reply data follows the record. Address is unspecified (all zero) where no one answered.
struct ICMPV6_ECHO_REPLY {
  IPV6_ADDRESS_EX Address;
  ULONG Status;
  unsigned int RoundTripTime;
};
using PICMPV6_ECHO_REPLY = ICMPV6_ECHO_REPLY*;
using ICMPV6_ECHO_REPLY_LH = ICMPV6_ECHO_REPLY;

static_assert(sizeof(IPV6_ADDRESS_EX) == 26 && sizeof(ICMPV6_ECHO_REPLY) == 36);

constexpr UCHAR IP_FLAG_DF = 0x2;

// Reply statuses, also reported through GetLastError. IPv6 has names of its own for some.
constexpr ULONG IP_SUCCESS = 0;
constexpr ULONG IP_BUF_TOO_SMALL = 11001;
constexpr ULONG IP_DEST_NET_UNREACHABLE = 11002;
constexpr ULONG IP_DEST_HOST_UNREACHABLE = 11003;
constexpr ULONG IP_DEST_PROT_UNREACHABLE = 11004;
constexpr ULONG IP_DEST_PORT_UNREACHABLE = 11005;
constexpr ULONG IP_NO_RESOURCES = 11006;
constexpr ULONG IP_PACKET_TOO_BIG = 11009;
constexpr ULONG IP_REQ_TIMED_OUT = 11010;
constexpr ULONG IP_BAD_REQ = 11011;
constexpr ULONG IP_BAD_ROUTE = 11012;
constexpr ULONG IP_TTL_EXPIRED_TRANSIT = 11013;
constexpr ULONG IP_TTL_EXPIRED_REASSEM = 11014;
constexpr ULONG IP_PARAM_PROBLEM = 11015;
constexpr ULONG IP_SOURCE_QUENCH = 11016;
constexpr ULONG IP_BAD_DESTINATION = 11018;
constexpr ULONG IP_DEST_NO_ROUTE = 11002;
constexpr ULONG IP_DEST_ADDR_UNREACHABLE = 11003;
constexpr ULONG IP_DEST_PROHIBITED = 11004;
constexpr ULONG IP_HOP_LIMIT_EXCEEDED = 11013;
constexpr ULONG IP_REASSEMBLY_TIME_EXCEEDED = 11014;
constexpr ULONG IP_PARAMETER_PROBLEM = 11015;
constexpr ULONG IP_DEST_UNREACHABLE = 11040;
constexpr ULONG IP_TIME_EXCEEDED = 11041;
constexpr ULONG IP_BAD_HEADER = 11042;
constexpr ULONG IP_UNRECOGNIZED_NEXT_HEADER = 11043;
constexpr ULONG IP_ICMP_ERROR = 11044;
constexpr ULONG IP_DEST_SCOPE_MISMATCH = 11045;
constexpr ULONG IP_GENERAL_FAILURE = 11050;

HANDLE IcmpCreateFile();
HANDLE Icmp6CreateFile();
// Closes a handle of either family.
BOOL IcmpCloseHandle(HANDLE icmpHandle);
DWORD IcmpSendEcho(HANDLE icmpHandle, IPAddr destinationAddress, void* requestData,
                   WORD requestSize, PIP_OPTION_INFORMATION requestOptions, void* replyBuffer,
                   DWORD replySize, DWORD timeout);
// With neither event nor APC routine, as IcmpSendEcho: the number of replies (0 or 1).
DWORD IcmpSendEcho2(HANDLE icmpHandle, HANDLE event, PIO_APC_ROUTINE apcRoutine, PVOID apcContext,
                    IPAddr destinationAddress, LPVOID requestData, WORD requestSize,
                    PIP_OPTION_INFORMATION requestOptions, LPVOID replyBuffer, DWORD replySize,
                    DWORD timeout);
// The source may be null or unspecified (the system picks one); options give the hop limit
// (Ttl) and, with IP_FLAG_DF, forbid fragmenting the request.
DWORD Icmp6SendEcho2(HANDLE icmpHandle, HANDLE event, PIO_APC_ROUTINE apcRoutine, PVOID apcContext,
                     winsock::sockaddr_in6* sourceAddress,
                     winsock::sockaddr_in6* destinationAddress, LPVOID requestData,
                     WORD requestSize, PIP_OPTION_INFORMATION requestOptions, LPVOID replyBuffer,
                     DWORD replySize, DWORD timeout);
DWORD IcmpParseReplies(LPVOID replyBuffer, DWORD replySize);
DWORD Icmp6ParseReplies(LPVOID replyBuffer, DWORD replySize);

// For a host that may open a raw socket only for a moment, as the client does when its file
// gives it cap_net_raw and it drops that once the socket is open: the host hands over a raw
// ICMP socket (AF_INET, IPPROTO_ICMP) or a raw ICMPv6 socket (AF_INET6, IPPROTO_ICMPV6), and
// where this process can open neither kind of that family itself, every handle of the family
// sends from it, each picking out its own answers. One socket of each family is held: the
// service owns it from then on (and closes the one of the same family handed over before; the
// handles already open keep theirs until closed); -1 closes both. Anything else fails with
// ERROR_INVALID_PARAMETER, and stays the caller's. Exported by the library under this name,
// for hosts that load it.
extern "C" __attribute__((visibility("default"))) BOOL SetIcmpRawSocket(int socket);

#endif
