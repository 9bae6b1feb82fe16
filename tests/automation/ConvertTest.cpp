// Basic's conversions, comparisons and arrays, and text compared and
// searched character by character in every script.
#include <gtest/gtest.h>

#include <tuple>

#include "automation/Automation.h"
#include "servers/recording/Recorder.h"
#include "support/TestSupport.h"

namespace pm::test {

// Rows of (value, expected); each row is checked on its own.
template <class Rows, class F>
void check(const Rows& rows, F convert) {
  for (const auto& [in, want] : rows) EXPECT_EQ(convert(in), want) << recording::Describe(in);
}

TEST(Convert, NumbersRoundHalfToEvenAndReadTextAsBasicDoes) {
  const std::pair<Variant, int32_t> longs[] = {
      {0.5, 0},       {1.5, 2},     {2.5, 2},        {-0.5, 0},     {-1.5, -2},         {2.5000001, 3}, {true, -1},
      {Variant(), 0}, {" 42 ", 42}, {"1,000", 1000}, {"&HFF", 255}, {"&HFFFFFFFF", -1}, {"True", -1}};
  check(longs, [](const Variant& v) { return CLng(v); });
  const std::pair<Variant, int16_t> ints[] = {{"12.5", 12}, {"13.5", 14}, {32767.4, 32767}};
  check(ints, [](const Variant& v) { return CInt(v); });
  const std::pair<Variant, bool> bools[] = {{"true", true}, {" False ", false}, {"2", true}, {0.0, false}};
  check(bools, [](const Variant& v) { return CBool(v); });
  EXPECT_EQ(CByte(Variant(254.5)), 254);
  EXPECT_EQ(CLng(Variant(2147483647.0)), 2147483647);
  EXPECT_EQ(CLng(Variant(-2147483648.0)), INT32_MIN);
  EXPECT_DOUBLE_EQ(CDbl(Variant("-1.5e2")), -150);
}

TEST(Convert, OverflowWrongKindsAndNullRaise) {
  const std::pair<Variant, int32_t> longs[] = {{2147483647.5, basic::Overflow},  // rounds to 2^31
                                               {-2147483648.6, basic::Overflow},
                                               {"abc", basic::TypeMismatch},
                                               {Variant::null(), basic::InvalidUseOfNull},
                                               {V({1, 2}), basic::TypeMismatch}};
  check(longs, [](const Variant& v) { return errorOf([&] { CLng(v); }); });
  EXPECT_EQ(errorOf([] { CInt(Variant(32767.5)); }), basic::Overflow);
  EXPECT_EQ(errorOf([] { CInt(Variant(int32_t{40000})); }), basic::Overflow);
  EXPECT_EQ(errorOf([] { CByte(Variant(int32_t{-1})); }), basic::Overflow);
  EXPECT_EQ(errorOf([] { CDbl(Variant("1.2.3")); }), basic::TypeMismatch);
  EXPECT_EQ(errorOf([] { CStr(Variant::null()); }), basic::InvalidUseOfNull);
  EXPECT_EQ(errorOf([] { CBool(Variant("maybe")); }), basic::TypeMismatch);
  EXPECT_EQ(errorOf([] { CStr(Variant::nothing()); }), basic::TypeMismatch);
}

TEST(Convert, ValTakesTheLeadingNumberAndIsNumericTheWholeText) {
  const std::pair<Variant, double> val[] = {
      {"  1 2 3", 123},  {"12abc", 12}, {"abc", 0},    {"", 0},      {"8.0", 8},  {"10.0.1", 10}, {".5", 0.5},
      {"-1.5e2x", -150}, {"1e", 1},     {"&HFF", 255}, {"&O17", 15}, {"- 3", -3}, {"v5", 0}};
  check(val, [](const Variant& v) { return Val(v); });
  EXPECT_EQ(errorOf([] { Val(Variant::null()); }), basic::InvalidUseOfNull);
  const std::pair<Variant, bool> numeric[] = {
      {"12", true},     {" -12.5 ", true},        {"1e3", true},  {Variant(), true}, {true, true}, {"", false},
      {"12abc", false}, {Variant::null(), false}, {V({1}), false}};
  check(numeric, [](const Variant& v) { return IsNumeric(v); });
}

TEST(Convert, TextOfValues) {
  const std::vector<std::pair<Variant, std::string>> text({{true, "True"},
                                                           {int16_t{-1}, "-1"},
                                                           {0.1, "0.1"},
                                                           {0.1 + 0.2, "0.3"},
                                                           {1.0 / 3, "0.333333333333333"},
                                                           {1e15, "1E+15"},
                                                           {123456789012345.0, "123456789012345"},
                                                           {1e-5, "1E-05"},
                                                           {2.5f, "2.5"},
                                                           {Currency{12345}, "1.2345"},
                                                           {Currency{-50000}, "-5"},
                                                           {Variant(), ""},
                                                           {MakeDate(2026, 12, 6), "12/6/2026"},
                                                           {MakeDate(2026, 12, 6, 19, 5, 7), "12/6/2026 7:05:07 PM"},
                                                           {MakeDate(1899, 12, 30, 0, 0, 1), "12:00:01 AM"}});
  check(text, [](const Variant& v) { return CStr(v); });
}

TEST(Convert, DatesRoundTripThroughText) {
  Date d = CDate(Variant("2024-02-29 13:45:00"));
  EXPECT_EQ(DateToText(d), "2/29/2024 1:45:00 PM");
  EXPECT_EQ(CDate(Variant("2/29/2024 1:45:00 PM")), d);
  EXPECT_DOUBLE_EQ(MakeDate(1900, 1, 1).serial, 2);
  EXPECT_EQ(errorOf([] { CDate(Variant("13/45/2024")); }), basic::TypeMismatch);
}

TEST(Convert, TrimOnlySpacesAndComparisons) {
  EXPECT_EQ(Trim("  a b  ") + "|" + Trim("\ta\t") + "|" + LTrim("  x ") + "|" + RTrim("  x "), "a b|\ta\t|x |  x");
  // Text compares as text; a number is less than a string.
  const std::tuple<Variant, Variant, bool, int> rows[] = {
      {int32_t{2}, 10.0, false, -1}, {"10", "2", false, -1},  {int32_t{99}, "1", false, -1},
      {"abc", "ABC", false, 1},      {"abc", "ABC", true, 0}, {Variant(), int32_t{0}, false, 0},
      {Variant(), "", false, 0}};
  for (const auto& [a, b, text, want] : rows) EXPECT_EQ(Compare(a, b, text), want) << recording::Describe(a);
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
  EXPECT_EQ(std::vector<int32_t>({a.dims(), a.lbound(1), a.ubound(1), a.lbound(2), a.ubound(2)}),
            std::vector<int32_t>({2, 1, 3, -1, 0}));
  a.set({3, 0}, Variant("x"));
  EXPECT_EQ(a.at({3, 0}), Variant("x"));
  EXPECT_EQ(errorOf([&] { a.at({4, 0}); }), basic::SubscriptOutOfRange);
  EXPECT_EQ(errorOf([&] { a.at({1}); }), basic::SubscriptOutOfRange);
  EXPECT_EQ(errorOf([&] { a.ubound(3); }), basic::SubscriptOutOfRange);
  EXPECT_EQ(std::pair(Array::vector({}).lbound(), Array::vector({}).ubound()), std::pair(0, -1));
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

TEST(Arrays, ValueSemanticsCopyOnWriteAndRedimPreserveKeepsData) {
  Variant v = V({1, 2}), w = v;
  w.arrayMut().set({0}, Variant("changed"));
  EXPECT_EQ(v.array().at({0}), Variant(int32_t{1}));
  EXPECT_EQ(w.array().at({0}), Variant("changed"));
  Array a = Array::matrix(2, 1);
  a.set({1, 0}, Variant("r1"));
  a.redimPreserve(2);
  EXPECT_EQ(a.ubound(2), 2);
  EXPECT_EQ(a.at({1, 0}), Variant("r1"));
  EXPECT_TRUE(a.at({1, 2}).isEmpty());
}

TEST(TextCompare, CaseIsIgnoredInEveryScript) {
  struct Case {
    const char* a;
    const char* b;
    int text;    // StrComp(a, b, true)
    int binary;  // StrComp(a, b, false)
  };
  const Case cases[] = {
      {"Введение", "введение", 0, -1}, {"ÉTÉ", "été", 0, -1}, {"ΟΔΥΣΣΕΥΣ", "οδυσσευς", 0, -1},
      {"οδυσσεύς", "ΟΔΥΣΣΕΎΣ", 0, 1},  // final sigma joins medial sigma
      {"Straße", "STRASSE", 1, 1},     // no one-to-one upper form of ß: not equal
      {"abc", "ABD", -1, 1},           {"", "", 0, 0},        {"a", "", 1, 1},
      {"日本語", "日本語", 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StrComp(c.a, c.b, true), c.text) << c.a << " / " << c.b;
    EXPECT_EQ(StrComp(c.a, c.b, false), c.binary) << c.a << " / " << c.b;
  }
  EXPECT_EQ(Compare(Variant("Введение"), Variant("введение"), true), 0);
  EXPECT_EQ(LCase("ÀÉÎ Ω Ж ABC"), "àéî ω ж abc");
  EXPECT_EQ(UCase("àéî ω ж abc"), "ÀÉÎ Ω Ж ABC");
  // Bytes that are not UTF-8 go through unchanged.
  EXPECT_EQ(LCase(std::string("A\xFF\xC3Z", 4)), std::string("a\xFF\xC3z", 4));
}

TEST(TextCompare, InStrCountsCharactersAndHonoursStart) {
  struct Case {
    int32_t start;
    const char* text;
    const char* find;
    bool textCompare;
    int32_t expected;
  };
  const Case cases[] = {
      {1, "hello world", "world", false, 7},
      {1, "hello world", "WORLD", false, 0},
      {1, "hello world", "WORLD", true, 7},
      {8, "hello world", "o", false, 8},
      {9, "hello world", "o", false, 0},
      {2, "Глава первая. ГЛАВА", "глава", true, 15},
      {1, "café crème", "CRÈME", true, 6},
      {4, "abc", "", false, 4},
      {5, "abc", "", false, 0},
      {1, "", "a", false, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(InStr(c.start, c.text, c.find, c.textCompare), c.expected)
        << c.start << " '" << c.text << "' '" << c.find << "'";
  }
  EXPECT_EQ(CharCount("Жук"), 3);
}

}  // namespace pm::test
