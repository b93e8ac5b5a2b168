// Windows Sockets 1.1 as the probes use it: start-up and clean-up, address parsing and
// formatting, and name resolution. Declared in a namespace of its own because the C library
// has functions and structures of the same names; winsock.h brings them into the global
// namespace for code that does not see the C library's.
#ifndef TELVARIO_PLATFORM_POSIX_WINSOCK_API_H
#define TELVARIO_PLATFORM_POSIX_WINSOCK_API_H

#include "windows_types.h"

namespace winsock {

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

int WSAStartup(WORD requestedVersion, WSADATA* data);
int WSACleanup();
int WSAGetLastError();
ULONG inet_addr(const char* text);
char* inet_ntoa(in_addr address);
hostent* gethostbyname(const char* name);
hostent* gethostbyaddr(const char* address, int length, int type);

}  // namespace winsock

#endif
