// The handles of this WinINet layer: every HINTERNET is an object of a class derived from
// InternetHandle, known to a process-wide table until InternetCloseHandle takes it out. Handles
// form a tree (session, connection, file); closing one closes those below it too. A call in
// progress on another thread keeps its object alive, and is told of the closing through
// Cancel, so that it can return.
#ifndef TELVARIO_PLATFORM_POSIX_WININET_HANDLES_H
#define TELVARIO_PLATFORM_POSIX_WININET_HANDLES_H

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "kernel.h"
#include "wininet.h"

namespace wininet {

// How long a handle's network waits may last, in milliseconds: WinINet's defaults until
// InternetSetOptionA changes them. 0 or 0xFFFFFFFF is no limit.
struct Timeouts {
  DWORD connect = 60000;
  DWORD send = 60000;
  DWORD receive = 60000;
};

// A limit as curl takes it: milliseconds, or whole seconds rounded up; no limit is a week.
long CurlMilliseconds(DWORD limit);
long CurlSeconds(DWORD limit);

class InternetHandle {
 public:
  virtual ~InternetHandle() = default;
  // The limits of the waits made on this handle, and taken over by those opened below it.
  Timeouts timeouts;
  // The handle is being closed by its owner: finish what it holds in the usual way.
  virtual void Close() { Cancel(); }
  // The handle, or one above it, is being closed: end at once what is in progress.
  virtual void Cancel() {}
};

// A call that blocks on the network and can be cut short from another thread.
class Cancellable {
 public:
  virtual ~Cancellable() = default;
  virtual void Cancel() = 0;
};

// What InternetOpenA sets up: the agent and proxy settings of the handles below it, and the
// blocking calls made on it that have no handle of their own yet.
class Session : public InternetHandle {
 public:
  Session(const char* agentText, DWORD access, const char* proxyText);
  void Cancel() override;
  // Registers a call in progress; false once the session has been closed.
  bool Begin(Cancellable* call);
  void End(Cancellable* call);
  // The proxy settings, for a transfer about to be made.
  void ApplyProxy(CURL* easy) const;

  const std::string agent;
  const DWORD accessType;
  const std::string proxy;

 private:
  std::mutex mutex_;
  bool closed_ = false;
  std::set<Cancellable*> calls_;
};

// Adds a handle below `parent` (null for a session). Refused with
// ERROR_INTERNET_OPERATION_CANCELLED when the parent has been closed meanwhile.
HINTERNET AddHandle(std::shared_ptr<InternetHandle> handle, HINTERNET parent = nullptr);

// The object behind a handle, if it is open and of the kind asked for; otherwise null, with
// ERROR_INVALID_HANDLE as the last error.
template <typename Kind>
std::shared_ptr<Kind> FindHandle(HINTERNET handle);

std::shared_ptr<InternetHandle> FindAnyHandle(HINTERNET handle);

template <typename Kind>
std::shared_ptr<Kind> FindHandle(HINTERNET handle) {
  auto found = std::dynamic_pointer_cast<Kind>(FindAnyHandle(handle));
  if (found == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return found;
}

void InitialiseCurlOnce();
DWORD ErrorFromCurl(CURLcode code);

}  // namespace wininet

#endif
