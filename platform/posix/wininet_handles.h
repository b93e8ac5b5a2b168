// The handles of this WinINet layer: every HINTERNET is an object of a class derived from
// InternetHandle, known to a process-wide table until InternetCloseHandle takes it out.
#ifndef TELVARIO_PLATFORM_POSIX_WININET_HANDLES_H
#define TELVARIO_PLATFORM_POSIX_WININET_HANDLES_H

#include <memory>

#include "kernel.h"
#include "wininet.h"

namespace wininet {

class InternetHandle {
 public:
  virtual ~InternetHandle() = default;
};

HINTERNET AddHandle(std::unique_ptr<InternetHandle> handle);

// The object behind a handle, if it is open and of the kind asked for; otherwise null, with
// ERROR_INVALID_HANDLE as the last error.
template <typename Kind>
Kind* FindHandle(HINTERNET handle);

InternetHandle* FindAnyHandle(HINTERNET handle);

template <typename Kind>
Kind* FindHandle(HINTERNET handle) {
  auto* found = dynamic_cast<Kind*>(FindAnyHandle(handle));
  if (found == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return found;
}

}  // namespace wininet

#endif
