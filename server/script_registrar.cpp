#include "script_registrar.h"

#include <cstring>
#include <new>

#include "error_codes.h"
#include "registry_script.h"
#include "string_conversion.h"

namespace telvario {
namespace {

constexpr std::size_t kResourceTextOnStack = 1024;

HRESULT LastErrorResult() {
  return HresultFromWin32(static_cast<LONG>(GetLastError()));
}

}  // namespace

HRESULT STDMETHODCALLTYPE ScriptRegistrar::QueryInterface(REFIID /*iid*/, void** /*object*/) {
  return E_NOTIMPL;
}

ULONG STDMETHODCALLTYPE ScriptRegistrar::AddRef() {
  return 1;
}

ULONG STDMETHODCALLTYPE ScriptRegistrar::Release() {
  return 0;
}

HRESULT STDMETHODCALLTYPE ScriptRegistrar::SetSymbol(LPCOLESTR name, LPCOLESTR value) {
  if (name == nullptr || value == nullptr) return E_INVALIDARG;
  return symbols_.Add(name, value);
}

HRESULT STDMETHODCALLTYPE ScriptRegistrar::ClearSymbols() {
  symbols_.Clear();
  return S_OK;
}

HRESULT ScriptRegistrar::RunResource(LPCOLESTR modulePath, WORD resourceId, LPCOLESTR resourceType,
                                     BOOL doRegister) {
  return RunFromModule(modulePath, MAKEINTRESOURCEA(resourceId), resourceType, doRegister);
}

HRESULT ScriptRegistrar::RunNamedResource(LPCOLESTR modulePath, LPCOLESTR resourceName,
                                          LPCOLESTR resourceType, BOOL doRegister) {
  if (resourceName == nullptr || resourceType == nullptr) return E_INVALIDARG;
  const NarrowCopy name(resourceName);
  if (name.Failed()) return E_OUTOFMEMORY;
  return RunFromModule(modulePath, name.Get(), resourceType, doRegister);
}

HRESULT ScriptRegistrar::RunFromModule(LPCOLESTR modulePath, LPCSTR resourceName,
                                       LPCOLESTR resourceType, BOOL doRegister) {
  const NarrowCopy path(modulePath);
  const NarrowCopy type(resourceType);
  if (path.Failed() || type.Failed()) return E_OUTOFMEMORY;
  const HMODULE module = LoadLibraryExA(path.Get(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return LastErrorResult();
  HRESULT hr = S_OK;
  const HRSRC found = FindResourceA(module, resourceName, type.Get());
  const HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (data == nullptr) {
    hr = LastErrorResult();
  } else {
    // The resource holds no NUL of its own.
    const DWORD size = SizeofResource(module, found);
    char onStack[kResourceTextOnStack];
    char* text = size < kResourceTextOnStack ? onStack : new (std::nothrow) char[size + 1];
    if (text == nullptr) {
      hr = E_OUTOFMEMORY;
    } else {
      std::memcpy(text, data, size);
      text[size] = '\0';
      hr = RunText(text, doRegister);
      if (text != onStack) delete[] text;
    }
  }
  FreeLibrary(module);
  return hr;
}

HRESULT ScriptRegistrar::RunText(const char* text, BOOL doRegister) {
  if (text == nullptr) return E_INVALIDARG;
  return RunScript(text, symbols_, doRegister != FALSE);
}

}  // namespace telvario
