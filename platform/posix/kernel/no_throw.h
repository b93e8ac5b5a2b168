// Windows' own calls never throw, and the posix calls that stand in for them may not either:
// they run on threads and inside callbacks that no handler stands behind. A call whose body
// throws (an allocation that failed) reports it as that call reports any failure of memory;
// the convention it is given says how.
#ifndef TELVARIO_PLATFORM_POSIX_NO_THROW_H
#define TELVARIO_PLATFORM_POSIX_NO_THROW_H

#include "kernel.h"

// Calls that report through the thread's last error: their failure result, with
// ERROR_NOT_ENOUGH_MEMORY as the last error.
template <typename Result>
struct ReportsLastError {
  Result failure;
  Result OutOfMemory() const {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return failure;
  }
};

// COM and OLE Automation calls: E_OUTOFMEMORY, with the last error left as it was.
struct ReportsHresult {
  HRESULT OutOfMemory() const { return E_OUTOFMEMORY; }
};

// The registry calls give their status and, as on Windows, leave the last error alone.
struct ReportsStatus {
  LONG OutOfMemory() const { return static_cast<LONG>(ERROR_NOT_ENOUGH_MEMORY); }
};

template <typename Convention, typename Body>
auto WithoutThrowing(const Convention& convention, Body&& body) noexcept -> decltype(body()) {
  try {
    return body();
  } catch (...) {
    return convention.OutOfMemory();
  }
}

#endif
