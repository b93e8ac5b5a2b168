// The symbols of a registry script (%NAME%), and their expansion: a script is parsed from its
// text with every symbol replaced by its value, and %% by one %.
#ifndef TELVARIO_SERVER_SCRIPT_SYMBOLS_H
#define TELVARIO_SERVER_SCRIPT_SYMBOLS_H

#include <cstddef>
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

}  // namespace telvario

#endif
