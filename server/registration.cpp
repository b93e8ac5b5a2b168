#include "registration.h"

#include <cstring>
#include <new>

#include "script_registrar.h"
#include "string_conversion.h"
#include "type_info_cache.h"
#include "error_codes.h"

namespace telvario {
namespace {

constexpr HRESULT kNameTooLong = static_cast<HRESULT>(0x8007007A);
constexpr int kDoubledPathChars = 520;
constexpr int kTypeLibPathChars = 264;

// The path with every single quote doubled, for use inside a quoted token of a script.
void DoubleQuotes(const WCHAR* path, WCHAR* doubled, int doubledChars) {
  int used = 0;
  for (const WCHAR* at = path; *at != 0 && used < doubledChars - 2; ++at) {
    doubled[used++] = *at;
    if (*at == L'\'') doubled[used++] = L'\'';
  }
  doubled[used] = 0;
}

// Runs the module's script with the common symbols and "Module"; the resource is named by
// resourceId, or by resourceName when that is set.
HRESULT RunModuleScript(ServerModule& module, WORD resourceId, LPCSTR resourceName, BOOL doRegister,
                        const SymbolPair* extraSymbols) {
  ScriptRegistrar registrar;
  for (const SymbolPair* pair = extraSymbols; pair != nullptr && pair->name != nullptr; ++pair) {
    registrar.SetSymbol(pair->name, pair->value);
  }
  HRESULT hr = module.AddCommonSymbols(&registrar);
  if (FAILED(hr)) return hr;
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(ModuleInstance(), path, MAX_PATH);
  if (length == 0) return HresultFromWin32(static_cast<LONG>(GetLastError()));
  if (length == MAX_PATH) return kNameTooLong;
  WCHAR widePath[MAX_PATH] = {};
  ToWide(widePath, MAX_PATH, path);
  WCHAR doubled[kDoubledPathChars] = {};
  DoubleQuotes(widePath, doubled, kDoubledPathChars);
  registrar.SetSymbol(OLESTR("Module"), doubled);
  if (resourceName == nullptr) {
    return registrar.RunResource(widePath, resourceId, OLESTR("REGISTRY"), doRegister);
  }
  const int chars = MultiByteToWideChar(SelectedCodePage(), 0, resourceName, -1, nullptr, 0);
  if (chars <= 0) return E_INVALIDARG;
  WCHAR* wideName = new (std::nothrow) WCHAR[static_cast<std::size_t>(chars)];
  if (wideName == nullptr) return E_OUTOFMEMORY;
  ToWide(wideName, chars, resourceName);
  hr = registrar.RunNamedResource(widePath, wideName, OLESTR("REGISTRY"), doRegister);
  delete[] wideName;
  return hr;
}

// Removes the class's category subkey when nothing is left below it.
void DeleteIfEmpty(const char* classKey, const char* subkey) {
  const std::string path = std::string("CLSID\\") + classKey + "\\" + subkey;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD subkeys = 0;
  const LONG queried = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                        nullptr, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  if (queried == ERROR_SUCCESS && subkeys == 0) RegDeleteKeyA(HKEY_CLASSES_ROOT, path.c_str());
}

}  // namespace

HRESULT ServerModule::GetGlobalInterfaceTable(IGlobalInterfaceTable** table) {
  if (table == nullptr) return E_POINTER;
  *table = nullptr;
  if (globalInterfaceTable_ == nullptr) {
    const HRESULT hr = CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr,
                                        CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                                        reinterpret_cast<void**>(&globalInterfaceTable_));
    if (FAILED(hr)) return hr;
  }
  globalInterfaceTable_->AddRef();
  *table = globalInterfaceTable_;
  return S_OK;
}

HRESULT ServerModule::AddCommonSymbols(ScriptRegistrar* registrar) {
  return registrar->SetSymbol(OLESTR("APPID"), OLESTR(""));
}

HRESULT ServerModule::RegisterFromResourceUnsupported(WORD, BOOL, const SymbolPair*) {
  return E_FAIL;
}

HRESULT ServerModule::RegisterFromNamedResourceUnsupported(LPCSTR, BOOL, const SymbolPair*) {
  return E_FAIL;
}

HRESULT ServerModule::RegisterFromResource(WORD resourceId, BOOL doRegister,
                                           const SymbolPair* extraSymbols) {
  return RunModuleScript(*this, resourceId, nullptr, doRegister, extraSymbols);
}

HRESULT ServerModule::RegisterFromNamedResource(LPCSTR resourceName, BOOL doRegister,
                                                const SymbolPair* extraSymbols) {
  if (resourceName == nullptr) return E_INVALIDARG;
  return RunModuleScript(*this, 0, resourceName, doRegister, extraSymbols);
}

