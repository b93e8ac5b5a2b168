#include "registry_script.h"

#include <cstring>
#include <new>

#include "error_codes.h"
#include "script_tokens.h"
#include "string_conversion.h"

namespace telvario {
namespace {

constexpr REGSAM kReadWrite = KEY_READ | KEY_WRITE;
constexpr std::size_t kValueBytesOnStack = 256;
constexpr LONG kErrorOutOfMemory = 14;
constexpr std::size_t kValueNameBufferSize = 260;
// Nesting a script may use: far beyond any real script, and well within a thread's stack (each
// level is one frame of ApplyRegister or ApplyUnregister; the large token buffers of value
// handling stay out of those frames). A script nested further is refused.
constexpr int kMaxNesting = 256;

struct RootKey {
  const char* name;
  HKEY key;
};

const RootKey kRootKeys[] = {
    {"HKCR", HKEY_CLASSES_ROOT},
    {"HKCU", HKEY_CURRENT_USER},
    {"HKLM", HKEY_LOCAL_MACHINE},
    {"HKU", HKEY_USERS},
    {"HKPD", HKEY_PERFORMANCE_DATA},
    {"HKDD", HKEY_DYN_DATA},
    {"HKCC", HKEY_CURRENT_CONFIG},
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", HKEY_USERS},
    {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {"HKEY_DYN_DATA", HKEY_DYN_DATA},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

// The value types; the automation type only selects the conversion.
struct ValueType {
  const char* token;
  VARTYPE conversion;
  DWORD registryType;
};

const ValueType kValueTypes[] = {
    {"S", VT_BSTR, REG_SZ},
    {"M", VT_BSTR | VT_BYREF, REG_MULTI_SZ},
    {"D", VT_UI4, REG_DWORD},
    {"B", VT_UI1, REG_BINARY},
};

const char* const kProtectedKeyNames[] = {
    "AppID",    "CLSID",     "Component Categories",
    "FileType", "Interface", "Hardware",
    "Mime",     "SAM",       "SECURITY",
    "SYSTEM",   "Software",  "TypeLib",
};

bool Is(const char* token, const char* keyword) {
  return lstrcmpiA(token, keyword) == 0;
}

bool IsProtected(const char* name) {
  for (const char* protectedName : kProtectedKeyNames) {
    if (Is(name, protectedName)) return true;
  }
  return false;
}

// The predefined key a root name stands for, or null.
HKEY RootKeyNamed(const char* name) {
  for (const RootKey& root : kRootKeys) {
    if (Is(name, root.name)) return root.key;
  }
  return nullptr;
}

bool HasBackslash(const char* name) {
  for (const char* at = name; *at != '\0'; at = CharNextA(at)) {
    if (*at == '\\') return true;
  }
  return false;
}

// Holds at most one open key; a failed open leaves the key it held.
class RegKeyHandle {
 public:
  RegKeyHandle() = default;
  ~RegKeyHandle() { Close(); }
  RegKeyHandle(const RegKeyHandle&) = delete;
  RegKeyHandle& operator=(const RegKeyHandle&) = delete;

  LONG Open(HKEY parent, const char* name, REGSAM access) {
    HKEY opened = nullptr;
    const LONG result = RegOpenKeyExA(parent, name, 0, access, &opened);
    if (result == ERROR_SUCCESS) Replace(opened);
    return result;
  }
  LONG Create(HKEY parent, const char* name) {
    HKEY created = nullptr;
    const LONG result =
        RegCreateKeyExA(parent, name, 0, nullptr, 0, kReadWrite, nullptr, &created, nullptr);
    if (result == ERROR_SUCCESS) Replace(created);
    return result;
  }
  LONG Close() {
    if (key_ == nullptr) return ERROR_SUCCESS;
    const LONG result = RegCloseKey(key_);
    key_ = nullptr;
    return result;
  }
  HKEY Get() const { return key_; }

 private:
  void Replace(HKEY key) {
    Close();
    key_ = key;
  }
  HKEY key_ = nullptr;
};

// Reads a value name: a token no longer than the value-name buffer holds.
HRESULT NextValueName(const char*& position, char* token, char* valueName) {
  const HRESULT hr = NextToken(position, token);
  if (FAILED(hr)) return hr;
  if (std::strlen(token) >= kValueNameBufferSize) return DISP_E_EXCEPTION;
  std::memcpy(valueName, token, std::strlen(token) + 1);
  return S_OK;
}

// Reads the type and value tokens of a "= type value" clause and the token after them.
[[gnu::noinline]] HRESULT SkipValueClause(const char*& position, char* token) {
  char value[kTokenBufferSize];
  HRESULT hr = NextToken(position, token);
  if (SUCCEEDED(hr)) hr = NextToken(position, value);
  if (SUCCEEDED(hr)) hr = NextToken(position, token);
  return hr;
}

// A byte buffer on the stack for small values, on the heap for larger ones.
class ValueBytes {
 public:
  explicit ValueBytes(std::size_t size)
      : data_(size <= kValueBytesOnStack ? stack_ : new (std::nothrow) BYTE[size]) {}
  ~ValueBytes() {
    if (data_ != stack_) delete[] data_;
  }
  ValueBytes(const ValueBytes&) = delete;
  ValueBytes& operator=(const ValueBytes&) = delete;
  BYTE* Get() { return data_; }

 private:
  BYTE stack_[kValueBytesOnStack] = {};
  BYTE* data_;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

LONG WriteBinary(HKEY key, const char* name, const char* text, HRESULT* failure) {
  const std::size_t length = std::strlen(text);
  if (length % 2 != 0) {
    *failure = E_FAIL;
    return ERROR_SUCCESS;
  }
  ValueBytes bytes(length / 2 + 1);
  if (bytes.Get() == nullptr) {
    *failure = E_FAIL;
    return ERROR_SUCCESS;
  }
  std::memset(bytes.Get(), 0, length / 2 + 1);
  for (std::size_t i = 0; i < length; ++i) {
    const int digit = HexDigit(text[i]);
    bytes.Get()[i / 2] = static_cast<BYTE>(bytes.Get()[i / 2] | (i % 2 == 0 ? digit << 4 : digit));
  }
  return RegSetValueExA(key, name, 0, REG_BINARY, bytes.Get(), static_cast<DWORD>(length / 2));
}

LONG WriteMultiString(HKEY key, const char* name, const char* text) {
  const std::size_t length = std::strlen(text);
  ValueBytes buffer(length + 1);
  if (buffer.Get() == nullptr) return kErrorOutOfMemory;
  auto* out = reinterpret_cast<char*>(buffer.Get());
  std::size_t used = 0;
  for (const char* at = text; *at != '\0';) {
    const char* next = CharNextA(at);
    if (*at == '\\' && *next == '0') {
      out[used++] = '\0';
      at = CharNextA(next);
      continue;
    }
    while (at < next) out[used++] = *at++;
  }
  out[used] = '\0';  // the buffer holds used + 1 bytes
  // The strings up to and including the first empty one; never beyond the converted text.
  std::size_t size = 0;
  while (size <= used) {
    const std::size_t string = std::strlen(out + size);
    size += string + 1;
    if (string == 0) break;
  }
  return RegSetValueExA(key, name, 0, REG_MULTI_SZ, buffer.Get(), static_cast<DWORD>(size));
}

// Writes "type value" into the key under the name (null: its default value), then reads the
// token after them into token.
[[gnu::noinline]] HRESULT WriteValue(const char*& position, HKEY key, const char* name,
                                     char* token) {
  char buffer[kTokenBufferSize];
  HRESULT hr = NextToken(position, buffer);
  if (FAILED(hr)) return hr;
  const ValueType* type = nullptr;
  for (const ValueType& row : kValueTypes) {
    if (Is(buffer, row.token)) type = &row;
  }
  if (type == nullptr) return DISP_E_EXCEPTION;
  hr = NextToken(position, buffer);
  if (FAILED(hr)) return hr;

  LONG result = ERROR_SUCCESS;
  HRESULT failure = S_OK;
  switch (type->registryType) {
    case REG_SZ:
      result = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(buffer),
                              static_cast<DWORD>(std::strlen(buffer) + 1));
      break;
    case REG_DWORD: {
      WCHAR wide[kTokenBufferSize] = {};
      ToWide(wide, static_cast<int>(kTokenBufferSize), buffer);
      ULONG number = 0;
      VarUI4FromStr(wide, 0, 0, &number);  // a text that is not a number writes 0
      result = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                              sizeof number);
      break;
    }
    case REG_BINARY:
      result = WriteBinary(key, name, buffer, &failure);
      break;
    default:
      result = WriteMultiString(key, name, buffer);
      break;
  }
  if (FAILED(failure)) return failure;
  if (result != ERROR_SUCCESS) return HresultFromWin32(result);
  return NextToken(position, token);
}

// The register pass. Each step reads its item's tokens and leaves the token after them in
// token.

// Reads the key name after ForceRemove or Delete and removes that key with its tree: a missing
// key is no error, a protected one stays.
HRESULT RemoveNamedKey(const char*& position, char* token, HKEY blockKey) {
  const HRESULT hr = NextToken(position, token);
  if (FAILED(hr)) return hr;
  if (HasBackslash(token)) return DISP_E_EXCEPTION;
  if (!IsProtected(token)) DeleteKeyTree(blockKey, token);
  return S_OK;
}

// "Delete name [= type value]": the key goes, and nothing is written.
HRESULT RegisterDeletion(const char*& position, char* token, HKEY blockKey) {
  HRESULT hr = RemoveNamedKey(position, token, blockKey);
  if (SUCCEEDED(hr)) hr = NextToken(position, token);
  if (SUCCEEDED(hr) && token[0] == '=') hr = SkipValueClause(position, token);
  return hr;
}

// "Val name = type value": a named value of the block's key.
HRESULT RegisterNamedValue(const char*& position, char* token, HKEY blockKey) {
  char valueName[kValueNameBufferSize];
  HRESULT hr = NextValueName(position, token, valueName);
  if (SUCCEEDED(hr)) hr = NextToken(position, token);
  if (FAILED(hr)) return hr;
  if (token[0] != '=') return DISP_E_EXCEPTION;
  return WriteValue(position, blockKey, valueName, token);
}

// "name [= type value]": the key, opened (for writing where it may be) or made, held in
// `current` for the block that may follow, with its default value.
HRESULT RegisterKey(const char*& position, char* token, HKEY blockKey, RegKeyHandle& current) {
  if (HasBackslash(token)) return DISP_E_EXCEPTION;
  if (current.Open(blockKey, token, kReadWrite) != ERROR_SUCCESS &&
      current.Open(blockKey, token, KEY_READ) != ERROR_SUCCESS) {
    const LONG created = current.Create(blockKey, token);
    if (created != ERROR_SUCCESS) return HresultFromWin32(created);
  }
  const HRESULT hr = NextToken(position, token);
  if (FAILED(hr) || token[0] != '=') return hr;
  return WriteValue(position, current.Get(), nullptr, token);
}

// One item of a block, up to the "{" of a block of its own, if it has one.
HRESULT RegisterItem(const char*& position, char* token, HKEY blockKey, RegKeyHandle& current) {
  if (Is(token, "Delete")) return RegisterDeletion(position, token, blockKey);
  HRESULT hr = S_OK;
  if (Is(token, "ForceRemove")) hr = RemoveNamedKey(position, token, blockKey);
  if (SUCCEEDED(hr) && Is(token, "NoRemove")) hr = NextToken(position, token);
  if (FAILED(hr)) return hr;
  if (Is(token, "Val")) return RegisterNamedValue(position, token, blockKey);
  return RegisterKey(position, token, blockKey, current);
}

HRESULT ApplyRegister(const char*& position, char* token, HKEY blockKey, int depth) {
  if (depth > kMaxNesting) return DISP_E_EXCEPTION;
  RegKeyHandle current;
  HRESULT hr = NextToken(position, token);
  while (SUCCEEDED(hr) && token[0] != '}') {
    hr = RegisterItem(position, token, blockKey, current);
    // Only "{" alone opens a block: "{7F3A...}" is the next item's name.
    if (SUCCEEDED(hr) && std::strcmp(token, "{") == 0) {
      hr = ApplyRegister(position, token, current.Get(), depth + 1);
      if (SUCCEEDED(hr)) hr = NextToken(position, token);
    }
  }
  return hr;
}

HRESULT ApplyUnregister(const char*& position, char* token, HKEY blockKey, bool keyAbsent,
                        int depth);

// An item's flags, up to its kind: whether it is marked to stay.
HRESULT ReadRemovalFlags(const char*& position, char* token, bool* keep) {
  *keep = false;
  HRESULT hr = S_OK;
  if (Is(token, "ForceRemove") || Is(token, "Delete")) hr = NextToken(position, token);
  if (SUCCEEDED(hr) && Is(token, "NoRemove")) {
    *keep = true;
    hr = NextToken(position, token);
  }
  return hr;
}

// A "Val" item of a block being unregistered: its value goes, unless marked to stay.
HRESULT UnregisterValue(const char*& position, char* token, HKEY blockKey, bool keyAbsent,
                        bool keep) {
  char valueName[kValueNameBufferSize];
  HRESULT hr = NextValueName(position, token, valueName);
  if (SUCCEEDED(hr)) hr = NextToken(position, token);
  if (FAILED(hr)) return hr;
  if (token[0] != '=') return DISP_E_EXCEPTION;
  if (!keyAbsent && !keep) {
    HKEY same = nullptr;
    const LONG opened = RegOpenKeyExA(blockKey, nullptr, 0, KEY_WRITE, &same);
    if (opened != ERROR_SUCCESS) return HresultFromWin32(opened);
    const LONG deleted = RegDeleteValueA(same, valueName);
    RegCloseKey(same);
    if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) {
      return HresultFromWin32(deleted);
    }
  }
  return SkipValueClause(position, token);
}

// A key item of a block being unregistered, its name in `token`: its block first, then the key
// itself, unless marked to stay.
HRESULT UnregisterKey(const char*& position, char* token, HKEY blockKey, bool keyAbsent, bool keep,
                      int depth) {
  if (HasBackslash(token)) return DISP_E_EXCEPTION;
  RegKeyHandle current;
  char keptName[kValueNameBufferSize];
  const LONG opened = keyAbsent ? ERROR_FILE_NOT_FOUND : current.Open(blockKey, token, KEY_READ);
  lstrcpynA(keptName, token, static_cast<int>(kValueNameBufferSize));
  HRESULT hr = NextToken(position, token);
  if (SUCCEEDED(hr) && token[0] == '=') hr = SkipValueClause(position, token);  // its default
  if (FAILED(hr)) return hr;
  if (token[0] == '{') {
    hr = ApplyUnregister(position, token, current.Get(), opened != ERROR_SUCCESS, depth + 1);
    if (FAILED(hr) && opened == ERROR_SUCCESS) return hr;
    hr = NextToken(position, token);
    if (FAILED(hr)) return hr;
  }
  if (opened == ERROR_FILE_NOT_FOUND) return S_OK;
  if (opened != ERROR_SUCCESS) return HresultFromWin32(opened);
  const LONG closed = current.Close();
  if (closed != ERROR_SUCCESS) return HresultFromWin32(closed);
  if (keep) return S_OK;
  const LONG deleted = RegDeleteKeyA(blockKey, keptName);
  return deleted == ERROR_SUCCESS ? S_OK : HresultFromWin32(deleted);
}

HRESULT ApplyUnregister(const char*& position, char* token, HKEY blockKey, bool keyAbsent,
                        int depth) {
  if (depth > kMaxNesting) return DISP_E_EXCEPTION;
  HRESULT hr = NextToken(position, token);
  while (SUCCEEDED(hr) && token[0] != '}') {
    bool keep = false;
    hr = ReadRemovalFlags(position, token, &keep);
    if (FAILED(hr)) return hr;
    hr = Is(token, "Val") ? UnregisterValue(position, token, blockKey, keyAbsent, keep)
                          : UnregisterKey(position, token, blockKey, keyAbsent, keep, depth);
  }
  return FAILED(hr) ? hr : S_OK;
}

// Applies one root block's items, after its "{", to the root key, in one direction.
HRESULT ApplyRootBlock(const char*& position, HKEY root, bool doRegister) {
  char token[kTokenBufferSize];
  if (!doRegister) return ApplyUnregister(position, token, root, false, 1);
  const char* start = position;
  const HRESULT hr = ApplyRegister(position, token, root, 1);
  if (SUCCEEDED(hr)) return hr;
  // Undo the failing root block: the unregister pass over the same items.
  position = start;
  ApplyUnregister(position, token, root, false, 1);
  return hr;
}

}  // namespace

HRESULT RunScript(const char* text, const ScriptSymbols& symbols, bool doRegister) {
  ExpandedText expanded;
  HRESULT hr = ExpandSymbols(text, symbols, &expanded);
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
    hr = ApplyRootBlock(position, root, doRegister);
    if (FAILED(hr)) return hr;
    position = SkipWhiteSpace(position);
    if (*position == '\0') return S_OK;
  }
}

LONG DeleteKeyTree(HKEY parent, const char* name) {
  RegKeyHandle key;
  const LONG opened = key.Open(parent, name, kReadWrite);
  if (opened != ERROR_SUCCESS) return opened;
  for (;;) {
    char child[256];
    DWORD length = sizeof child;
    FILETIME written{};
    if (RegEnumKeyExA(key.Get(), 0, child, &length, nullptr, nullptr, nullptr, &written) !=
        ERROR_SUCCESS) {
      break;
    }
    const LONG result = DeleteKeyTree(key.Get(), child);
    if (result != ERROR_SUCCESS) return result;
  }
  key.Close();
  return RegDeleteKeyA(parent, name);
}

}  // namespace telvario
