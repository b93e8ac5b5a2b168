// Creating objects of in-process servers registered under HKEY_CLASSES_ROOT, as COM does:
// ProgID\CLSID names the class, CLSID\{class}\InprocServer32 its module, whose
// DllGetClassObject makes the class object.
#include <string>

#include "classes_root.h"
#include "com.h"
#include "kernel.h"
#include "no_throw.h"

namespace {

using classes_root::ReadDefault;
using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);

int HexValue(OLECHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

// Reads `digits` hexadecimal digits; false at anything else.
bool ReadHex(LPCOLESTR& at, int digits, unsigned long long* value) {
  *value = 0;
  for (int i = 0; i < digits; ++i, ++at) {
    const int digit = HexValue(*at);
    if (digit < 0) return false;
    *value = *value << 4 | static_cast<unsigned>(digit);
  }
  return true;
}

}  // namespace

HRESULT CoInitialize(void* /*reserved*/) {
  return S_OK;
}

void CoUninitialize() {}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
  if (clsid == nullptr) return E_INVALIDARG;
  if (text == nullptr) {
    *clsid = CLSID_NULL;
    return S_OK;
  }
  LPCOLESTR at = text;
  unsigned long long value = 0;
  CLSID parsed{};
  const auto expect = [&at](OLECHAR c) { return *at++ == c; };
  bool ok = expect(u'{') && ReadHex(at, 8, &value);
  parsed.Data1 = static_cast<DWORD>(value);
  ok = ok && expect(u'-') && ReadHex(at, 4, &value);
  parsed.Data2 = static_cast<WORD>(value);
  ok = ok && expect(u'-') && ReadHex(at, 4, &value);
  parsed.Data3 = static_cast<WORD>(value);
  ok = ok && expect(u'-');
  for (int i = 0; ok && i < 8; ++i) {
    if (i == 2) ok = expect(u'-');
    ok = ok && ReadHex(at, 2, &value);
    parsed.Data4[i] = static_cast<BYTE>(value);
  }
  ok = ok && expect(u'}') && *at == 0;
  if (!ok) return CO_E_CLASSSTRING;
  *clsid = parsed;
  return S_OK;
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
  return WithoutThrowing(ReportsHresult{}, [&]() -> HRESULT {
    if (progId == nullptr || clsid == nullptr) return E_INVALIDARG;
    std::string text;
    const std::string name = classes_root::Utf8(progId);
    if (name.empty() || !ReadDefault(name + "\\CLSID", &text)) return CO_E_CLASSSTRING;
    return CLSIDFromString(classes_root::Utf16(text).c_str(), clsid);
  });
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                         void** object) {
  return WithoutThrowing(ReportsHresult{}, [&]() -> HRESULT {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
    std::string path;
    if (!ReadDefault("CLSID\\" + classes_root::GuidKeyName(clsid) + "\\InprocServer32", &path)) {
      return REGDB_E_CLASSNOTREG;
    }
    const HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) return CO_E_DLLNOTFOUND;
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (getClassObject == nullptr) return CO_E_ERRORINDLL;
    IClassFactory* factory = nullptr;
    HRESULT hr = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(outer, iid, object);
    factory->Release();
    return hr;
  });
}