namespace {

HRESULT UpdateCategories(const CLSID& clsid, const CategoryRow* table, bool doRegister) {
  if (table == nullptr || IsEqualGUID(clsid, CLSID_NULL)) return S_OK;
  ICatRegister* manager = nullptr;
  if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                              IID_ICatRegister, reinterpret_cast<void**>(&manager)))) {
    return S_OK;
  }
  HRESULT result = S_OK;
  for (const CategoryRow* row = table; row->kind != 0; ++row) {
    auto* catid = const_cast<CATID*>(row->catid);
    if (doRegister) {
      result = row->kind == 1 ? manager->RegisterClassImplCategories(clsid, 1, catid)
                              : manager->RegisterClassReqCategories(clsid, 1, catid);
      if (FAILED(result)) break;
    } else if (row->kind == 1) {
      manager->UnRegisterClassImplCategories(clsid, 1, catid);
    } else {
      manager->UnRegisterClassReqCategories(clsid, 1, catid);
    }
  }
  if (!doRegister) {
    OLECHAR wide[64] = {};
    StringFromGUID2(clsid, wide, 64);
    char narrow[64] = {};
    ToNarrow(narrow, sizeof narrow, wide);
    DeleteIfEmpty(narrow, "Required Categories");
    DeleteIfEmpty(narrow, "Implemented Categories");
  }
  manager->Release();
  return result;
}

HRESULT RegisterModuleTypeLib(HINSTANCE module, UINT index) {
  BSTR loadedPath = nullptr;
  ITypeLib* library = nullptr;
  HRESULT hr = LoadModuleTypeLib(module, &loadedPath, &library, index);
  if (FAILED(hr)) return hr;
  OLECHAR path[kTypeLibPathChars] = {};
  CopyWide(path, kTypeLibPathChars, loadedPath);
  // The help directory: the path up to its last separator, which stays.
  OLECHAR helpDirectory[kTypeLibPathChars] = {};
  int end = 0;
  for (int i = 0; path[i] != 0; ++i) {
    if (path[i] == '\\' || path[i] == '/' || path[i] == ':') end = i + 1;
  }
  std::memcpy(helpDirectory, path, static_cast<std::size_t>(end) * sizeof(OLECHAR));
  hr = RegisterTypeLib(library, path, helpDirectory);
  library->Release();
  SysFreeString(loadedPath);
  return hr;
}

HRESULT UnregisterModuleTypeLib(HINSTANCE module, UINT index) {
  BSTR loadedPath = nullptr;
  ITypeLib* library = nullptr;
  HRESULT hr = LoadModuleTypeLib(module, &loadedPath, &library, index);
  if (FAILED(hr)) return hr;
  TLIBATTR* attributes = nullptr;
  hr = library->GetLibAttr(&attributes);
  if (SUCCEEDED(hr)) {
    hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                           attributes->lcid, attributes->syskind);
    library->ReleaseTLibAttr(attributes);
  }
  library->Release();
  SysFreeString(loadedPath);
  return hr;
}

}  // namespace

HRESULT RegisterServer(ObjectMapEntry* map) {
  for (ObjectMapEntry* row = map; row->clsid != nullptr; ++row) {
    HRESULT hr = row->updateRegistry(TRUE);
    if (FAILED(hr)) return hr;
    hr =
        UpdateCategories(*row->clsid, static_cast<const CategoryRow*>(row->getCategoryMap()), true);
    if (FAILED(hr)) return hr;
  }
  // Sonde's library, then Sonde2's, which refers to it.
  const HINSTANCE module = TheClassTable().TypeLibraryModule();
  const HRESULT hr = RegisterModuleTypeLib(module, 1);
  return FAILED(hr) ? hr : RegisterModuleTypeLib(module, 2);
}

HRESULT UnregisterServer(ObjectMapEntry* map) {
  for (ObjectMapEntry* row = map; row->clsid != nullptr; ++row) {
    HRESULT hr = UpdateCategories(*row->clsid,
                                  static_cast<const CategoryRow*>(row->getCategoryMap()), false);
    if (FAILED(hr)) return hr;
    hr = row->updateRegistry(FALSE);
    if (FAILED(hr)) return hr;
  }
  const HINSTANCE module = TheClassTable().TypeLibraryModule();
  const HRESULT second = UnregisterModuleTypeLib(module, 2);
  const HRESULT first = UnregisterModuleTypeLib(module, 1);
  return FAILED(first) ? first : second;
}

}  // namespace telvario
