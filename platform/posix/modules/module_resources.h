// Resources of a module, as Windows finds them in a DLL: a module exports its resource table
// under TELVARIO_RESOURCES_SYMBOL, which the build generates from the files the Windows build
// compiles into the DLL's resource section.
#ifndef TELVARIO_PLATFORM_POSIX_MODULE_RESOURCES_H
#define TELVARIO_PLATFORM_POSIX_MODULE_RESOURCES_H

#include "kernel.h"
#include "windows_types.h"

#define TELVARIO_RESOURCES_SYMBOL "TelvarioResources"

// One row of the table; the table ends with a row whose type has neither name nor number.
struct ModuleResource {
  const char* type;  // a named type ("REGISTRY"), or null for a numbered one
  WORD typeId;       // the number of a numbered type (RT_VERSION), or 0
  WORD id;           // 0 when the resource is named
  const char* name;  // null when it has an id
  const BYTE* data;
  DWORD size;
};

using HRSRC = const ModuleResource*;
using HGLOBAL = const void*;

// An integer resource name, as MAKEINTRESOURCEA makes it.
inline LPCSTR MAKEINTRESOURCEA(WORD id) {
  return reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(id));
}
inline bool IS_INTRESOURCE(LPCSTR name) {
  return (reinterpret_cast<ULONG_PTR>(name) >> 16) == 0;
}

inline const LPCSTR RT_STRING = MAKEINTRESOURCEA(6);
inline const LPCSTR RT_VERSION = MAKEINTRESOURCEA(16);

constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
DWORD SizeofResource(HMODULE module, HRSRC resource);
const void* LockResource(HGLOBAL data);

// String resources: a copy of string `id` as narrow text, NUL-terminated and cut to the buffer;
// gives the characters copied, or 0 when there is no such string.
int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int bufferSize);

// The version record of a module file: its size (with room for the narrow copies of its texts
// that VerQueryValueA makes), the record itself, and the values in it by path ("\\" for the
// fixed part, "\\StringFileInfo\\040904B0\\ProductName" for a text, "\\VarFileInfo\\Translation").
struct VS_FIXEDFILEINFO {
  DWORD dwSignature;
  DWORD dwStrucVersion;
  DWORD dwFileVersionMS;
  DWORD dwFileVersionLS;
  DWORD dwProductVersionMS;
  DWORD dwProductVersionLS;
  DWORD dwFileFlagsMask;
  DWORD dwFileFlags;
  DWORD dwFileOS;
  DWORD dwFileType;
  DWORD dwFileSubtype;
  DWORD dwFileDateMS;
  DWORD dwFileDateLS;
};
DWORD GetFileVersionInfoSizeA(LPCSTR fileName, DWORD* handle);
BOOL GetFileVersionInfoA(LPCSTR fileName, DWORD handle, DWORD size, LPVOID data);
BOOL VerQueryValueA(const void* block, LPCSTR subBlock, LPVOID* value, UINT* length);

#endif
