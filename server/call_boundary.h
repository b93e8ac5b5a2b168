// Where a call leaves the component for its caller. A COM caller cannot catch a C++ exception,
// so none may cross: an allocation that failed becomes E_OUTOFMEMORY, a frame failure its own
// HRESULT, anything else E_FAIL.
#ifndef TELVARIO_SERVER_CALL_BOUNDARY_H
#define TELVARIO_SERVER_CALL_BOUNDARY_H

#include <new>

#include "guarded_lock.h"
#include "windows_api.h"

namespace telvario {

template <typename Call>
HRESULT AtBoundary(Call&& call) noexcept {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const CAtlException& failure) {
    return failure.Result();
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace telvario

#endif
