// Runs registry scripts: a text language for a tree of registry keys with their default and
// named values, applied in the register direction (create and write) or the unregister
// direction (delete what the script names, except what it marks NoRemove). Symbols (%NAME%) are
// substituted into the text before it is parsed.
#ifndef TELVARIO_SERVER_SCRIPT_REGISTRAR_H
#define TELVARIO_SERVER_SCRIPT_REGISTRAR_H

#include <vector>

#include "windows_api.h"

namespace telvario {

// Name and value pairs, in insertion order; lookups find the first pair of a name, whatever its
// case.
class ScriptSymbols {
 public:
  ScriptSymbols() = default;
  ~ScriptSymbols() { Clear(); }
  ScriptSymbols(const ScriptSymbols&) = delete;
  ScriptSymbols& operator=(const ScriptSymbols&) = delete;

  HRESULT Add(LPCOLESTR name, LPCOLESTR value);
  void Clear();
  // Null when no pair has that name.
  LPCOLESTR Find(const char* name) const;

 private:
  std::vector<char*> names_;
  std::vector<OLECHAR*> values_;
};

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
