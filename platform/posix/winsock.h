// Windows Sockets names for code written against <winsock2.h>.
#ifndef TELVARIO_PLATFORM_POSIX_WINSOCK_H
#define TELVARIO_PLATFORM_POSIX_WINSOCK_H

#include "winsock_api.h"

using winsock::gethostbyaddr;
using winsock::gethostbyname;
using winsock::hostent;
using winsock::in_addr;
using winsock::inet_addr;
using winsock::inet_ntoa;
using winsock::WSACleanup;
using winsock::WSADATA;
using winsock::WSAGetLastError;
using winsock::WSAStartup;
using HOSTENT = winsock::hostent;
using IN_ADDR = winsock::in_addr;

constexpr int AF_INET = 2;
constexpr ULONG INADDR_NONE = 0xFFFFFFFF;
constexpr int SOCKET_ERROR = -1;

constexpr int WSAEFAULT = 10014;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

constexpr WORD MAKEWORD(BYTE low, BYTE high) {
  return static_cast<WORD>(low | (high << 8));
}

#endif
