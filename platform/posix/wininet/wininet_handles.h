// The handles of this WinINet layer: every HINTERNET is an object of a class derived from
// InternetHandle, known to a process-wide table until InternetCloseHandle takes it out. Handles
// form a tree (session, connection, file); closing one closes those below it too.
//
// A handle is closed from any thread, as WinINet allows, but its curl handles are only ever
// driven by one thread at a time: a call in progress on the handle (a HandleUse) keeps its
// object alive, the closing thread only tells it to stop (Cancel, which wakes it), and the
// closing's own work (Close) is left to that call, done as it returns.
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

// The time since a count last changed, against a limit: a wait that makes no progress ends.
class StallClock {
 public:
  // The limit as CurlMilliseconds gives it: no limit is a week.
  explicit StallClock(long limitMs) : limit_(static_cast<DWORD>(limitMs)), since_(GetTickCount()) {}
  // True once `count` has stayed the same for the whole limit.
  bool Expired(size_t count) {
    const DWORD now = GetTickCount();
    if (count != last_) {
      last_ = count;
      since_ = now;
      return false;
    }
    return now - since_ >= limit_;
  }

 private:
  DWORD limit_;
  DWORD since_;
  size_t last_ = static_cast<size_t>(-1);
};

class InternetHandle;

// The object behind a handle, if it is open; null otherwise. With `use`, the call is counted
// as in progress on it (found and counted at once, so that no close comes between).
std::shared_ptr<InternetHandle> FindAnyHandle(HINTERNET handle, bool use = false);

class InternetHandle {
 public:
  virtual ~InternetHandle() = default;
  // The limits of the waits made on this handle, and taken over by those opened below it.
  Timeouts timeouts;
  // The handle is being closed by its owner: finish what it holds in the usual way. Called on
  // a thread that is alone with the handle.
  virtual void Close() { Cancel(); }
  // The handle, or one above it, is being closed: end at once what is in progress. Called from
  // any thread: it only signals.
  virtual void Cancel() {}
  // InternetReadFile and InternetWriteFile on the handle, for the kinds that take them.
  virtual BOOL Read(char* buffer, DWORD wanted, DWORD* read);
  virtual BOOL Write(const char* data, DWORD size, DWORD* written);

 private:
  template <typename Kind>
  friend class HandleUse;
  friend std::shared_ptr<InternetHandle> FindAnyHandle(HINTERNET handle, bool use);
  friend void CloseTaken(const std::shared_ptr<InternetHandle>& handle, bool closedItself);
  std::mutex useMutex_;
  int uses_ = 0;               // calls in progress on the handle
  bool closePending_ = false;  // closed meanwhile: the last call to return does the Close
};

// A call that blocks on the network and can be cut short from another thread.
class Cancellable {
 public:
  virtual ~Cancellable() = default;
  virtual void Cancel() = 0;
};

// The connections (and resolved names) a session's transfers share, so that a connection the
// server keeps open serves the session's next request. Each transfer keeps it for as long as its
// easy handle lives: curl frees a share only once no handle uses it any more, and a session may
// be closed before the transfers below it are gone.
class ConnectionShare {
 public:
  ConnectionShare();
  ~ConnectionShare();
  ConnectionShare(const ConnectionShare&) = delete;
  ConnectionShare& operator=(const ConnectionShare&) = delete;
  void Attach(CURL* easy);

 private:
  CURLSH* share_;  // none: each transfer makes connections of its own
  // The transfers may run on several threads: curl locks the shared data through these.
  std::mutex mutexes_[CURL_LOCK_DATA_LAST];
  static void Lock(CURL* easy, curl_lock_data data, curl_lock_access access, void* user);
  static void Unlock(CURL* easy, curl_lock_data data, void* user);
};

// What InternetOpenA sets up: the agent and proxy settings of the handles below it, and the
// blocking calls made on it that have no handle of their own yet.
class Session : public InternetHandle {
 public:
  Session(const char* agentText, DWORD access, const char* proxyText);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  void Cancel() override;
  // Registers a call in progress; false once the session has been closed.
  bool Begin(Cancellable* call);
  void End(Cancellable* call);
  // The proxy settings, and the session's connections, for a transfer about to be made. The
  // transfer keeps what this returns until its easy handle is cleaned up.
  [[nodiscard]] std::shared_ptr<ConnectionShare> ApplyProxy(CURL* easy) const;

  const std::string agent;
  const DWORD accessType;
  const std::string proxy;

 private:
  std::mutex mutex_;
  bool closed_ = false;
  std::set<Cancellable*> calls_;
  const std::shared_ptr<ConnectionShare> connections_;
};

// InternetConnectA for the HTTP service: a connection handle that requests are opened on.
HINTERNET ConnectHttp(HINTERNET session, const char* server, INTERNET_PORT port);

// Adds a handle below `parent` (null for a session). Refused with
// ERROR_INTERNET_OPERATION_CANCELLED when the parent has been closed meanwhile.
HINTERNET AddHandle(std::shared_ptr<InternetHandle> handle, HINTERNET parent = nullptr);

// A call's use of a handle of the kind asked for, for as long as the call lasts. Empty, with
// ERROR_INVALID_HANDLE as the last error, when the handle is not open or of another kind.
template <typename Kind>
class HandleUse {
 public:
  explicit HandleUse(HINTERNET handle) {
    std::shared_ptr<InternetHandle> found = FindAnyHandle(handle, true);
    object_ = std::dynamic_pointer_cast<Kind>(found);
    if (object_ == nullptr) {
      if (found != nullptr) Leave(found);
      SetLastError(ERROR_INVALID_HANDLE);
    }
  }
  ~HandleUse() {
    if (object_ != nullptr) Leave(object_);
  }
  HandleUse(const HandleUse&) = delete;
  HandleUse& operator=(const HandleUse&) = delete;

  explicit operator bool() const { return object_ != nullptr; }
  Kind* operator->() const { return object_.get(); }
  Kind& operator*() const { return *object_; }
  const std::shared_ptr<Kind>& Shared() const { return object_; }

 private:
  static void Leave(const std::shared_ptr<InternetHandle>& object) {
    bool closeNow = false;
    {
      std::lock_guard<std::mutex> lock(object->useMutex_);
      closeNow = --object->uses_ == 0 && object->closePending_;
      if (closeNow) object->closePending_ = false;
    }
    if (closeNow) object->Close();  // closed meanwhile: this thread is the one to finish it
  }

  std::shared_ptr<Kind> object_;
};

void InitialiseCurlOnce();
DWORD ErrorFromCurl(CURLcode code);

}  // namespace wininet

#endif
