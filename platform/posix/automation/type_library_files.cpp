// Loading a type library from a module, or by its identifier through the registry, and
// recording it there, under the keys Windows uses:
//   HKCR\TypeLib\{libid}\major.minor          (default: the library's help string)
//       \lcid\win32 or \win64                 (default: the path)
//       \FLAGS, \HELPDIR
//   HKCR\Interface\{iid}                      (default: the name; ProxyStubClsid32; TypeLib)
#include <dlfcn.h>

#include <cstdio>
#include <new>
#include <string>

#include "classes_root.h"
#include "kernel.h"
#include "module_trust.h"
#include "no_throw.h"
#include "oleaut.h"
#include "registry.h"
#include "scope_exit.h"
#include "type_library.h"

namespace {

using classes_root::GuidKeyName;
using classes_root::ReadDefault;
using classes_root::Utf16;
using classes_root::Utf8;
using telvario::typelib::Library;

constexpr char kAutomationProxy[] = "{00020424-0000-0000-C000-000000000046}";
constexpr const char* kPlatformKey = sizeof(void*) == 8 ? "win64" : "win32";

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

bool SetDefault(const std::string& path, const std::string& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LSTATUS status =
      RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

bool SetNamed(const std::string& path, const char* name, const std::string& value) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_WRITE, &key) != ERROR_SUCCESS) {
    return false;
  }
  const LSTATUS status =
      RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

// Deletes a key with everything below it, as far as it can: a child that stays (it could not be
// deleted) ends the walk rather than being tried again and again.
bool DeleteTree(HKEY parent, const char* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, path, 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS) return false;
  char name[256] = {};
  DWORD length = sizeof name;
  while (RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) ==
             ERROR_SUCCESS &&
         DeleteTree(key, name)) {
    length = sizeof name;
  }
  RegCloseKey(key);
  return RegDeleteKeyA(parent, path) == ERROR_SUCCESS;
}

// Calls visit(info, attributes) for each type the library describes; what it holds goes back
// whichever way visit leaves.
template <typename Visit>
void ForEachType(ITypeLib* library, Visit visit) {
  for (UINT index = 0; index < library->GetTypeInfoCount(); ++index) {
    ITypeInfo* info = nullptr;
    if (FAILED(library->GetTypeInfo(index, &info))) continue;
    const ScopeExit releaseInfo([&] { info->Release(); });
    TYPEATTR* type = nullptr;
    if (FAILED(info->GetTypeAttr(&type))) continue;
    const ScopeExit releaseType([&] { info->ReleaseTypeAttr(type); });
    visit(info, type);
  }
}

// Interfaces that automation marshals by their type information: what the registry records of a
// library under HKCR\Interface (of an enumeration or a class, nothing).
bool RecordedAsInterface(const TYPEATTR* type) {
  return type->typekind == TKIND_DISPATCH ||
         (type->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)) != 0;
}

// The registered version of the library with the same major version and the highest minor
// version not below the one asked for.
bool FindVersion(const std::string& libraryKey, WORD major, WORD minor, std::string* version) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, libraryKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  bool found = false;
  unsigned best = 0;
  for (DWORD index = 0;; ++index) {
    char name[64] = {};
    DWORD length = sizeof name;
    if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    unsigned keyMajor = 0;
    unsigned keyMinor = 0;
    if (std::sscanf(name, "%x.%x", &keyMajor, &keyMinor) != 2) continue;
    if (keyMajor == major && keyMinor >= minor && (!found || keyMinor > best)) {
      found = true;
      best = keyMinor;
      *version = name;
    }
  }
  RegCloseKey(key);
  return found;
}

// "module\\N": the module's type library N, exported under the symbol with N after its name
// (type library 1 under the plain name).
void SplitResourceIndex(std::string* path, std::string* symbol) {
  const std::size_t separator = path->find_last_of('\\');
  if (separator == std::string::npos || separator + 1 == path->size()) return;
  const std::string index = path->substr(separator + 1);
  if (index.find_first_not_of("0123456789") != std::string::npos || index.size() > 4) return;
  path->resize(separator);
  if (std::stoi(index) != 1) *symbol += index;
}

}  // namespace

HRESULT LoadTypeLib(LPCOLESTR path, ITypeLib** library) {
  return WithoutThrowing(ReportsHresult{}, [&]() -> HRESULT {
    if (path == nullptr || library == nullptr) return E_INVALIDARG;
    *library = nullptr;
    std::string narrow = Utf8(path);
    std::string symbol = TELVARIO_TYPELIB_SYMBOL;
    SplitResourceIndex(&narrow, &symbol);
    char resolved[PATH_MAX];
    const char* loadable = LoadableModulePath(narrow.c_str(), resolved);
    if (loadable == nullptr) return TYPE_E_CANTLOADLIBRARY;
    void* module = dlopen(loadable, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) return TYPE_E_CANTLOADLIBRARY;
    const auto* description = static_cast<const Library* const*>(dlsym(module, symbol.c_str()));
    if (description == nullptr || *description == nullptr) {
      dlclose(module);
      return TYPE_E_CANTLOADLIBRARY;
    }
    auto* loaded = new (std::nothrow) automation::TypeLibrary(*description, module);
    if (loaded == nullptr) {
      dlclose(module);
      return E_OUTOFMEMORY;
    }
    *library = loaded;
    return S_OK;
  });
}

HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID locale, ITypeLib** library) {
  return WithoutThrowing(ReportsHresult{}, [&]() -> HRESULT {
    if (library == nullptr) return E_INVALIDARG;
    *library = nullptr;
    const std::string libraryKey = "TypeLib\\" + GuidKeyName(libid);
    std::string version;
    if (!FindVersion(libraryKey, major, minor, &version)) return TYPE_E_LIBNOTREGISTERED;
    std::string path;
    const std::string base = libraryKey + "\\" + version + "\\";
    for (const LCID tried : {locale, static_cast<LCID>(locale & 0x3FF), LCID{0}}) {
      if (ReadDefault(base + Hex(tried) + "\\" + kPlatformKey, &path)) break;
    }
    if (path.empty()) return TYPE_E_LIBNOTREGISTERED;
    const std::u16string widePath = Utf16(path);
    return LoadTypeLib(widePath.c_str(), library);
  });
}

HRESULT RegisterTypeLib(ITypeLib* library, LPOLESTR fullPath, LPOLESTR helpDirectory) {
  return WithoutThrowing(ReportsHresult{}, [&]() -> HRESULT {
    if (library == nullptr || fullPath == nullptr) return E_INVALIDARG;
    TLIBATTR* attributes = nullptr;
    const HRESULT hr = library->GetLibAttr(&attributes);
    if (FAILED(hr)) return hr;
    const TLIBATTR held = *attributes;
    library->ReleaseTLibAttr(attributes);
    const std::string libid = GuidKeyName(held.guid);
    const std::string versionKey =
        "TypeLib\\" + libid + "\\" + Hex(held.wMajorVerNum) + "." + Hex(held.wMinorVerNum);
    const std::string version =
        std::to_string(held.wMajorVerNum) + "." + std::to_string(held.wMinorVerNum);
    const std::string lcid = Hex(held.lcid);

    BSTR name = nullptr;
    BSTR help = nullptr;
    library->GetDocumentation(-1, &name, &help, nullptr, nullptr);
    const ScopeExit freeNames([&] {
      SysFreeString(name);
      SysFreeString(help);
    });
    const std::string title = Utf8(help != nullptr ? help : name);

    const std::string path = Utf8(fullPath);
    std::string helpDir = Utf8(helpDirectory);
    if (helpDirectory == nullptr) helpDir = path.substr(0, path.find_last_of('/') + 1);
    bool ok = SetDefault(versionKey, title) &&
              SetDefault(versionKey + "\\" + lcid + "\\" + kPlatformKey, path) &&
              SetDefault(versionKey + "\\FLAGS", "0") &&
              SetDefault(versionKey + "\\HELPDIR", helpDir);

    ForEachType(library, [&](ITypeInfo* info, const TYPEATTR* type) {
      if (ok && RecordedAsInterface(type)) {
        BSTR interfaceName = nullptr;
        info->GetDocumentation(MEMBERID_NIL, &interfaceName, nullptr, nullptr, nullptr);
        const ScopeExit freeName([&] { SysFreeString(interfaceName); });
        const std::string key = "Interface\\" + GuidKeyName(type->guid);
        ok = SetDefault(key, Utf8(interfaceName)) &&
             SetDefault(key + "\\ProxyStubClsid", kAutomationProxy) &&
             SetDefault(key + "\\ProxyStubClsid32", kAutomationProxy) &&
             SetDefault(key + "\\TypeLib", libid) &&
             SetNamed(key + "\\TypeLib", "Version", version);
      }
    });
    return ok ? S_OK : TYPE_E_REGISTRYACCESS;
  });
}

HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID locale, SYSKIND /*syskind*/) {
  return WithoutThrowing(ReportsHresult{}, [&]() -> HRESULT {
    const std::string libraryKey = "TypeLib\\" + GuidKeyName(libid);
    const std::string versionKey = libraryKey + "\\" + Hex(major) + "." + Hex(minor);
    std::string path;
    if (!ReadDefault(versionKey + "\\" + Hex(locale) + "\\" + kPlatformKey, &path)) {
      return TYPE_E_REGISTRYACCESS;
    }
    // The interfaces go with the library that recorded them.
    ITypeLib* library = nullptr;
    if (SUCCEEDED(LoadTypeLib(Utf16(path).c_str(), &library))) {
      const ScopeExit releaseLibrary([&] { library->Release(); });
      ForEachType(library, [&](ITypeInfo* /*info*/, const TYPEATTR* type) {
        if (!RecordedAsInterface(type)) return;
        const std::string key = "Interface\\" + GuidKeyName(type->guid);
        std::string owner;
        if (ReadDefault(key + "\\TypeLib", &owner) && owner == GuidKeyName(libid)) {
          DeleteTree(HKEY_CLASSES_ROOT, key.c_str());
        }
      });
    }
    DeleteTree(HKEY_CLASSES_ROOT, versionKey.c_str());
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, libraryKey.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
      DWORD subKeys = 0;
      RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr);
      RegCloseKey(key);
      if (subKeys == 0) RegDeleteKeyA(HKEY_CLASSES_ROOT, libraryKey.c_str());
    }
    return S_OK;
  });
}
