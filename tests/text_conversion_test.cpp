// The system's UTF-16/UTF-8 conversion as both builds get it: surrogate pairs, ill-formed input
// and buffers that are too small.
#include <gtest/gtest.h>

#include <string>

#include "windows_api.h"

namespace {

using WideString = std::basic_string<WCHAR>;

std::string ToUtf8(const WideString& text, DWORD flags = 0) {
  const int length = static_cast<int>(text.size());
  const int needed =
      WideCharToMultiByte(CP_UTF8, flags, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<size_t>(needed), '\0');
  if (needed > 0) {
    WideCharToMultiByte(CP_UTF8, flags, text.data(), length, result.data(), needed, nullptr,
                        nullptr);
  }
  return result;
}

WideString FromUtf8(const std::string& text, DWORD flags = 0) {
  const int length = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(CP_UTF8, flags, text.data(), length, nullptr, 0);
  WideString result(static_cast<size_t>(needed), static_cast<WCHAR>(0));
  if (needed > 0) MultiByteToWideChar(CP_UTF8, flags, text.data(), length, result.data(), needed);
  return result;
}

TEST(TextConversion, SurrogatePairsAreOneCharacter) {
  EXPECT_EQ(ToUtf8(OLESTR("\U0001F600")), "\xF0\x9F\x98\x80");
  EXPECT_EQ(FromUtf8("\xF0\x9F\x98\x80"), OLESTR("\U0001F600"));
  EXPECT_EQ(ToUtf8(OLESTR("a\u00e9\u20ac")), "a\xC3\xA9\xE2\x82\xAC");
}

TEST(TextConversion, LoneSurrogatesBecomeReplacementsOrFailWhenAskedTo) {
  EXPECT_EQ(ToUtf8(WideString(1, static_cast<WCHAR>(0xD800)) + OLESTR("x")), "\xEF\xBF\xBDx");
  EXPECT_EQ(ToUtf8(OLESTR("x") + WideString(1, static_cast<WCHAR>(0xDC00))), "x\xEF\xBF\xBD");
  const WCHAR lone[] = {static_cast<WCHAR>(0xD800), 'x'};
  SetLastError(0);
  EXPECT_EQ(
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, 2, nullptr, 0, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(TextConversion, IllFormedUtf8BecomesReplacementsOrFailsWhenAskedTo) {
  EXPECT_EQ(FromUtf8("a\xFF"
                     "b"),
            OLESTR("a\uFFFDb"));
  EXPECT_EQ(FromUtf8("\xC0\x80"), OLESTR("\uFFFD\uFFFD"));  // overlong NUL
  // An encoded surrogate: how many replacements it becomes is the system's choice.
  const WideString surrogate = FromUtf8("x\xED\xA0\x80y");
  ASSERT_GE(surrogate.size(), 3u);
  EXPECT_EQ(surrogate.front(), static_cast<WCHAR>('x'));
  EXPECT_EQ(surrogate.back(), static_cast<WCHAR>('y'));
  for (size_t i = 1; i + 1 < surrogate.size(); ++i) EXPECT_EQ(surrogate[i], 0xFFFD);
  EXPECT_EQ(FromUtf8("x\xE2\x82"), OLESTR("x\uFFFD"));  // cut short
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xFF", 2, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(TextConversion, MinusOneLengthIncludesTheTerminator) {
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, OLESTR("\u00e9"), -1, nullptr, 0, nullptr, nullptr), 3);
}

TEST(TextConversion, TooSmallBufferFailsWithoutWritingPastIt) {
  char narrow[4] = {'#', '#', '#', '#'};
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, OLESTR("abcd"), -1, narrow, 3, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(narrow[3], '#');

  WCHAR wide[3] = {static_cast<WCHAR>('#'), static_cast<WCHAR>('#'), static_cast<WCHAR>('#')};
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(wide[2], static_cast<WCHAR>('#'));
}

TEST(TextConversion, NullSourceOrZeroLengthIsAnInvalidParameter) {
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, OLESTR("a"), 0, nullptr, 0, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(AutomationStrings, LengthPrefixAndTerminator) {
  BSTR blank = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(blank, nullptr);
  EXPECT_EQ(SysStringLen(blank), 4u);
  EXPECT_EQ(SysStringByteLen(blank), 8u);
  EXPECT_EQ(blank[4], static_cast<WCHAR>(0));
  SysFreeString(blank);

  BSTR embedded = SysAllocStringLen(OLESTR("a\0b"), 3);
  EXPECT_EQ(SysStringLen(embedded), 3u);
  EXPECT_EQ(lstrlenW(embedded), 1);
  EXPECT_EQ(embedded[2], static_cast<WCHAR>('b'));
  SysFreeString(embedded);

  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
}

}  // namespace
