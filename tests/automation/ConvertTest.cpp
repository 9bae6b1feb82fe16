#include <gtest/gtest.h>

#include "automation/Automation.h"
#include "support/TestSupport.h"

namespace pm::test {

namespace {}  // namespace

TEST(Convert, IntegersRoundHalfToEven) {
  EXPECT_EQ(CLng(Variant(0.5)), 0);
  EXPECT_EQ(CLng(Variant(1.5)), 2);
  EXPECT_EQ(CLng(Variant(2.5)), 2);
  EXPECT_EQ(CLng(Variant(-0.5)), 0);
  EXPECT_EQ(CLng(Variant(-1.5)), -2);
  EXPECT_EQ(CLng(Variant(2.5000001)), 3);
  EXPECT_EQ(CInt(Variant("12.5")), 12);
  EXPECT_EQ(CInt(Variant("13.5")), 14);
  EXPECT_EQ(CLng(Variant(true)), -1);
  EXPECT_EQ(CLng(Variant()), 0);
  EXPECT_EQ(CByte(Variant(254.5)), 254);
}

TEST(Convert, OverflowAtTheBoundaries) {
  EXPECT_EQ(CLng(Variant(2147483647.0)), 2147483647);
  EXPECT_EQ(CLng(Variant(-2147483648.0)), INT32_MIN);
  EXPECT_EQ(errorOf([] { CLng(Variant(2147483647.5)); }), basic::Overflow);  // rounds to 2^31
  EXPECT_EQ(errorOf([] { CLng(Variant(-2147483648.6)); }), basic::Overflow);
  EXPECT_EQ(CInt(Variant(32767.4)), 32767);
  EXPECT_EQ(errorOf([] { CInt(Variant(32767.5)); }), basic::Overflow);
  EXPECT_EQ(errorOf([] { CInt(Variant(int32_t{40000})); }), basic::Overflow);
  EXPECT_EQ(errorOf([] { CByte(Variant(int32_t{-1})); }), basic::Overflow);
}

TEST(Convert, WrongKindsAndNull) {
  EXPECT_EQ(errorOf([] { CLng(Variant("abc")); }), basic::TypeMismatch);
  EXPECT_EQ(errorOf([] { CDbl(Variant("1.2.3")); }), basic::TypeMismatch);
  EXPECT_EQ(errorOf([] { CLng(Variant::null()); }), basic::InvalidUseOfNull);
  EXPECT_EQ(errorOf([] { CStr(Variant::null()); }), basic::InvalidUseOfNull);
  EXPECT_EQ(errorOf([] { CBool(Variant("maybe")); }), basic::TypeMismatch);
  EXPECT_EQ(errorOf([] { CLng(V({1, 2})); }), basic::TypeMismatch);
  EXPECT_EQ(errorOf([] { CStr(Variant::nothing()); }), basic::TypeMismatch);
}

TEST(Convert, StringsReadAsNumbers) {
  EXPECT_EQ(CLng(Variant(" 42 ")), 42);
  EXPECT_EQ(CLng(Variant("1,000")), 1000);
  EXPECT_EQ(CLng(Variant("&HFF")), 255);
  EXPECT_EQ(CLng(Variant("&HFFFFFFFF")), -1);
  EXPECT_DOUBLE_EQ(CDbl(Variant("-1.5e2")), -150);
  EXPECT_EQ(CLng(Variant("True")), -1);
  EXPECT_TRUE(CBool(Variant("true")));
  EXPECT_FALSE(CBool(Variant(" False ")));
  EXPECT_TRUE(CBool(Variant("2")));
  EXPECT_FALSE(CBool(Variant(0.0)));
}

TEST(Convert, ValTakesTheLeadingNumber) {
  EXPECT_DOUBLE_EQ(Val("  1 2 3"), 123);
  EXPECT_DOUBLE_EQ(Val("12abc"), 12);
  EXPECT_DOUBLE_EQ(Val("abc"), 0);
  EXPECT_DOUBLE_EQ(Val(""), 0);
  EXPECT_DOUBLE_EQ(Val("8.0"), 8);
  EXPECT_DOUBLE_EQ(Val("10.0.1"), 10);
  EXPECT_DOUBLE_EQ(Val(".5"), 0.5);
  EXPECT_DOUBLE_EQ(Val("-1.5e2x"), -150);
  EXPECT_DOUBLE_EQ(Val("1e"), 1);
  EXPECT_DOUBLE_EQ(Val("&HFF"), 255);
  EXPECT_DOUBLE_EQ(Val("&O17"), 15);
  EXPECT_DOUBLE_EQ(Val("- 3"), -3);
  EXPECT_DOUBLE_EQ(Val("v5"), 0);
  EXPECT_EQ(errorOf([] { Val(Variant::null()); }), basic::InvalidUseOfNull);
}

TEST(Convert, IsNumeric) {
  EXPECT_TRUE(IsNumeric(Variant("12")));
  EXPECT_TRUE(IsNumeric(Variant(" -12.5 ")));
  EXPECT_TRUE(IsNumeric(Variant("1e3")));
  EXPECT_TRUE(IsNumeric(Variant()));
  EXPECT_TRUE(IsNumeric(Variant(true)));
  EXPECT_FALSE(IsNumeric(Variant("")));
  EXPECT_FALSE(IsNumeric(Variant("12abc")));
  EXPECT_FALSE(IsNumeric(Variant::null()));
  EXPECT_FALSE(IsNumeric(V({1})));
}

TEST(Convert, TextOfValues) {
  EXPECT_EQ(CStr(Variant(true)), "True");
  EXPECT_EQ(CStr(Variant(int16_t{-1})), "-1");
  EXPECT_EQ(CStr(Variant(0.1)), "0.1");
  EXPECT_EQ(CStr(Variant(1.0 / 3)), "0.333333333333333");
  EXPECT_EQ(CStr(Variant(1e15)), "1E+15");
  EXPECT_EQ(CStr(Variant(123456789012345.0)), "123456789012345");
  EXPECT_EQ(CStr(Variant(1e-5)), "1E-05");
  EXPECT_EQ(CStr(Variant(2.5f)), "2.5");
  EXPECT_EQ(CStr(Variant(Currency{12345})), "1.2345");
  EXPECT_EQ(CStr(Variant(Currency{-50000})), "-5");
  EXPECT_EQ(CStr(Variant()), "");
  EXPECT_EQ(CStr(Variant(MakeDate(2026, 12, 6))), "12/6/2026");
  EXPECT_EQ(CStr(Variant(MakeDate(2026, 12, 6, 19, 5, 7))), "12/6/2026 7:05:07 PM");
  EXPECT_EQ(CStr(Variant(MakeDate(1899, 12, 30, 0, 0, 1))), "12:00:01 AM");
}

TEST(Convert, DatesRoundTripThroughText) {
  Date d = CDate(Variant("2024-02-29 13:45:00"));
  EXPECT_EQ(DateToText(d), "2/29/2024 1:45:00 PM");
  EXPECT_EQ(CDate(Variant("2/29/2024 1:45:00 PM")), d);
  EXPECT_DOUBLE_EQ(MakeDate(1900, 1, 1).serial, 2);
  EXPECT_EQ(errorOf([] { CDate(Variant("13/45/2024")); }), basic::TypeMismatch);
}

TEST(Convert, TrimOnlySpaces) {
  EXPECT_EQ(Trim("  a b  "), "a b");
  EXPECT_EQ(Trim("\ta\t"), "\ta\t");
  EXPECT_EQ(LTrim("  x "), "x ");
  EXPECT_EQ(RTrim("  x "), "  x");
}

TEST(Convert, Comparisons) {
  EXPECT_EQ(Compare(Variant(int32_t{2}), Variant(10.0)), -1);
  EXPECT_EQ(Compare(Variant("10"), Variant("2")), -1);         // text compares as text
  EXPECT_EQ(Compare(Variant(int32_t{99}), Variant("1")), -1);  // a number is less than a string
  EXPECT_EQ(Compare(Variant("abc"), Variant("ABC")), 1);
  EXPECT_EQ(Compare(Variant("abc"), Variant("ABC"), true), 0);
  EXPECT_EQ(Compare(Variant(), Variant(int32_t{0})), 0);
  EXPECT_EQ(Compare(Variant(), Variant("")), 0);
  EXPECT_EQ(errorOf([] { Compare(Variant::null(), Variant(int32_t{1})); }), basic::InvalidUseOfNull);
}

TEST(Convert, CoerceToDeclaredTypes) {
  EXPECT_EQ(coerce(Variant("5"), VT::Long), Variant(int32_t{5}));
  EXPECT_EQ(coerce(Variant(int32_t{1}), VT::Boolean), Variant(true));
  EXPECT_EQ(coerce(Variant(int32_t{7}), VT::String), Variant("7"));
  EXPECT_EQ(coerce(Variant(), VT::Object), Variant::nothing());
  EXPECT_EQ(errorOf([] { coerce(Variant("x"), VT::Object); }), basic::ObjectRequired);
}

TEST(Arrays, BoundsAndSubscripts) {
  Array a({Bound{1, 3}, Bound{-1, 2}});
  EXPECT_EQ(a.dims(), 2);
  EXPECT_EQ(a.lbound(1), 1);
  EXPECT_EQ(a.ubound(1), 3);
  EXPECT_EQ(a.lbound(2), -1);
  EXPECT_EQ(a.ubound(2), 0);
  a.set({3, 0}, Variant("x"));
  EXPECT_EQ(a.at({3, 0}), Variant("x"));
  EXPECT_EQ(errorOf([&] { a.at({4, 0}); }), basic::SubscriptOutOfRange);
  EXPECT_EQ(errorOf([&] { a.at({1}); }), basic::SubscriptOutOfRange);
  EXPECT_EQ(errorOf([&] { a.ubound(3); }), basic::SubscriptOutOfRange);
  Array empty = Array::vector({});
  EXPECT_EQ(empty.lbound(), 0);
  EXPECT_EQ(empty.ubound(), -1);
}

TEST(Arrays, TypedElementsAreCoercedOnStore) {
  Array a({Bound{0, 2}}, VT::Long);
  EXPECT_EQ(a.at({0}), Variant(int32_t{0}));
  a.set({1}, Variant("2.5"));
  EXPECT_EQ(a.at({1}), Variant(int32_t{2}));
  EXPECT_EQ(errorOf([&] { a.set({0}, Variant("x")); }), basic::TypeMismatch);
  Variant v(a);
  EXPECT_EQ(v.vartype(), 8192 + 3);
}

TEST(Arrays, ValueSemanticsCopyOnWrite) {
  Variant a = V({1, 2});
  Variant b = a;
  b.arrayMut().set({0}, Variant("changed"));
  EXPECT_EQ(a.array().at({0}), Variant(int32_t{1}));
  EXPECT_EQ(b.array().at({0}), Variant("changed"));
}

TEST(Arrays, RedimPreserveKeepsData) {
  Array a = Array::matrix(2, 1);
  a.set({1, 0}, Variant("r1"));
  a.redimPreserve(2);
  EXPECT_EQ(a.ubound(2), 2);
  EXPECT_EQ(a.at({1, 0}), Variant("r1"));
  EXPECT_TRUE(a.at({1, 2}).isEmpty());
}

}  // namespace pm::test
