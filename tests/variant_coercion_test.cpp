// The coercions a script engine's arguments go through on their way to a member: the system's
// own under Wine, ours on posix, held to the same answers.
#include <gtest/gtest.h>

#include <cmath>

#include "dispatch_test_support.h"

namespace {

using telvario::testing::Narrow;
using telvario::testing::SetDouble;
using telvario::testing::SetLong;
using telvario::testing::SetShort;
using telvario::testing::SetText;
using telvario::testing::Value;

HRESULT Change(VARIANT& from, VARTYPE to, Value* out) {
  const HRESULT hr = VariantChangeType(out, &from, 0, to);
  VariantClear(&from);
  return hr;
}

VARIANT Text(const char* text) {
  VARIANT v;
  VariantInit(&v);
  SetText(v, text);
  return v;
}
VARIANT Double(double value) {
  VARIANT v;
  VariantInit(&v);
  SetDouble(v, value);
  return v;
}
VARIANT Long(LONG value) {
  VARIANT v;
  VariantInit(&v);
  SetLong(v, value);
  return v;
}

SHORT AsShort(VARIANT from) {
  Value out;
  EXPECT_EQ(Change(from, VT_I2, &out), S_OK);
  return out.iVal;
}

TEST(VariantCoercion, NumbersToShortRoundHalfToEven) {
  EXPECT_EQ(AsShort(Double(2.5)), 2);
  EXPECT_EQ(AsShort(Double(3.5)), 4);
  EXPECT_EQ(AsShort(Double(-2.5)), -2);
  EXPECT_EQ(AsShort(Double(1.4999)), 1);
  EXPECT_EQ(AsShort(Long(-32768)), -32768);
  EXPECT_EQ(AsShort(Text("  42 ")), 42);
  EXPECT_EQ(AsShort(Text("1e2")), 100);
  EXPECT_EQ(AsShort(Text("-7.5")), -8);
  VARIANT empty;
  VariantInit(&empty);
  EXPECT_EQ(AsShort(empty), 0);
  VARIANT truth;
  VariantInit(&truth);
  truth.vt = VT_BOOL;
  truth.boolVal = VARIANT_TRUE;
  EXPECT_EQ(AsShort(truth), -1);
}

TEST(VariantCoercion, OutOfRangeAndNotANumber) {
  Value out;
  VARIANT big = Long(32768);
  EXPECT_EQ(Change(big, VT_I2, &out), DISP_E_OVERFLOW);
  VARIANT huge = Double(1e300);
  EXPECT_EQ(Change(huge, VT_I4, &out), DISP_E_OVERFLOW);
  VARIANT tooBigForSingle = Double(1e300);
  EXPECT_EQ(Change(tooBigForSingle, VT_R4, &out), DISP_E_OVERFLOW);
  VARIANT word = Text("twelve");
  EXPECT_EQ(Change(word, VT_I2, &out), DISP_E_TYPEMISMATCH);
  VARIANT blank = Text("");
  EXPECT_EQ(Change(blank, VT_I4, &out), DISP_E_TYPEMISMATCH);
  VARIANT null;
  VariantInit(&null);
  null.vt = VT_NULL;
  EXPECT_EQ(Change(null, VT_I2, &out), DISP_E_TYPEMISMATCH);
}

TEST(VariantCoercion, ToTextAndThroughReferences) {
  Value out;
  VARIANT number = Long(-12);
  ASSERT_EQ(Change(number, VT_BSTR, &out), S_OK);
  EXPECT_EQ(Narrow(out.bstrVal), "-12");
  VARIANT real = Double(0.5);
  ASSERT_EQ(Change(real, VT_BSTR, &out), S_OK);
  EXPECT_EQ(Narrow(out.bstrVal), "0.5");
  // A script passes its variables by reference.
  SHORT held = 321;
  VARIANT reference;
  VariantInit(&reference);
  reference.vt = VT_I2 | VT_BYREF;
  reference.piVal = &held;
  ASSERT_EQ(VariantChangeType(&out, &reference, 0, VT_I4), S_OK);
  EXPECT_EQ(out.vt, VT_I4);
  EXPECT_EQ(out.lVal, 321);
  VARIANT inner = Text("9");
  VARIANT outer;
  VariantInit(&outer);
  outer.vt = VT_VARIANT | VT_BYREF;
  outer.pvarVal = &inner;
  ASSERT_EQ(VariantChangeType(&out, &outer, 0, VT_I2), S_OK);
  EXPECT_EQ(out.iVal, 9);
  VariantClear(&inner);
  // In place, the source's string is released once.
  VARIANT inPlace = Text("17");
  ASSERT_EQ(VariantChangeType(&inPlace, &inPlace, 0, VT_I4), S_OK);
  EXPECT_EQ(inPlace.lVal, 17);
}

}  // namespace
