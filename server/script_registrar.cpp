#include "script_registrar.h"

#include <cstring>
#include <new>

#include "registry_script.h"
#include "string_conversion.h"
#include "error_codes.h"

namespace telvario {
namespace {

constexpr std::size_t kResourceTextOnStack = 1024;

// Wide text in the selected code page, in a buffer sized by what the conversion needs. Null
// stays null; a failed allocation gives false.
class NarrowCopy {
 public:
  explicit NarrowCopy(LPCOLESTR text) {
    if (text == nullptr) return;
    const int bytes =
        WideCharToMultiByte(SelectedCodePage(), 0, text, -1, nullptr, 0, nullptr, nullptr);
    text_ = new (std::nothrow) char[bytes > 0 ? static_cast<std::size_t>(bytes) : 1];
    if (text_ == nullptr) {
      failed_ = true;
      return;
    }
    ToNarrow(text_, bytes > 0 ? bytes : 1, text);
  }
  ~NarrowCopy() { delete[] text_; }
  NarrowCopy(const NarrowCopy&) = delete;
  NarrowCopy& operator=(const NarrowCopy&) = delete;

  const char* Get() const { return text_; }
  char* Release() {
    char* text = text_;
    text_ = nullptr;
    return text;
  }
  bool Failed() const { return failed_; }

 private:
  char* text_ = nullptr;
  bool failed_ = false;
};

HRESULT LastErrorResult() {
  return HresultFromWin32(static_cast<LONG>(GetLastError()));
}

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
  ExpandedText expanded;
  HRESULT hr = ExpandSymbols(text, symbols_, &expanded);
  if (FAILED(hr)) return hr;
  const char* position = expanded.Data();
  if (*position == '\0') return S_OK;
  char token[kTokenBufferSize];
  for (;;) {
    hr = NextToken(position, token);
    if (FAILED(hr)) return hr;
    const HKEY root = RootKeyNamed(token);
    if (root == nullptr) return DISP_E_EXCEPTION;
    hr = NextToken(position, token);
    if (FAILED(hr)) return hr;
    if (token[0] != '{') return DISP_E_EXCEPTION;
    hr = ApplyRootBlock(position, root, doRegister != FALSE);
    if (FAILED(hr)) return hr;
    position = SkipWhiteSpace(position);
    if (*position == '\0') return S_OK;
  }
}

}  // namespace telvario
