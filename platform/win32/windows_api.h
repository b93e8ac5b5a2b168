// The Windows operations the component calls, from the system's own headers.
#ifndef TELVARIO_PLATFORM_WINDOWS_API_H
#define TELVARIO_PLATFORM_WINDOWS_API_H

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winternl.h>
#include <oleauto.h>
#include <wininet.h>

// mingw-w64 declares the APC routine of IcmpSendEcho2 and Icmp6SendEcho2 as Windows does only
// when told that PIO_APC_ROUTINE (winternl.h) is there.
#define PIO_APC_ROUTINE_DEFINED
// mingw-w64's IPV6_ADDRESS_EX lacks the packing of Windows' own (26 bytes, what the system
// writes), and it has no ICMPV6_ECHO_REPLY: its declaration is set aside for the ones below.
#define _IPV6_ADDRESS_EX telvario_mingw_IPV6_ADDRESS_EX_
#define IPV6_ADDRESS_EX telvario_mingw_IPV6_ADDRESS_EX
#define PIPV6_ADDRESS_EX telvario_mingw_PIPV6_ADDRESS_EX
#include <iphlpapi.h>
#include <icmpapi.h>
#undef _IPV6_ADDRESS_EX
#undef IPV6_ADDRESS_EX
#undef PIPV6_ADDRESS_EX

#pragma pack(push, 1)
typedef struct _IPV6_ADDRESS_EX {
  USHORT sin6_port;
  ULONG sin6_flowinfo;
  USHORT sin6_addr[8];
  ULONG sin6_scope_id;
} IPV6_ADDRESS_EX, *PIPV6_ADDRESS_EX;
#pragma pack(pop)

// The reply data follows the record.
typedef struct icmpv6_echo_reply_lh {
  IPV6_ADDRESS_EX Address;
  ULONG Status;
  unsigned int RoundTripTime;
} ICMPV6_ECHO_REPLY_LH, *PICMPV6_ECHO_REPLY_LH;
typedef ICMPV6_ECHO_REPLY_LH ICMPV6_ECHO_REPLY;
typedef ICMPV6_ECHO_REPLY_LH* PICMPV6_ECHO_REPLY;

static_assert(sizeof(IPV6_ADDRESS_EX) == 26 && sizeof(ICMPV6_ECHO_REPLY) == 36);
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>
#include <objsafe.h>
#include <shlwapi.h>
#include <comcat.h>

#include <cstdlib>
#include <ctime>

// The runtime library's clock(): milliseconds since the runtime started.
inline LONG RuntimeClock() {
  return static_cast<LONG>(clock());
}

// The runtime library's pseudo-random generator, per thread.
inline void RuntimeSeedRandom(unsigned int seed) {
  srand(seed);
}
inline int RuntimeRandom() {
  return rand();
}

// A response's body read up to `most` bytes and dropped: a transfer measured by its count
// alone. WinINet copies into a buffer whatever it reads, so this is the thread's scratch one.
inline BOOL DiscardInternetData(HINTERNET file, DWORD most, DWORD* discarded) {
  constexpr DWORD kScratch = 64 * 1024;
  static thread_local char scratch[kScratch];
  return InternetReadFile(file, scratch, most < kScratch ? most : kScratch, discarded);
}

// The address at which the module holding the caller is loaded.
extern "C" IMAGE_DOS_HEADER __ImageBase;
inline HINSTANCE ThisModuleInstance() {
  return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

// The system's loader calls the entry routine itself; nothing stands in for it here.
class ProcessAttachment {};

#endif
