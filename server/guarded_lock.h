// The frame's lock: a re-entrant critical section whose set-up and entry report a result
// instead of raising, and the exception type for failures a helper cannot return.
#ifndef TELVARIO_SERVER_GUARDED_LOCK_H
#define TELVARIO_SERVER_GUARDED_LOCK_H

#include "windows_api.h"

namespace telvario {

class CAtlException {
 public:
  explicit CAtlException(HRESULT result) : result_(result) {}
  HRESULT Result() const { return result_; }

 private:
  HRESULT result_;
};

class GuardedLock {
 public:
  // S_OK, or E_OUTOFMEMORY / E_FAIL when the platform raised.
  HRESULT Init();
  HRESULT Lock();
  void Unlock();
  void Term();

 private:
  CRITICAL_SECTION section_{};
  bool initialised_ = false;
};

// Enters a lock in an explicit step and leaves it on destruction, if the entry succeeded.
class GuardedLockHolder {
 public:
  explicit GuardedLockHolder(GuardedLock& lock) : lock_(lock) {}
  ~GuardedLockHolder() {
    if (locked_) lock_.Unlock();
  }
  GuardedLockHolder(const GuardedLockHolder&) = delete;
  GuardedLockHolder& operator=(const GuardedLockHolder&) = delete;

  HRESULT Lock() {
    const HRESULT result = lock_.Lock();
    locked_ = result == S_OK;
    return result;
  }

 private:
  GuardedLock& lock_;
  bool locked_ = false;
};

}  // namespace telvario

#endif
