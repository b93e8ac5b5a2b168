// Code-page conversion between UTF-16 and the multi-byte text of this system, which is UTF-8 in
// every code page a caller can name. Follows Windows' UTF-8 rules: a length of -1 takes the text
// up to and including its NUL, a target size of 0 asks for the size needed, a target that is too
// small gives 0 with ERROR_INSUFFICIENT_BUFFER, and ill-formed input becomes U+FFFD unless the
// caller asks for an error (then 0 with ERROR_NO_UNICODE_TRANSLATION).
#include "kernel.h"

#include <cstring>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsUtf8CodePage(UINT codePage) {
  return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_THREAD_ACP ||
         codePage == CP_UTF8;
}

// Collects output units, counting all of them and storing those that fit.
template <typename Unit>
class Output {
 public:
  Output(Unit* target, int capacity) : target_(target), capacity_(capacity) {}
  void Put(Unit unit) {
    if (target_ != nullptr && count_ < capacity_) target_[count_] = unit;
    ++count_;
  }
  int Count() const { return count_; }

 private:
  Unit* target_;
  int capacity_;
  int count_ = 0;
};

// Decodes one UTF-8 sequence at text[i], advancing i. Gives false for an ill-formed sequence,
// after stepping over its maximal invalid part.
bool DecodeUtf8(const unsigned char* text, int length, int& i, char32_t& codePoint) {
  const unsigned char lead = text[i++];
  if (lead < 0x80) {
    codePoint = lead;
    return true;
  }
  int trailing = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trailing = 1, minimum = 0x80, codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trailing = 2, minimum = 0x800, codePoint = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trailing = 3, minimum = 0x10000, codePoint = lead & 0x07;
  } else {
    return false;
  }
  for (int k = 0; k < trailing; ++k) {
    if (i >= length || (text[i] & 0xC0) != 0x80) return false;
    const char32_t extended = (codePoint << 6) | (text[i] & 0x3F);
    // Overlong forms, surrogates and values above U+10FFFF are ill-formed from their second
    // byte on, which is then not part of the ill-formed sequence.
    if (k == 0 && trailing >= 2) {
      const char32_t prefix = extended << (6 * (trailing - 1));
      if (prefix < minimum || prefix > 0x10FFFF || (prefix >= 0xD800 && prefix <= 0xDFFF)) {
        return false;
      }
    }
    codePoint = extended;
    ++i;
  }
  return true;
}

void EncodeUtf8(char32_t codePoint, Output<char>& out) {
  if (codePoint < 0x80) {
    out.Put(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.Put(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.Put(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out.Put(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.Put(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.Put(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.Put(static_cast<char>(0xF0 | (codePoint >> 18)));
    out.Put(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out.Put(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.Put(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

// The common ending of both conversions: the size asked for, or the count written.
int Finish(int needed, int capacity) {
  if (capacity == 0) return needed;
  if (needed > capacity) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  return needed;
}

}  // namespace

int lstrlenW(LPCWSTR text) {
  if (text == nullptr) return 0;
  int length = 0;
  while (text[length] != 0) ++length;
  return length;
}

LPSTR CharNextA(LPCSTR text) {
  const auto* at = reinterpret_cast<const unsigned char*>(text);
  if (at == nullptr || *at == 0) return const_cast<LPSTR>(text);
  int length = 1;
  if (*at >= 0xC2 && *at <= 0xDF)
    length = 2;
  else if (*at >= 0xE0 && *at <= 0xEF)
    length = 3;
  else if (*at >= 0xF0 && *at <= 0xF4)
    length = 4;
  int step = 1;
  while (step < length && (at[step] & 0xC0) == 0x80) ++step;  // a cut sequence stops early
  return const_cast<LPSTR>(text + step);
}

BOOL IsDBCSLeadByte(BYTE /*test*/) {
  return FALSE;
}

int lstrcmpiA(LPCSTR a, LPCSTR b) {
  if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
  for (;; ++a, ++b) {
    int x = static_cast<unsigned char>(*a);
    int y = static_cast<unsigned char>(*b);
    if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
    if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

LPSTR lstrcpynA(LPSTR destination, LPCSTR source, int maxChars) {
  if (destination == nullptr || maxChars <= 0) return destination;
  int i = 0;
  for (; source != nullptr && i < maxChars - 1 && source[i] != '\0'; ++i)
    destination[i] = source[i];
  destination[i] = '\0';
  return destination;
}

int lstrlenA(LPCSTR text) {
  if (text == nullptr) return 0;
  int length = 0;
  while (text[length] != '\0') ++length;
  return length;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceBytes, LPWSTR target,
                        int targetChars) {
  if (!IsUtf8CodePage(codePage) || source == nullptr || sourceBytes == 0 || sourceBytes < -1 ||
      targetChars < 0 || (target == nullptr && targetChars > 0) ||
      (target != nullptr && static_cast<const void*>(source) == static_cast<const void*>(target))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if ((flags & ~MB_ERR_INVALID_CHARS) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const int length = sourceBytes == -1 ? static_cast<int>(std::strlen(source)) + 1 : sourceBytes;
  const auto* text = reinterpret_cast<const unsigned char*>(source);
  Output<WCHAR> out(target, targetChars);
  for (int i = 0; i < length;) {
    char32_t codePoint = 0;
    if (!DecodeUtf8(text, length, i, codePoint)) {
      if ((flags & MB_ERR_INVALID_CHARS) != 0) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
      }
      codePoint = kReplacement;
    }
    if (codePoint >= 0x10000) {
      codePoint -= 0x10000;
      out.Put(static_cast<WCHAR>(0xD800 | (codePoint >> 10)));
      out.Put(static_cast<WCHAR>(0xDC00 | (codePoint & 0x3FF)));
    } else {
      out.Put(static_cast<WCHAR>(codePoint));
    }
  }
  return Finish(out.Count(), targetChars);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceChars, LPSTR target,
                        int targetBytes, LPCSTR defaultChar, BOOL* usedDefaultChar) {
  // Windows refuses a default character for UTF-8: every character has a form there.
  if (!IsUtf8CodePage(codePage) || source == nullptr || sourceChars == 0 || sourceChars < -1 ||
      targetBytes < 0 || (target == nullptr && targetBytes > 0) || defaultChar != nullptr ||
      usedDefaultChar != nullptr ||
      (target != nullptr && static_cast<const void*>(source) == static_cast<const void*>(target))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if ((flags & ~WC_ERR_INVALID_CHARS) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const int length = sourceChars == -1 ? lstrlenW(source) + 1 : sourceChars;
  Output<char> out(target, targetBytes);
  for (int i = 0; i < length; ++i) {
    char32_t codePoint = source[i];
    const bool high = codePoint >= 0xD800 && codePoint <= 0xDBFF;
    const bool low = codePoint >= 0xDC00 && codePoint <= 0xDFFF;
    if (high && i + 1 < length && source[i + 1] >= 0xDC00 && source[i + 1] <= 0xDFFF) {
      codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (source[i + 1] - 0xDC00);
      ++i;
    } else if (high || low) {
      if ((flags & WC_ERR_INVALID_CHARS) != 0) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
      }
      codePoint = kReplacement;
    }
    EncodeUtf8(codePoint, out);
  }
  return Finish(out.Count(), targetBytes);
}
