// Late-bound calls as a script engine makes them: the library loaded, its type library
// registered (until the library registers itself), names looked up and members invoked.
#ifndef TELVARIO_TESTS_DISPATCH_TEST_SUPPORT_H
#define TELVARIO_TESTS_DISPATCH_TEST_SUPPORT_H

#include <string>
#include <vector>

#include "telvario2_idl.h"
#include "telvario_idl.h"
#include "windows_api.h"

namespace telvario::testing {

constexpr SYSKIND kThisSyskind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

// The module's full path in UTF-16.
inline std::basic_string<OLECHAR> ModulePath(HMODULE module) {
  char path[MAX_PATH + 1] = {};
  GetModuleFileNameA(module, path, MAX_PATH);
  OLECHAR wide[MAX_PATH + 1] = {};
  MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, MAX_PATH + 1);
  return wide;
}

inline HRESULT RegisterModuleTypeLib(HMODULE module) {
  std::basic_string<OLECHAR> path = ModulePath(module);
  ITypeLib* library = nullptr;
  HRESULT hr = LoadTypeLib(path.c_str(), &library);
  if (FAILED(hr)) return hr;
  hr = RegisterTypeLib(library, path.data(), nullptr);
  library->Release();
  return hr;
}

inline void UnregisterTypeLib() {
  UnRegisterTypeLib(LIBID_TELVARIOLib, 1, 0, 0, kThisSyskind);
}

// A variant that clears itself.
struct Value : VARIANT {
  Value() { VariantInit(this); }
  ~Value() { VariantClear(this); }
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
};

inline void SetShort(VARIANT& v, SHORT value) {
  v.vt = VT_I2;
  v.iVal = value;
}
inline void SetLong(VARIANT& v, LONG value) {
  v.vt = VT_I4;
  v.lVal = value;
}
inline void SetDouble(VARIANT& v, double value) {
  v.vt = VT_R8;
  v.dblVal = value;
}
inline void SetText(VARIANT& v, const char* text) {
  const std::string narrow(text);
  const std::basic_string<OLECHAR> wide(narrow.begin(), narrow.end());
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

inline std::string Narrow(BSTR text) {
  std::string narrow;
  for (UINT i = 0; text != nullptr && i < SysStringLen(text); ++i) {
    narrow += static_cast<char>(text[i]);
  }
  return narrow;
}

}  // namespace telvario::testing

#endif
