// The registrar a module registers itself with: the symbols its caller sets, and the registry
// scripts (registry_script.h) it runs with them, from a module's resources or from text.
#ifndef TELVARIO_SERVER_SCRIPT_REGISTRAR_H
#define TELVARIO_SERVER_SCRIPT_REGISTRAR_H

#include "script_symbols.h"
#include "windows_api.h"

namespace telvario {

// Made on the caller's stack for one run. Its slot table holds QueryInterface, AddRef, Release,
// SetSymbol and ClearSymbols, in that order; it is not reference-counted.
class ScriptRegistrar final {
 public:
  ScriptRegistrar() = default;
  ScriptRegistrar(const ScriptRegistrar&) = delete;
  ScriptRegistrar& operator=(const ScriptRegistrar&) = delete;

  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object);
  virtual ULONG STDMETHODCALLTYPE AddRef();
  virtual ULONG STDMETHODCALLTYPE Release();
  virtual HRESULT STDMETHODCALLTYPE SetSymbol(LPCOLESTR name, LPCOLESTR value);
  virtual HRESULT STDMETHODCALLTYPE ClearSymbols();

  // Runs the script stored in a module as resource resourceId of resourceType.
  HRESULT RunResource(LPCOLESTR modulePath, WORD resourceId, LPCOLESTR resourceType,
                      BOOL doRegister);
  HRESULT RunNamedResource(LPCOLESTR modulePath, LPCOLESTR resourceName, LPCOLESTR resourceType,
                           BOOL doRegister);
  // Runs narrow script text (NUL-terminated, in the ANSI code page).
  HRESULT RunText(const char* text, BOOL doRegister);

 private:
  HRESULT RunFromModule(LPCOLESTR modulePath, LPCSTR resourceName, LPCOLESTR resourceType,
                        BOOL doRegister);

  ScriptSymbols symbols_;
};

}  // namespace telvario

#endif
