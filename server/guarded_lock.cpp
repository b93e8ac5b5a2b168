#include "guarded_lock.h"

#include <new>

namespace telvario {

namespace {

// Where the platform raises on a shortage of memory it throws std::bad_alloc; anything else it
// throws counts as a failure.
template <typename Operation>
HRESULT Guarded(Operation operation) {
  try {
    operation();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
  return S_OK;
}

}  // namespace

HRESULT GuardedLock::Init() {
  const HRESULT result = Guarded([this] { InitializeCriticalSection(&section_); });
  initialised_ = result == S_OK;
  return result;
}

HRESULT GuardedLock::Lock() {
  if (!initialised_) return E_FAIL;
  return Guarded([this] { EnterCriticalSection(&section_); });
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
