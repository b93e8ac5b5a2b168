// Win32 error codes as HRESULTs.
#ifndef TELVARIO_SERVER_ERROR_CODES_H
#define TELVARIO_SERVER_ERROR_CODES_H

#include "windows_api.h"

namespace telvario {

// As HRESULT_FROM_WIN32: a code of 0 or below stays as it is.
inline HRESULT HresultFromWin32(LONG error) {
  return error <= 0 ? error
                    : static_cast<HRESULT>((static_cast<ULONG>(error) & 0xFFFFu) | 0x80070000u);
}

}  // namespace telvario

#endif
