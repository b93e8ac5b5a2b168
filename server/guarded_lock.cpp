#include "guarded_lock.h"

#include <new>

namespace telvario {

// Where the platform raises on a shortage of memory it throws std::bad_alloc; anything else it
// throws counts as a failure.
HRESULT GuardedLock::Init() {
  try {
    InitializeCriticalSection(&section_);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
  initialised_ = true;
  return S_OK;
}

HRESULT GuardedLock::Lock() {
  if (!initialised_) return E_FAIL;
  try {
    EnterCriticalSection(&section_);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
  return S_OK;
}

void GuardedLock::Unlock() {
  LeaveCriticalSection(&section_);
}

void GuardedLock::Term() {
  if (!initialised_) return;
  DeleteCriticalSection(&section_);
  initialised_ = false;
}

}  // namespace telvario
