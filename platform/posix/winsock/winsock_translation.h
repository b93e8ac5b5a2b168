// What the Windows Sockets calls share inside this layer: whether a start-up is in force, the
// translation of the system's error numbers to Windows' codes, and of socket addresses between
// Windows' layouts and values and the system's. Only winsock*.cpp include it: it sees both the
// system's socket headers and Windows' structures.
#ifndef TELVARIO_PLATFORM_POSIX_WINSOCK_TRANSLATION_H
#define TELVARIO_PLATFORM_POSIX_WINSOCK_TRANSLATION_H

#include <sys/socket.h>

#include "winsock_api.h"

namespace winsock::translation {

// False, with WSANOTINITIALISED as the thread's last error, while no WSAStartup is in force.
bool Started();

// Sets the thread's last error, which WSAGetLastError and GetLastError both read.
void SetError(int code);

// Windows' code for a system error number.
int ErrorOf(int systemError);

// The system's address family for Windows' (AF_UNSPEC, AF_INET, AF_INET6), -1 for another.
int SystemFamily(int family);
// Windows' address family for the system's, -1 for another.
int WindowsFamily(int systemFamily);

// A Windows socket address of `length` bytes as the system's; false (WSAEFAULT or
// WSAEAFNOSUPPORT set) when it is no IPv4 or IPv6 address or shorter than its family's.
bool ToSystem(const sockaddr* name, int length, ::sockaddr_storage* address,
              socklen_t* addressLength);
// The system's socket address as Windows', into `length` bytes; false (WSAEFAULT set) when it
// does not fit. An address of another family is copied as it is, with its family.
bool ToWindows(const ::sockaddr_storage& address, socklen_t addressLength, sockaddr* name,
               int* length);

}  // namespace winsock::translation

#endif
