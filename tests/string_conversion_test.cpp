// Text between automation strings and narrow strings, through the code page selector.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "string_conversion.h"

namespace telvario {
namespace {

using WideString = std::basic_string<WCHAR>;

// An automation string that frees itself.
class Bstr {
 public:
  explicit Bstr(BSTR text) : text_(text) {}
  Bstr(const WCHAR* text, UINT length) : text_(SysAllocStringLen(text, length)) {}
  explicit Bstr(const WCHAR* text) : text_(SysAllocString(text)) {}
  ~Bstr() { SysFreeString(text_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR Get() const { return text_; }
  WideString Text() const { return WideString(text_, SysStringLen(text_)); }

 private:
  BSTR text_;
};

TEST(CodePageSelector, ChoosesTheThreadCodePageOnNtFiveAndLater) {
  EXPECT_EQ(SelectedCodePage(), static_cast<UINT>(CP_THREAD_ACP));
  EXPECT_EQ(SelectedCodePage(), static_cast<UINT>(CP_THREAD_ACP));  // the chosen strategy again
  EXPECT_EQ(ConstantCodePage(), static_cast<UINT>(CP_THREAD_ACP));
}

TEST(CodePageSelector, ThreadsThatRaceToInitialiseAgree) {
  std::atomic<bool> go{false};
  UINT seen[4] = {};
  std::thread threads[4];
  for (int i = 0; i < 4; ++i) {
    threads[i] = std::thread([&, i] {
      while (!go) std::this_thread::yield();
      seen[i] = SelectedCodePage();
    });
  }
  go = true;
  for (std::thread& thread : threads) thread.join();
  for (const UINT codePage : seen) EXPECT_EQ(codePage, static_cast<UINT>(CP_THREAD_ACP));
}

TEST(CodePageSelector, LocaleStrategyReadsTheLocaleAnsiCodePage) {
  EXPECT_EQ(LocaleCodePage(), GetACP());
  EXPECT_EQ(CodePageFromText("1252"), 1252u);
  EXPECT_EQ(CodePageFromText("932"), 932u);
  EXPECT_EQ(CodePageFromText(""), GetACP());
  EXPECT_EQ(CodePageFromText("0"), GetACP());
}

TEST(NarrowArgument, NullStaysNullAndEmptyStaysEmpty) {
  EXPECT_EQ(NarrowArgument(nullptr).Get(), nullptr);
  Bstr empty(OLESTR(""), 0);
  ASSERT_NE(NarrowArgument(empty.Get()).Get(), nullptr);
  EXPECT_STREQ(NarrowArgument(empty.Get()).Get(), "");
}

TEST(NarrowArgument, ConvertsUpToTheFirstNul) {
  Bstr host(OLESTR("host.example"));
  EXPECT_STREQ(NarrowArgument(host.Get()).Get(), "host.example");
  Bstr embedded(OLESTR("ab\0cd"), 5);
  EXPECT_STREQ(NarrowArgument(embedded.Get()).Get(), "ab");
}

TEST(NarrowArgument, NonAsciiTextSurvivesTheRoundTrip) {
  Bstr city(OLESTR("Z\u00fcrich"));
  Bstr back(ToWideBstr(NarrowArgument(city.Get()).Get()));
  EXPECT_EQ(back.Text(), OLESTR("Z\u00fcrich"));
}

TEST(NarrowArgument, TextNeedingThreeBytesACharacterIsNotLost) {
  // Two bytes a character hold any double-byte code page, but not UTF-8.
  Bstr tokyo(OLESTR("\u6771\u4eac\u90fd"));
  NarrowArgument narrow(tokyo.Get());
  EXPECT_STRNE(narrow.Get(), "");
  if (GetACP() == CP_UTF8) {
    EXPECT_STREQ(narrow.Get(), "\xe6\x9d\xb1\xe4\xba\xac\xe9\x83\xbd");
  }
}

TEST(ToWideBstr, NullOrZeroLengthGivesNullAndEmptyTextGivesAnEmptyString) {
  EXPECT_EQ(ToWideBstr(nullptr), nullptr);
  EXPECT_EQ(ToWideBstr("abc", 0), nullptr);
  Bstr empty(ToWideBstr(""));
  ASSERT_NE(empty.Get(), nullptr);
  EXPECT_EQ(SysStringLen(empty.Get()), 0u);
  Bstr alsoEmpty(EmptyBstr());
  ASSERT_NE(alsoEmpty.Get(), nullptr);
  EXPECT_EQ(SysStringLen(alsoEmpty.Get()), 0u);
}

TEST(ToWideBstr, LengthCountsTheCharactersNotTheTerminator) {
  Bstr whole(ToWideBstr("10.0.0.1"));
  EXPECT_EQ(whole.Text(), OLESTR("10.0.0.1"));
  EXPECT_EQ(whole.Get()[8], static_cast<WCHAR>(0));
  Bstr part(ToWideBstr("10.0.0.1", 4));
  EXPECT_EQ(part.Text(), OLESTR("10.0"));
  EXPECT_EQ(part.Get()[4], static_cast<WCHAR>(0));
}

TEST(ToNarrow, WritesIntoTheCallerBufferOrLeavesItEmpty) {
  char buffer[8];
  EXPECT_EQ(ToNarrow(nullptr, 8, OLESTR("abc")), nullptr);
  EXPECT_STREQ(ToNarrow(buffer, sizeof buffer, OLESTR("abc")), "abc");
  EXPECT_STREQ(ToNarrow(buffer, sizeof buffer, OLESTR("abcdefg")), "abcdefg");  // exactly full
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_STREQ(ToNarrow(buffer, sizeof buffer, OLESTR("abcdefgh")), "");  // one too long
  EXPECT_STREQ(ToNarrow(buffer, sizeof buffer, nullptr), "");
}

TEST(ToWide, WritesIntoTheCallerBufferOrLeavesItEmpty) {
  WCHAR buffer[4];
  EXPECT_EQ(ToWide(nullptr, 4, "abc"), nullptr);
  EXPECT_EQ(WideString(ToWide(buffer, 4, "abc")), OLESTR("abc"));
  EXPECT_EQ(WideString(ToWide(buffer, 4, "abcd")), OLESTR(""));
}

TEST(CopyWide, CopiesWithTheTerminatorOnlyWhenItFits) {
  WCHAR buffer[4] = {static_cast<WCHAR>('x'), static_cast<WCHAR>('x'), static_cast<WCHAR>('x'),
                     static_cast<WCHAR>('x')};
  EXPECT_EQ(CopyWide(buffer, 4, OLESTR("abc")), buffer);
  EXPECT_EQ(WideString(buffer), OLESTR("abc"));
  EXPECT_EQ(CopyWide(buffer, 4, OLESTR("abcd")), nullptr);
  EXPECT_EQ(buffer[0], static_cast<WCHAR>(0));
  EXPECT_EQ(CopyWide(nullptr, 4, OLESTR("a")), nullptr);
}

}  // namespace
}  // namespace telvario
