#include "type_info_cache.h"

#include <cstring>
#include <new>

#include "server_module.h"
#include "string_conversion.h"
#include "telvario2_idl.h"
#include "telvario_idl.h"
#include "error_codes.h"

namespace telvario {
namespace {

constexpr HRESULT kFilenameTooLong = static_cast<HRESULT>(0x8007007A);

bool SameUnits(const MemberNameEntry& row, const OLECHAR* name, ULONG length) {
  return row.name != nullptr && row.length == length &&
         std::memcmp(row.name, name, length * sizeof(OLECHAR)) == 0;
}

// The type information as cached: the ITypeInfo that its ITypeInfo2 side gives, where it has
// one, with one reference; the caller's reference is handed over.
ITypeInfo* CachedPointer(ITypeInfo* obtained) {
  ITypeInfo2* second = nullptr;
  if (obtained->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(&second)) != S_OK) {
    return obtained;
  }
  ITypeInfo* first = nullptr;
  const HRESULT hr = second->QueryInterface(IID_ITypeInfo, reinterpret_cast<void**>(&first));
  second->Release();
  if (FAILED(hr) || first == nullptr) return obtained;
  obtained->Release();
  return first;
}

// Converts a narrow path with the selected code page; empty on failure.
bool WidePath(const char* path, WCHAR* wide, int wideChars) {
  return ToWide(wide, wideChars, path) != nullptr && wide[0] != 0;
}

}  // namespace

TypeInfoCache& SondeTypeInfo() {
  static TypeInfoCache cache{&IID_ISonde, &LIBID_TELVARIOLib, 1, 0};
  return cache;
}

TypeInfoCache& Sonde2TypeInfo() {
  static TypeInfoCache cache{&IID_ISonde2, &LIBID_TELVARIO2Lib, 1, 0};
  return cache;
}

namespace {

// The type information and its name table, loaded on first use under the module lock.
HRESULT EnsureTypeInfo(TypeInfoCache& cache, LCID locale) {
  if (cache.typeInfo.load(std::memory_order_acquire) != nullptr &&
      cache.nameTable.load(std::memory_order_acquire) != nullptr) {
    return S_OK;
  }
  ServerModule& module = TheModule();
  GuardedLockHolder holder(module.ModuleLock());
  HRESULT result = holder.Lock();
  if (FAILED(result)) return result;

  result = E_FAIL;
  if (cache.typeInfo.load(std::memory_order_relaxed) != nullptr) {
    result = S_OK;
  } else {
    ITypeLib* library = nullptr;
    result =
        LoadRegTypeLib(*cache.libraryId, cache.majorVersion, cache.minorVersion, locale, &library);
    if (SUCCEEDED(result)) {
      ITypeInfo* info = nullptr;
      result = library->GetTypeInfoOfGuid(*cache.interfaceId, &info);
      if (SUCCEEDED(result) && info != nullptr) {
        cache.typeInfo.store(CachedPointer(info), std::memory_order_release);
      }
      library->Release();
      module.AddTermCallback(&ReleaseTypeInfo, &cache);
    }
  }
  ITypeInfo* info = cache.typeInfo.load(std::memory_order_relaxed);
  if (info != nullptr && cache.nameTable.load(std::memory_order_relaxed) == nullptr) {
    BuildNameTable(cache, info);
  }
  return result;
}

}  // namespace

HRESULT BuildNameTable(TypeInfoCache& cache, ITypeInfo* info) {
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes)) || attributes == nullptr) return S_OK;
  const LONG count = attributes->cFuncs;
  MemberNameEntry* table = nullptr;
  if (count != 0) {
    table = new (std::nothrow) MemberNameEntry[static_cast<std::size_t>(count)]{};
    if (table == nullptr) {
      info->ReleaseTypeAttr(attributes);
      return E_OUTOFMEMORY;
    }
  }
  for (LONG index = 0; index < count; ++index) {
    FUNCDESC* function = nullptr;
    if (FAILED(info->GetFuncDesc(static_cast<UINT>(index), &function))) continue;
    BSTR name = nullptr;
    if (SUCCEEDED(info->GetDocumentation(function->memid, &name, nullptr, nullptr, nullptr))) {
      table[index].name = name;
      table[index].length = SysStringLen(name);
      table[index].dispid = function->memid;
      name = nullptr;
    }
    info->ReleaseFuncDesc(function);
    SysFreeString(name);
  }
  info->ReleaseTypeAttr(attributes);
  cache.nameCount = count;
  cache.nameTable.store(table, std::memory_order_release);
  return S_OK;
}

