// Late binding for the server's dual interface: its type information, loaded from the registered
// type library once per process, and a table of member names that answers most name lookups
// without asking the type information.
#ifndef TELVARIO_SERVER_TYPE_INFO_CACHE_H
#define TELVARIO_SERVER_TYPE_INFO_CACHE_H

#include <atomic>

#include "windows_api.h"

namespace telvario {

struct MemberNameEntry {
  BSTR name;     // owned; null when the name could not be read
  ULONG length;  // UTF-16 code units of name
  DISPID dispid;
};

struct TypeInfoCache {
  const IID* interfaceId;
  const GUID* libraryId;
  WORD majorVersion;
  WORD minorVersion;
  // Set once under the module lock and read without it; both stay until module termination.
  std::atomic<ITypeInfo*> typeInfo{nullptr};
  std::atomic<MemberNameEntry*> nameTable{nullptr};
  LONG nameCount = 0;
};

// The one cache of ISonde's type information, and the one of ISonde2's.
TypeInfoCache& SondeTypeInfo();
TypeInfoCache& Sonde2TypeInfo();

HRESULT BuildNameTable(TypeInfoCache& cache, ITypeInfo* info);
void ReleaseTypeInfo(void* context);

// The IDispatch operations of an interface described by the cache.
HRESULT CachedGetTypeInfo(TypeInfoCache& cache, UINT index, LCID locale, ITypeInfo** info);
HRESULT CachedGetIDsOfNames(TypeInfoCache& cache, REFIID iid, LPOLESTR* names, UINT count,
                            LCID locale, DISPID* dispids);
HRESULT CachedInvoke(TypeInfoCache& cache, IDispatch* self, DISPID member, REFIID iid, LCID locale,
                     WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                     UINT* argumentError);

// Loads type library `index` (1 to 9) of a module: the one embedded in it, else the one in the
// ".tlb" file of the same base name beside it. The path that loaded comes back as a new
// automation string.
HRESULT LoadModuleTypeLib(HINSTANCE module, BSTR* path, ITypeLib** library, UINT index = 1);

}  // namespace telvario

#endif
