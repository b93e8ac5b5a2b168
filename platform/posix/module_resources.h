// Resources of a module, as Windows finds them in a DLL: a module exports its resource table
// under TELVARIO_RESOURCES_SYMBOL, which the build generates from the files the Windows build
// compiles into the DLL's resource section.
#ifndef TELVARIO_PLATFORM_POSIX_MODULE_RESOURCES_H
#define TELVARIO_PLATFORM_POSIX_MODULE_RESOURCES_H

#include "kernel.h"
#include "windows_types.h"

#define TELVARIO_RESOURCES_SYMBOL "TelvarioResources"

// One row of the table; the table ends with a row whose type is null.
struct ModuleResource {
  const char* type;  // a name: resource types are named here ("REGISTRY"), never numbered
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

constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
DWORD SizeofResource(HMODULE module, HRSRC resource);
const void* LockResource(HGLOBAL data);

#endif
