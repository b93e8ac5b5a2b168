// The parts of the registry script interpreter: symbol expansion, the tokenizer and the two
// passes over a root block.
#ifndef TELVARIO_SERVER_REGISTRY_SCRIPT_H
#define TELVARIO_SERVER_REGISTRY_SCRIPT_H

#include <cstddef>

#include "script_registrar.h"
#include "windows_api.h"

namespace telvario {

constexpr std::size_t kTokenBufferSize = 4096;
constexpr std::size_t kMaxQuotedToken = 4094;
constexpr std::size_t kValueNameBufferSize = 260;
constexpr std::size_t kMaxSymbolName = 31;

// The script after symbol expansion, in task memory; always NUL-terminated.
class ExpandedText {
 public:
  ExpandedText() = default;
  ~ExpandedText() { CoTaskMemFree(data_); }
  ExpandedText(const ExpandedText&) = delete;
  ExpandedText& operator=(const ExpandedText&) = delete;

  HRESULT Reserve(std::size_t capacity);
  HRESULT Append(const char* bytes, std::size_t count);
  const char* Data() const { return data_; }
  std::size_t Length() const { return length_; }

 private:
  std::size_t length_ = 0;
  std::size_t capacity_ = 0;
  char* data_ = nullptr;
};

HRESULT ExpandSymbols(const char* script, const ScriptSymbols& symbols, ExpandedText* out);

// The position after any tabs, line ends and spaces.
const char* SkipWhiteSpace(const char* position);

// Reads the next token into token (kTokenBufferSize bytes) and moves position behind it.
HRESULT NextToken(const char*& position, char* token);

// Applies one root block's items, after its "{", to the root key, in one direction.
HRESULT ApplyRootBlock(const char*& position, HKEY root, bool doRegister);

// Deletes a key with its whole tree, children first; the Win32 result.
LONG DeleteKeyTree(HKEY parent, const char* name);

// The predefined key a root name stands for, or null.
HKEY RootKeyNamed(const char* name);

}  // namespace telvario

#endif
