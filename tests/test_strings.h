// Automation strings for tests: made from narrow (ASCII) text as a script would pass it, freed
// when they go out of scope, and read back as narrow text.
#ifndef TELVARIO_TESTS_TEST_STRINGS_H
#define TELVARIO_TESTS_TEST_STRINGS_H

#include <string>

#include "windows_api.h"

namespace telvario::testing {

class TestBstr {
 public:
  // A null text makes a null BSTR.
  explicit TestBstr(const char* text) {
    if (text == nullptr) return;
    const std::string narrow(text);
    const std::basic_string<OLECHAR> wide(narrow.begin(), narrow.end());
    bstr_ = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  }
  // The whole string, a NUL within it included.
  explicit TestBstr(const std::string& text) {
    const std::basic_string<OLECHAR> wide(text.begin(), text.end());
    bstr_ = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  }
  ~TestBstr() { SysFreeString(bstr_); }
  TestBstr(const TestBstr&) = delete;
  TestBstr& operator=(const TestBstr&) = delete;
  BSTR Get() const { return bstr_; }

 private:
  BSTR bstr_ = nullptr;
};

// The text of an ASCII automation string, which is then freed.
inline std::string TakeNarrow(BSTR value) {
  std::string text;
  for (UINT i = 0; value != nullptr && i < SysStringLen(value); ++i) {
    text += static_cast<char>(value[i]);
  }
  SysFreeString(value);
  return text;
}

}  // namespace telvario::testing

#endif
