#include "oleaut.h"

#include <cstdlib>
#include <cstring>

#include "kernel.h"

namespace {

// The byte count is stored in the four bytes in front of the characters.
DWORD* Header(BSTR text) {
  return reinterpret_cast<DWORD*>(text) - 1;
}

// The largest length whose byte count, with the header and the NUL, still fits in 32 bits.
constexpr UINT kMaxLength = (0xFFFFFFFFu - sizeof(DWORD) - sizeof(OLECHAR)) / sizeof(OLECHAR);

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > kMaxLength) return nullptr;
  const size_t bytes = static_cast<size_t>(length) * sizeof(OLECHAR);
  auto* block = static_cast<DWORD*>(std::malloc(sizeof(DWORD) + bytes + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  block[0] = static_cast<DWORD>(bytes);
  auto* characters = reinterpret_cast<OLECHAR*>(block + 1);
  // Windows leaves the characters undefined when there is no source; they are zero here.
  if (text != nullptr) {
    std::memcpy(characters, text, bytes);
  } else {
    std::memset(characters, 0, bytes);
  }
  characters[length] = 0;
  return characters;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(lstrlenW(text)));
}

void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(Header(text));
}

UINT SysStringByteLen(BSTR text) {
  return text == nullptr ? 0 : *Header(text);
}

UINT SysStringLen(BSTR text) {
  return SysStringByteLen(text) / UINT{sizeof(OLECHAR)};
}
