#include "automation_text.h"

namespace telvario::cli {

BSTR ToBstr(const std::string& text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 0) return nullptr;
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(length - 1));
  if (result != nullptr) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, result, length);
  return result;
}

std::string Narrow(BSTR text) {
  if (text == nullptr || SysStringLen(text) == 0) return "";
  const int length = static_cast<int>(SysStringLen(text));
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text, length, narrow.data(), bytes, nullptr, nullptr);
  }
  return narrow;
}

}  // namespace telvario::cli
