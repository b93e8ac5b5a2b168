// Critical sections over a recursive mutex, and modules over the dynamic loader.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <mutex>

#include "kernel.h"
#include "module_entry.h"
#include "module_trust.h"

void InitializeCriticalSection(CRITICAL_SECTION* section) {
  section->lock = new std::recursive_mutex;
}

void EnterCriticalSection(CRITICAL_SECTION* section) {
  static_cast<std::recursive_mutex*>(section->lock)->lock();
}

void LeaveCriticalSection(CRITICAL_SECTION* section) {
  static_cast<std::recursive_mutex*>(section->lock)->unlock();
}

void DeleteCriticalSection(CRITICAL_SECTION* section) {
  delete static_cast<std::recursive_mutex*>(section->lock);
  section->lock = nullptr;
}

HMODULE LoadLibraryA(LPCSTR fileName) {
  char resolved[PATH_MAX];
  const char* loadable = LoadableModulePath(fileName, resolved);
  if (fileName != nullptr && loadable == nullptr) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  void* module = loadable != nullptr ? dlopen(loadable, RTLD_NOW | RTLD_LOCAL) : nullptr;
  if (module == nullptr) SetLastError(126);  // ERROR_MOD_NOT_FOUND
  return module;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  void* found = dlsym(module, name);
  if (found == nullptr) SetLastError(127);  // ERROR_PROC_NOT_FOUND
  return reinterpret_cast<FARPROC>(found);
}

BOOL FreeLibrary(HMODULE module) {
  return dlclose(module) == 0 ? TRUE : FALSE;
}

BOOL DisableThreadLibraryCalls(HMODULE /*module*/) {
  return TRUE;  // a shared library is never told of threads
}

HINSTANCE ThisModuleInstance() {
  // The loader's handle of the object holding this code, as LoadLibraryA would give it. The
  // reference the lookup takes is given back at once: the handle stays valid while the object
  // is loaded, which is whenever its code runs.
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ThisModuleInstance), &info) == 0) return nullptr;
  void* handle =
      info.dli_fname != nullptr ? dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD) : nullptr;
  if (handle == nullptr) handle = dlopen(nullptr, RTLD_LAZY);  // linked into the program
  if (handle != nullptr) dlclose(handle);
  return handle;
}

BOOL GetModuleHandleExA(DWORD flags, LPCSTR moduleName, HMODULE* module) {
  if (module == nullptr || (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *module = nullptr;
  Dl_info info{};
  if (dladdr(moduleName, &info) == 0 || info.dli_fname == nullptr) {
    SetLastError(126);  // ERROR_MOD_NOT_FOUND
    return FALSE;
  }
  const int pin = (flags & GET_MODULE_HANDLE_EX_FLAG_PIN) != 0 ? RTLD_NODELETE : 0;
  void* handle = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | pin);
  if (handle == nullptr) handle = dlopen(nullptr, RTLD_LAZY);  // linked into the program
  // Windows takes no reference without PIN either (the flag to leave the count unchanged aside):
  // the reference dlopen took is given back, and a pinned object stays loaded regardless.
  if (handle != nullptr) dlclose(handle);
  *module = handle;
  return handle != nullptr ? TRUE : FALSE;
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  std::string path;
  if (module == nullptr) {
    char buffer[4096];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length > 0) path.assign(buffer, static_cast<size_t>(length));
  } else {
    link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr) {
      path = map->l_name;
    }
    if (map != nullptr && path.empty()) {  // the program itself has no name in the map
      char buffer[4096];
      const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
      if (length > 0) path.assign(buffer, static_cast<size_t>(length));
    }
  }
  if (path.empty() || size == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  // As on Windows: a name that does not fit is cut, terminated, and reported as too long.
  const DWORD copied = path.size() < size ? static_cast<DWORD>(path.size()) : size - 1;
  std::memcpy(fileName, path.data(), copied);
  fileName[copied] = '\0';
  if (copied < path.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  return copied;
}
