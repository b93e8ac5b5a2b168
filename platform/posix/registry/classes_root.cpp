#include "classes_root.h"

#include "kernel.h"
#include "registry.h"

namespace classes_root {

std::string Utf8(LPCOLESTR text) {
  if (text == nullptr) return {};
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string narrow(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), bytes, nullptr, nullptr);
  narrow.resize(static_cast<std::size_t>(bytes - 1));
  return narrow;
}

std::u16string Utf16(const std::string& text) {
  const int chars = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (chars <= 0) return {};
  std::u16string wide(static_cast<std::size_t>(chars), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), chars);
  wide.resize(static_cast<std::size_t>(chars - 1));
  return wide;
}

std::string GuidKeyName(REFGUID guid) {
  OLECHAR text[39] = {};
  StringFromGUID2(guid, text, 39);
  return Utf8(text);
}

bool ReadDefault(const std::string& path, std::string* value) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  char buffer[4096] = {};
  DWORD size = sizeof buffer - 1;
  DWORD type = 0;
  const LONG status =
      RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  *value = buffer;
  return true;
}

}  // namespace classes_root
