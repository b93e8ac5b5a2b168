// Fuzzes the text conversions with arbitrary bytes, read both as multi-byte text and as UTF-16:
// no conversion may write past its buffer, and well-formed text must survive the round trip.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "string_conversion.h"

namespace {

using WideString = std::basic_string<WCHAR>;

void Check(bool condition) {
  if (!condition) std::abort();
}

void MultiByteSide(const std::string& text) {
  const int length = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) return;
  WideString wide(static_cast<size_t>(needed), 0);
  Check(MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), needed) == needed);
  // One unit short must fail, within its buffer (the sanitizer watches the heap copy).
  std::vector<WCHAR> small(static_cast<size_t>(needed - 1) + 1);
  if (needed > 1) {
    Check(MultiByteToWideChar(CP_UTF8, 0, text.data(), length, small.data(), needed - 1) == 0);
  }
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0) > 0) {
    const int back = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), needed,
                                         nullptr, 0, nullptr, nullptr);
    std::string again(static_cast<size_t>(back), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), needed, again.data(), back, nullptr, nullptr);
    Check(again == text);
  }
  SysFreeString(telvario::ToWideBstr(text.c_str()));
}

void WideSide(const WideString& wide) {
  BSTR text = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  const telvario::NarrowArgument narrow(text);
  Check(narrow.Get() != nullptr);
  BSTR back = telvario::ToWideBstr(narrow.Get());
  const WideString upToNul(wide.c_str());
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, upToNul.c_str(), -1, nullptr, 0, nullptr,
                          nullptr) > 0) {
    Check(back != nullptr && WideString(back, SysStringLen(back)) == upToNul);
  }
  SysFreeString(back);
  SysFreeString(text);
  char small[8];
  telvario::ToNarrow(small, sizeof small, upToNul.c_str());
  Check(std::strlen(small) < sizeof small);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  MultiByteSide(bytes);
  WideString wide(size / 2, 0);
  std::memcpy(wide.data(), data, wide.size() * sizeof(WCHAR));
  WideSide(wide);
  return 0;
}
