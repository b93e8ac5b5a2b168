#include "script_symbols.h"

#include <cstring>
#include <new>

#include "string_conversion.h"

namespace telvario {
namespace {

constexpr std::size_t kMaxSymbolName = 31;

}  // namespace

HRESULT ScriptSymbols::Add(LPCOLESTR name, LPCOLESTR value) {
  NarrowCopy narrowName(name);
  if (narrowName.Failed()) return E_OUTOFMEMORY;
  const auto length = static_cast<std::size_t>(lstrlenW(value));
  auto* valueCopy = new (std::nothrow) OLECHAR[length + 1];
  if (valueCopy == nullptr) return E_OUTOFMEMORY;
  std::memcpy(valueCopy, value, (length + 1) * sizeof(OLECHAR));
  try {
    names_.reserve(names_.size() + 1);
    values_.reserve(values_.size() + 1);
  } catch (const std::bad_alloc&) {
    delete[] valueCopy;
    return E_OUTOFMEMORY;
  }
  names_.push_back(narrowName.Release());
  values_.push_back(valueCopy);
  return S_OK;
}

void ScriptSymbols::Clear() {
  for (char* name : names_) delete[] name;
  for (OLECHAR* value : values_) delete[] value;
  names_.clear();
  values_.clear();
}

LPCOLESTR ScriptSymbols::Find(const char* name) const {
  for (std::size_t i = 0; i < names_.size(); ++i) {
    if (lstrcmpiA(names_[i], name) == 0) return values_[i];
  }
  return nullptr;
}

HRESULT ExpandedText::Reserve(std::size_t capacity) {
  data_ = static_cast<char*>(CoTaskMemAlloc(capacity));
  if (data_ == nullptr) return E_OUTOFMEMORY;
  capacity_ = capacity;
  length_ = 0;
  data_[0] = '\0';
  return S_OK;
}

HRESULT ExpandedText::Append(const char* bytes, std::size_t count) {
  if (length_ + count + 1 >= capacity_) {
    std::size_t capacity = capacity_;
    while (capacity <= length_ + count + 1) capacity *= 2;
    auto* moved = static_cast<char*>(CoTaskMemRealloc(data_, capacity));
    if (moved == nullptr) return E_OUTOFMEMORY;
    data_ = moved;
    capacity_ = capacity;
  }
  std::memcpy(data_ + length_, bytes, count);
  length_ += count;
  data_[length_] = '\0';
  return S_OK;
}

HRESULT ExpandSymbols(const char* script, const ScriptSymbols& symbols, ExpandedText* out) {
  const std::size_t length = std::strlen(script);
  const std::size_t requested = 2 * length < 100 ? 1000 : 2 * length;
  HRESULT hr = out->Reserve(requested);
  if (FAILED(hr)) return hr;
  for (const char* at = script; *at != '\0';) {
    const char* next = CharNextA(at);
    if (*at != '%') {
      hr = out->Append(at, static_cast<std::size_t>(next - at));
      at = next;
    } else if (*next == '%') {
      hr = out->Append("%", 1);
      at = CharNextA(next);
    } else {
      const char* close = next;
      while (*close != '\0' && *close != '%') close = CharNextA(close);
      if (*close == '\0') return DISP_E_EXCEPTION;
      const auto nameLength = static_cast<std::size_t>(close - next);
      if (nameLength > kMaxSymbolName) return E_FAIL;
      char name[kMaxSymbolName + 1] = {};
      std::memcpy(name, next, nameLength);
      const LPCOLESTR value = symbols.Find(name);
      if (value == nullptr) return DISP_E_EXCEPTION;
      // Sized by what the conversion needs: a multi-byte code page may need 3 bytes a character.
      const int bytes =
          WideCharToMultiByte(SelectedCodePage(), 0, value, -1, nullptr, 0, nullptr, nullptr);
      if (bytes > 1) {
        char* narrow = new (std::nothrow) char[static_cast<std::size_t>(bytes)];
        if (narrow == nullptr) return E_OUTOFMEMORY;
        ToNarrow(narrow, bytes, value);
        hr = out->Append(narrow, std::strlen(narrow));
        delete[] narrow;
      }
      at = CharNextA(close);
    }
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

}  // namespace telvario