void ReleaseTypeInfo(void* context) {
  auto& cache = *static_cast<TypeInfoCache*>(context);
  if (ITypeInfo* info = cache.typeInfo.exchange(nullptr)) info->Release();
  if (MemberNameEntry* table = cache.nameTable.exchange(nullptr)) {
    for (LONG i = 0; i < cache.nameCount; ++i) SysFreeString(table[i].name);
    delete[] table;
  }
  cache.nameCount = 0;
}

HRESULT CachedGetTypeInfo(TypeInfoCache& cache, UINT /*index*/, LCID locale, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  HRESULT result = S_OK;
  if (cache.typeInfo.load(std::memory_order_acquire) == nullptr) {
    result = EnsureTypeInfo(cache, locale);
  }
  ITypeInfo* cached = cache.typeInfo.load(std::memory_order_acquire);
  *info = cached;
  if (cached == nullptr) return result;
  cached->AddRef();
  return S_OK;
}

HRESULT CachedGetIDsOfNames(TypeInfoCache& cache, REFIID /*iid*/, LPOLESTR* names, UINT count,
                            LCID locale, DISPID* dispids) {
  HRESULT result = S_OK;
  if (cache.typeInfo.load(std::memory_order_acquire) == nullptr ||
      cache.nameTable.load(std::memory_order_acquire) == nullptr) {
    result = EnsureTypeInfo(cache, locale);
  }
  ITypeInfo* info = cache.typeInfo.load(std::memory_order_acquire);
  if (info == nullptr) return result;
  // The table holds member names only. The names after the first are the member's parameter
  // names (named arguments), which share their spelling with members of their own: a request
  // with more than one name goes to the type information whole.
  const MemberNameEntry* table = cache.nameTable.load(std::memory_order_acquire);
  if (table == nullptr || count != 1) return info->GetIDsOfNames(names, count, dispids);
  const auto length = static_cast<ULONG>(lstrlenW(names[0]));
  for (LONG row = cache.nameCount - 1; row >= 0; --row) {
    if (SameUnits(table[row], names[0], length)) {
      dispids[0] = table[row].dispid;
      return result;
    }
  }
  return info->GetIDsOfNames(names, count, dispids);
}

HRESULT CachedInvoke(TypeInfoCache& cache, IDispatch* self, DISPID member, REFIID /*iid*/,
                     LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                     EXCEPINFO* exception, UINT* argumentError) {
  HRESULT ensured = S_OK;
  if (cache.typeInfo.load(std::memory_order_acquire) == nullptr ||
      cache.nameTable.load(std::memory_order_acquire) == nullptr) {
    ensured = EnsureTypeInfo(cache, locale);
  }
  ITypeInfo* info = cache.typeInfo.load(std::memory_order_acquire);
  if (info == nullptr) return ensured;
  return info->Invoke(self, member, flags, params, result, exception, argumentError);
}

HRESULT LoadModuleTypeLib(HINSTANCE module, BSTR* path, ITypeLib** library, UINT index) {
  if (path == nullptr || library == nullptr) return E_POINTER;
  *path = nullptr;
  *library = nullptr;
  // Room after the name for ".tlb" in place of a shorter extension, or of none.
  char file[MAX_PATH + 8] = {};
  const DWORD length = GetModuleFileNameA(module, file, MAX_PATH);
  if (length == 0) return HresultFromWin32(static_cast<LONG>(GetLastError()));
  if (length == MAX_PATH) return kFilenameTooLong;
  char* extension = PathFindExtensionA(file);

  // A library after the first is named by its index after the path, as "module\2".
  WCHAR wide[MAX_PATH + 16] = {};
  const auto load = [&] {
    if (!WidePath(file, wide, MAX_PATH + 8)) return E_FAIL;
    if (index > 1) {
      std::size_t end = 0;
      while (wide[end] != 0) ++end;
      wide[end++] = '\\';
      wide[end++] = static_cast<WCHAR>('0' + index % 10);
      wide[end] = 0;
    }
    return LoadTypeLib(wide, library);
  };
  HRESULT hr = load();
  if (FAILED(hr)) {
    std::memcpy(extension, ".tlb", 5);
    hr = load();
    if (FAILED(hr)) return hr;
  }
  *path = SysAllocString(wide);
  return *path == nullptr ? E_OUTOFMEMORY : hr;
}

}  // namespace telvario
