#include "string_conversion.h"

#include <atomic>
#include <cstddef>
#include <new>

namespace telvario {
namespace {

using CodePageStrategy = UINT (*)();

UINT InitialiseCodePageSelector();

// Starts at the initialiser; two threads that both run it store the same choice.
std::atomic<CodePageStrategy> codePageSelector{InitialiseCodePageSelector};

UINT InitialiseCodePageSelector() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  const bool modernNt = GetVersionExA(&version) != FALSE &&
                        version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
                        version.dwMajorVersion >= 5;
  const CodePageStrategy chosen = modernNt ? ConstantCodePage : LocaleCodePage;
  codePageSelector.exchange(chosen);
  return chosen();
}

}  // namespace

UINT SelectedCodePage() {
  return codePageSelector.load()();
}

UINT ConstantCodePage() {
  return CP_THREAD_ACP;
}

UINT LocaleCodePage() {
  char text[7] = {};
  if (GetLocaleInfoA(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, text,
                     static_cast<int>(sizeof text)) == 0) {
    return GetACP();
  }
  return CodePageFromText(text);
}

UINT CodePageFromText(const char* text) {
  // Each character counts as a digit, checked or not, as the locale text is trusted.
  UINT codePage = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    codePage = codePage * 10 + static_cast<UINT>(static_cast<unsigned char>(*c) - '0');
  }
  return codePage != 0 ? codePage : GetACP();
}

NarrowArgument::NarrowArgument(BSTR text) : isNull_(text == nullptr) {
  if (isNull_) return;
  const UINT codePage = SelectedCodePage();
  // Two bytes a character suffice for the double-byte code pages; UTF-8 may need more, so the
  // buffer is as large as the conversion says it must be, whichever is larger.
  const int length = lstrlenW(text);
  embeddedNul_ = SysStringLen(text) > static_cast<UINT>(length);
  const int measured = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
  const int size = measured > 2 * (length + 1) ? measured : 2 * (length + 1);
  buffer_.assign(static_cast<size_t>(size), '\0');
  if (WideCharToMultiByte(codePage, 0, text, -1, buffer_.data(), size, nullptr, nullptr) == 0) {
    buffer_[0] = '\0';
  }
}

NarrowCopy::NarrowCopy(LPCOLESTR text) {
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

BSTR ToWideBstr(const char* source, int length) {
  if (source == nullptr || length == 0) return nullptr;
  const UINT codePage = SelectedCodePage();
  int characters = MultiByteToWideChar(codePage, 0, source, length, nullptr, 0);
  if (characters <= 0) return nullptr;
  const int allocated = length == -1 ? characters - 1 : characters;
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(allocated));
  if (result == nullptr) return nullptr;
  // The allocation holds the terminator too, so the converted NUL has its place.
  if (MultiByteToWideChar(codePage, 0, source, length, result, allocated + 1) == 0) {
    result[0] = 0;
  }
  return result;
}

char* ToNarrow(char* destination, int destinationBytes, const WCHAR* source) {
  if (destination == nullptr) return nullptr;
  if (destinationBytes <= 0) return destination;
  destination[0] = '\0';
  if (source != nullptr && WideCharToMultiByte(SelectedCodePage(), 0, source, -1, destination,
                                               destinationBytes, nullptr, nullptr) == 0) {
    destination[0] = '\0';
  }
  return destination;
}

WCHAR* ToWide(WCHAR* destination, int destinationChars, const char* source) {
  if (destination == nullptr) return nullptr;
  if (destinationChars <= 0) return destination;
  destination[0] = 0;
  if (source != nullptr &&
      MultiByteToWideChar(SelectedCodePage(), 0, source, -1, destination, destinationChars) == 0) {
    destination[0] = 0;
  }
  return destination;
}

WCHAR* CopyWide(WCHAR* destination, int destinationChars, const WCHAR* source) {
  if (destination == nullptr || destinationChars <= 0) return nullptr;
  const int needed = lstrlenW(source) + 1;
  if (source == nullptr || needed > destinationChars) {
    destination[0] = 0;
    return nullptr;
  }
  for (int i = 0; i < needed; ++i) destination[i] = source[i];
  return destination;
}

}  // namespace telvario
