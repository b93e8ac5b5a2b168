// The Windows operations the component calls, from the system's own headers.
#ifndef TELVARIO_PLATFORM_WINDOWS_API_H
#define TELVARIO_PLATFORM_WINDOWS_API_H

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winternl.h>
#include <oleauto.h>
#include <wininet.h>
#include <iphlpapi.h>
// The echo service's asynchronous calls take a typed APC routine rather than a FARPROC.
#define PIO_APC_ROUTINE_DEFINED
#include <icmpapi.h>

// The IPv6 echo service's reply record, which mingw-w64's ipexport.h lacks: its status and round
// trip follow the 28 bytes of the address.
struct ICMPV6_ECHO_REPLY {
  IPV6_ADDRESS_EX Address;
  ULONG Status;
  unsigned int RoundTripTime;
};
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

// The address at which the module holding the caller is loaded.
extern "C" IMAGE_DOS_HEADER __ImageBase;
inline HINSTANCE ThisModuleInstance() {
  return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

// The system's loader calls the entry routine itself; nothing stands in for it here.
class ProcessAttachment {};

#endif
