// Text between automation strings (UTF-16) and the narrow strings of the sockets, WinINet and
// registry calls, always in the code page the process-wide selector yields at that moment.
#ifndef TELVARIO_TEXT_STRING_CONVERSION_H
#define TELVARIO_TEXT_STRING_CONVERSION_H

#include <vector>

#include "windows_api.h"

namespace telvario {

// The code page for every conversion. The first call chooses, once per process, between the
// constant and the locale strategy; the chosen strategy is evaluated at every call.
UINT SelectedCodePage();

// The two strategies, and how the locale strategy reads the locale's code-page text.
UINT ConstantCodePage();
UINT LocaleCodePage();
UINT CodePageFromText(const char* text);

// A member's string argument as narrow text: null for a null BSTR, the empty string when the
// conversion fails, otherwise the text up to its first NUL.
class NarrowArgument {
 public:
  explicit NarrowArgument(BSTR text);
  const char* Get() const { return isNull_ ? nullptr : buffer_.data(); }
  // Whether the string holds a NUL before its end: a name or address that is not what it
  // seems, refused rather than measured by its first part.
  bool HasEmbeddedNul() const { return embeddedNul_; }

 private:
  bool isNull_;
  bool embeddedNul_ = false;
  std::vector<char> buffer_;
};

// Wide text in the selected code page, in a buffer sized by what the conversion needs. Null
// stays null; a failed allocation is Failed(), never an exception.
class NarrowCopy {
 public:
  explicit NarrowCopy(LPCOLESTR text);
  ~NarrowCopy() { delete[] text_; }
  NarrowCopy(const NarrowCopy&) = delete;
  NarrowCopy& operator=(const NarrowCopy&) = delete;

  const char* Get() const { return text_; }
  // Hands the text over: the caller frees it with delete[].
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

// Converts narrow text (length -1: up to its NUL) into a new automation string. A null source or
// a length of 0 gives a null BSTR; the empty string with length -1 gives an allocated empty one.
BSTR ToWideBstr(const char* source, int length = -1);

// The result of a member that has nothing to return: an allocated string of length 0.
inline BSTR EmptyBstr() {
  return ToWideBstr("", -1);
}

// Convert a NUL-terminated source into a caller buffer of the given size (bytes for ToNarrow,
// characters for ToWide). Give null for a null destination; otherwise the destination, which
// holds the empty string when the conversion fails or does not fit.
char* ToNarrow(char* destination, int destinationBytes, const WCHAR* source);
WCHAR* ToWide(WCHAR* destination, int destinationChars, const char* source);

// Copies a NUL-terminated wide string with its terminator. Gives null, with the destination
// emptied, when the source does not fit in destinationChars.
WCHAR* CopyWide(WCHAR* destination, int destinationChars, const WCHAR* source);

}  // namespace telvario

#endif
