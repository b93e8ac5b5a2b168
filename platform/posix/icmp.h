// The ICMP echo service of the IP helper library on a POSIX system.
//
// Requests leave from an ICMP datagram socket where net.ipv4.ping_group_range admits the
// caller's group (the kernel then routes the replies and the routers' answers to that socket),
// else from a raw socket (CAP_NET_RAW), else from the raw socket the host handed over with
// SetIcmpRawSocket. When none is there, IcmpCreateFile fails with ERROR_ACCESS_DENIED. The
// service never raises a capability, nor needs one beyond opening its socket.
//
// As on Windows: one reply record per request, also for a router's answer (time exceeded,
// unreachable), whose status tells which; none on time-out (last error IP_REQ_TIMED_OUT). The
// reply buffer must hold a record, the request data and 8 bytes, else the call fails with
// IP_BUF_TOO_SMALL. A time to live of 0 sends with the system's default. Round-trip times are
// whole milliseconds from a monotonic clock, or from the kernel's receive time stamp where it
// gives one.
#ifndef TELVARIO_PLATFORM_POSIX_ICMP_H
#define TELVARIO_PLATFORM_POSIX_ICMP_H

#include "windows_types.h"

using IPAddr = ULONG;

struct IP_OPTION_INFORMATION {
  UCHAR Ttl;
  UCHAR Tos;
  UCHAR Flags;
  UCHAR OptionsSize;
  UCHAR* OptionsData;
};
using PIP_OPTION_INFORMATION = IP_OPTION_INFORMATION*;

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

constexpr UCHAR IP_FLAG_DF = 0x2;

// Reply statuses, also reported through GetLastError.
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
constexpr ULONG IP_GENERAL_FAILURE = 11050;

HANDLE IcmpCreateFile();
BOOL IcmpCloseHandle(HANDLE icmpHandle);
DWORD IcmpSendEcho(HANDLE icmpHandle, IPAddr destinationAddress, void* requestData,
                   WORD requestSize, PIP_OPTION_INFORMATION requestOptions, void* replyBuffer,
                   DWORD replySize, DWORD timeout);

// For a host that may open a raw socket only for a moment, as the client does when its file
// gives it cap_net_raw and it drops that once the socket is open: the host hands over an IPv4
// raw ICMP socket, and where this process can open neither kind itself, each handle sends from
// a duplicate of it, one request at a time across them all. The service owns the socket from
// then on (and closes the one handed over before); -1 just closes it. Anything else fails with
// ERROR_INVALID_PARAMETER, and stays the caller's. Exported by the library under this name, for
// hosts that load it.
extern "C" __attribute__((visibility("default"))) BOOL SetIcmpRawSocket(int socket);

#endif
