#include <gtest/gtest.h>

#include "automation/Automation.h"

namespace pm::test {

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
      {1, "Глава первая. ГЛАВА", "глава", true, 1},
      {2, "Глава первая. ГЛАВА", "глава", true, 15},
      {1, "café crème", "CRÈME", true, 6},
      {1, "abc", "", false, 1},
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
