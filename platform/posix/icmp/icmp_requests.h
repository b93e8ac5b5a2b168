// The echo service's handles and their outstanding requests (icmp.h): one thread of the service
// waits on every handle's socket, matches what arrives to the request it answers, ends each
// request at its own time-out, and completes it (writes its record, then wakes the caller or
// queues its APC routine to the thread that sent it). The thread runs while a handle is open.
#ifndef TELVARIO_PLATFORM_POSIX_ICMP_REQUESTS_H
#define TELVARIO_PLATFORM_POSIX_ICMP_REQUESTS_H

#include <cstddef>
#include <cstdint>

#include "icmp.h"
#include "icmp_sockets.h"

namespace icmp_requests {

using icmp_sockets::Family;

// A new handle; INVALID_HANDLE_VALUE with the last error set when none could be had.
HANDLE Open(Family family);
// Closes a handle, completing its outstanding requests as given up; FALSE for a handle that is
// not open (ERROR_INVALID_HANDLE).
BOOL Close(HANDLE handle);

// One echo request, its parameters checked.
struct Echo {
  HANDLE handle;
  Family family;
  PIO_APC_ROUTINE routine;  // null: the caller waits
  PVOID context;
  const void* destination;  // the system's sockaddr_in or sockaddr_in6
  std::size_t destinationSize;
  const std::uint8_t* source;  // IPv6: 16 bytes, or null
  const void* data;
  WORD dataSize;
  const IP_OPTION_INFORMATION* options;
  void* replyBuffer;
  DWORD replySize;
  DWORD timeout;
};

// Sends the request. With a routine: 0 and ERROR_IO_PENDING once it is on its way. Without:
// waits for its end and gives the number of replies (the last error the record's status).
DWORD Send(const Echo& echo);

}  // namespace icmp_requests

#endif
