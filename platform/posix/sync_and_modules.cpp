// Critical sections over a recursive mutex, and modules over the dynamic loader.
#include <dlfcn.h>

#include <mutex>

#include "kernel.h"
#include "module_entry.h"

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
  void* module = fileName != nullptr ? dlopen(fileName, RTLD_NOW | RTLD_LOCAL) : nullptr;
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
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ThisModuleInstance), &info) == 0) return nullptr;
  return info.dli_fbase;
}
