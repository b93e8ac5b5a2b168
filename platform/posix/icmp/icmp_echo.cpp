// The echo service's calls: their parameters checked, then handed to the outstanding requests
// (icmp_requests.h), and the reading of the records they write. See icmp.h.
#include "icmp.h"

#include <cstring>

#include <netinet/in.h>

#include "icmp_requests.h"
#include "icmp_sockets.h"
#include "kernel.h"
#include "no_throw.h"

namespace {

using icmp_sockets::Family;

DWORD Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

// The checks every form of request makes before anything is sent: an event (which this layer
// cannot signal) is refused, and the reply buffer must hold the record, the data and 8 bytes.
DWORD Check(HANDLE event, const void* requestData, WORD requestSize, const void* replyBuffer,
            DWORD replySize, std::size_t recordSize) {
  if (event != nullptr) return ERROR_NOT_SUPPORTED;
  if ((requestData == nullptr && requestSize > 0) || replyBuffer == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  if (replySize < recordSize + requestSize + 8) return IP_BUF_TOO_SMALL;
  return ERROR_SUCCESS;
}

}  // namespace

HANDLE IcmpCreateFile() {
  return WithoutThrowing(ReportsLastError<HANDLE>{INVALID_HANDLE_VALUE},
                         [] { return icmp_requests::Open(Family::kIpv4); });
}

HANDLE Icmp6CreateFile() {
  return WithoutThrowing(ReportsLastError<HANDLE>{INVALID_HANDLE_VALUE},
                         [] { return icmp_requests::Open(Family::kIpv6); });
}

BOOL IcmpCloseHandle(HANDLE icmpHandle) {
  return WithoutThrowing(ReportsLastError<BOOL>{FALSE},
                         [&] { return icmp_requests::Close(icmpHandle); });
}

DWORD IcmpSendEcho(HANDLE icmpHandle, IPAddr destinationAddress, void* requestData,
                   WORD requestSize, PIP_OPTION_INFORMATION requestOptions, void* replyBuffer,
                   DWORD replySize, DWORD timeout) {
  return IcmpSendEcho2(icmpHandle, nullptr, nullptr, nullptr, destinationAddress, requestData,
                       requestSize, requestOptions, replyBuffer, replySize, timeout);
}

DWORD IcmpSendEcho2(HANDLE icmpHandle, HANDLE event, PIO_APC_ROUTINE apcRoutine, PVOID apcContext,
                    IPAddr destinationAddress, LPVOID requestData, WORD requestSize,
                    PIP_OPTION_INFORMATION requestOptions, LPVOID replyBuffer, DWORD replySize,
                    DWORD timeout) {
  return WithoutThrowing(ReportsLastError<DWORD>{0}, [&]() -> DWORD {
    const DWORD refused =
        Check(event, requestData, requestSize, replyBuffer, replySize, sizeof(ICMP_ECHO_REPLY));
    if (refused != ERROR_SUCCESS) return Fail(refused);
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = destinationAddress;
    const icmp_requests::Echo echo{icmpHandle,   Family::kIpv4,      apcRoutine,  apcContext,
                                   &destination, sizeof destination, nullptr,     requestData,
                                   requestSize,  requestOptions,     replyBuffer, replySize,
                                   timeout};
    return icmp_requests::Send(echo);
  });
}

DWORD Icmp6SendEcho2(HANDLE icmpHandle, HANDLE event, PIO_APC_ROUTINE apcRoutine, PVOID apcContext,
                     winsock::sockaddr_in6* sourceAddress,
                     winsock::sockaddr_in6* destinationAddress, LPVOID requestData,
                     WORD requestSize, PIP_OPTION_INFORMATION requestOptions, LPVOID replyBuffer,
                     DWORD replySize, DWORD timeout) {
  return WithoutThrowing(ReportsLastError<DWORD>{0}, [&]() -> DWORD {
    const DWORD refused =
        Check(event, requestData, requestSize, replyBuffer, replySize, sizeof(ICMPV6_ECHO_REPLY));
    if (refused != ERROR_SUCCESS) return Fail(refused);
    if (destinationAddress == nullptr ||
        destinationAddress->sin6_family != winsock::value::kAfInet6) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    // Windows' sockaddr_in6 is the system's, but for the family's number.
    sockaddr_in6 destination{};
    std::memcpy(&destination, destinationAddress, sizeof destination);
    destination.sin6_family = AF_INET6;
    destination.sin6_port = 0;
    static constexpr std::uint8_t kUnspecified[16] = {};
    const std::uint8_t* source = nullptr;
    if (sourceAddress != nullptr &&
        std::memcmp(sourceAddress->sin6_addr.u.Byte, kUnspecified, 16) != 0) {
      source = sourceAddress->sin6_addr.u.Byte;
    }
    const icmp_requests::Echo echo{icmpHandle,   Family::kIpv6,      apcRoutine,  apcContext,
                                   &destination, sizeof destination, source,      requestData,
                                   requestSize,  requestOptions,     replyBuffer, replySize,
                                   timeout};
    return icmp_requests::Send(echo);
  });
}

DWORD IcmpParseReplies(LPVOID replyBuffer, DWORD replySize) {
  if (replyBuffer == nullptr || replySize < sizeof(ICMP_ECHO_REPLY)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  auto* record = static_cast<ICMP_ECHO_REPLY*>(replyBuffer);
  const DWORD replies = record->Reserved;
  record->Reserved = 0;
  if (replies == 0) SetLastError(record->Status);
  return replies;
}

DWORD Icmp6ParseReplies(LPVOID replyBuffer, DWORD replySize) {
  if (replyBuffer == nullptr || replySize < sizeof(ICMPV6_ECHO_REPLY)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  // The record has no count: a reply names who sent it, and no one sends from the unspecified
  // address.
  const auto* record = static_cast<const ICMPV6_ECHO_REPLY*>(replyBuffer);
  USHORT address[8];
  std::memcpy(address, record->Address.sin6_addr, sizeof address);
  for (const USHORT word : address) {
    if (word != 0) return 1;
  }
  return Fail(record->Status);
}

extern "C" BOOL SetIcmpRawSocket(int socket) {
  if (!icmp_sockets::HandOver(socket)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}
