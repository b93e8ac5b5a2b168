// Fuzzes the coercion of a script's text to the types members take: any UTF-16 text, to every
// numeric type, Boolean and back to text, must give a value or a clear failure, and leak nothing.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "windows_api.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<OLECHAR> text(size / 2);
  if (!text.empty()) std::memcpy(text.data(), data, text.size() * sizeof(OLECHAR));
  VARIANT source;
  VariantInit(&source);
  source.vt = VT_BSTR;
  source.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  for (const VARTYPE type : {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8, VT_R4,
                             VT_R8, VT_BOOL, VT_BSTR}) {
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = VariantChangeType(&result, &source, 0, type);
    if (SUCCEEDED(hr) && result.vt != type) std::abort();
    if (FAILED(hr) && hr != DISP_E_TYPEMISMATCH && hr != DISP_E_OVERFLOW) std::abort();
    VariantClear(&result);
  }
  VariantClear(&source);
  return 0;
}
