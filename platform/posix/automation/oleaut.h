// Automation strings as OLE Automation lays them out: a 32-bit byte count in front of the
// characters, the BSTR pointing at the first character, and a NUL after the last.
#ifndef TELVARIO_PLATFORM_POSIX_OLEAUT_H
#define TELVARIO_PLATFORM_POSIX_OLEAUT_H

#include "windows_types.h"

BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);

#endif
