// The Windows operations the component calls, from the system's own headers.
#ifndef TELVARIO_PLATFORM_WINDOWS_API_H
#define TELVARIO_PLATFORM_WINDOWS_API_H

#include <winsock2.h>
#include <windows.h>
#include <oleauto.h>
#include <wininet.h>

#include <ctime>

// The runtime library's clock(): milliseconds since the runtime started.
inline LONG RuntimeClock() {
  return static_cast<LONG>(clock());
}

#endif
