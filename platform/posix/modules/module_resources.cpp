#include "module_resources.h"

#include <dlfcn.h>

#include <cstdlib>

#include "kernel.h"

namespace {

bool SameText(const char* a, const char* b) {
  return a != nullptr && b != nullptr && lstrcmpiA(a, b) == 0;
}

bool NameMatches(const ModuleResource& resource, LPCSTR name) {
  if (IS_INTRESOURCE(name)) {
    return resource.name == nullptr &&
           resource.id == static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name));
  }
  // "#101" names resource 101, as on Windows.
  if (name[0] == '#') {
    char* end = nullptr;
    const unsigned long id = std::strtoul(name + 1, &end, 10);
    return *end == '\0' && resource.name == nullptr && resource.id == id;
  }
  return SameText(resource.name, name);
}

bool TypeMatches(const ModuleResource& resource, LPCSTR type) {
  if (IS_INTRESOURCE(type)) {
    return resource.type == nullptr &&
           resource.typeId == static_cast<WORD>(reinterpret_cast<ULONG_PTR>(type));
  }
  return SameText(resource.type, type);
}

}  // namespace

HMODULE LoadLibraryExA(LPCSTR fileName, HANDLE /*file*/, DWORD /*flags*/) {
  return LoadLibraryA(fileName);
}

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  const auto* table =
      module != nullptr
          ? static_cast<const ModuleResource*>(dlsym(module, TELVARIO_RESOURCES_SYMBOL))
          : nullptr;
  if (table == nullptr || name == nullptr || type == nullptr) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  bool typeSeen = false;
  for (const ModuleResource* row = table; row->type != nullptr || row->typeId != 0; ++row) {
    if (!TypeMatches(*row, type)) continue;
    typeSeen = true;
    if (NameMatches(*row, name)) return row;
  }
  SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

HGLOBAL LoadResource(HMODULE /*module*/, HRSRC resource) {
  if (resource == nullptr) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  return resource->data;
}

DWORD SizeofResource(HMODULE /*module*/, HRSRC resource) {
  return resource != nullptr ? resource->size : 0;
}

const void* LockResource(HGLOBAL data) {
  return data;
}
