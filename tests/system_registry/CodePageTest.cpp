// Text-file conversion between UTF-8 and the system code page.
#include <gtest/gtest.h>

#include <string>

#include <clocale>

#include "RegistryFixture.h"
#include "automation/Error.h"
#include "system/CodePage.h"

using namespace pm;

namespace {

const std::string kCp1252 = "windows-1252";
const std::string kUtf8 = "UTF-8";
const std::string kReplacement = "\xEF\xBF\xBD";

TEST(CodePage, Windows1252RoundTrip) {
  std::string text =
      "Caf\xC3\xA9 \xE2\x82\xAC"
      "5 \xE2\x80\x9Cquoted\xE2\x80\x9D \xC5\xB8 plain\r\n";
  std::string bytes = toCodePage(text, kCp1252);
  EXPECT_EQ(bytes,
            "Caf\xE9 \x80"
            "5 \x93quoted\x94 \x9F plain\r\n");
  EXPECT_EQ(fromCodePage(bytes, kCp1252), text);
  std::string all;
  for (int b = 0x20; b < 0x100; ++b)
    if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D) all += static_cast<char>(b);
  EXPECT_EQ(toCodePage(fromCodePage(all, kCp1252), kCp1252), all);
}

TEST(CodePage, UnmappableCharactersBecomeQuestionMarks) {
  // Greek, CJK and an emoji have no place in windows-1252: one "?" each.
  EXPECT_EQ(toCodePage("a\xCE\xB1"
                       "b\xE4\xB8\xAD"
                       "c\xF0\x9F\x98\x80"
                       "d",
                       kCp1252),
            "a?b?c?d");
  // Bytes that are not UTF-8 at all: one "?" per byte.
  EXPECT_EQ(toCodePage("x\xFF\xFEy", kCp1252), "x??y");
  EXPECT_EQ(toCodePage("truncated \xE2\x82", kCp1252), "truncated ??");
}

TEST(CodePage, InvalidBytesBecomeReplacementCharacters) {
  // 0x81, 0x8D, 0x8F, 0x90 and 0x9D are undefined in windows-1252.
  EXPECT_EQ(fromCodePage("a\x81"
                         "b\x90\x9D"
                         "c",
                         kCp1252),
            "a" + kReplacement + "b" + kReplacement + kReplacement + "c");
  // Invalid UTF-8 read as UTF-8: each bad byte is replaced, nothing dropped.
  EXPECT_EQ(fromCodePage("ok\xFF\xC3(", kUtf8), "ok" + kReplacement + kReplacement + "(");
  EXPECT_EQ(fromCodePage("end\xE2\x82", kUtf8), "end" + kReplacement + kReplacement);
  EXPECT_EQ(fromCodePage("\xED\xA0\x80", kUtf8).find("\xED\xA0\x80"), std::string::npos);  // a surrogate
}

TEST(CodePage, Utf8RoundTrip) {
  std::string text = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 ascii";
  EXPECT_EQ(toCodePage(text, kUtf8), text);
  EXPECT_EQ(fromCodePage(text, kUtf8), text);
  EXPECT_EQ(toCodePage("bad\xFF", kUtf8), "bad?");
}

TEST(CodePage, EmptyAndNulTextPassesThrough) {
  EXPECT_EQ(toCodePage("", kCp1252), "");
  EXPECT_EQ(fromCodePage("", kCp1252), "");
  EXPECT_EQ(fromCodePage(std::string("a\0b", 3), kCp1252), std::string("a\0b", 3));
}

TEST(CodePage, LongTextConvertsWhole) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "\xC3\xA9\xCE\xB1";
  std::string bytes = toCodePage(text, kCp1252);
  EXPECT_EQ(bytes.size(), 40000u);
  EXPECT_EQ(bytes.substr(0, 4), "\xE9?\xE9?");
  EXPECT_EQ(fromCodePage(std::string(30000, '\xE9'), kCp1252).size(), 60000u);
}

TEST(CodePage, UnknownCodePageRaises) {
  try {
    toCodePage("x", "no-such-code-page");
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), basic::InvalidProcedureCall);
    EXPECT_NE(e.description().find("no-such-code-page"), std::string::npos);
  }
  EXPECT_THROW(fromCodePage("x", "no-such-code-page"), AutomationError);
}

TEST(CodePage, ProcessCodePageComesFromTheEnvironmentOnce) {
  // The test runner may set PRESSMARK_CODEPAGE; otherwise the locale's
  // character set is used. Either way the name is a code page iconv knows
  // and stays the same.
  const std::string& name = codePageName();
  EXPECT_FALSE(name.empty());
  if (const char* env = std::getenv("PRESSMARK_CODEPAGE"); env && *env) {
    EXPECT_EQ(name, env);
  }
  EXPECT_EQ(&codePageName(), &name);
  EXPECT_EQ(toCodePage("plain ascii"), "plain ascii");
  EXPECT_EQ(fromCodePage("plain ascii"), "plain ascii");
}

TEST(CodePage, DetectionReadsOverrideThenLocaleWithoutTouchingTheGlobalLocale) {
  std::string before = std::setlocale(LC_CTYPE, nullptr);
  {
    pmtest::ScopedEnv cp("PRESSMARK_CODEPAGE", "windows-1252");
    EXPECT_EQ(detectCodePageForTesting(), "windows-1252");
  }
  pmtest::ScopedEnv cp("PRESSMARK_CODEPAGE", nullptr);
  pmtest::ScopedEnv ctype("LC_CTYPE", nullptr);
  {
    pmtest::ScopedEnv all("LC_ALL", "C.UTF-8");
    EXPECT_EQ(detectCodePageForTesting(), "UTF-8");
  }
  {
    // No locale set: the C locale's 7-bit ASCII would turn every other
    // character into a replacement, so UTF-8 is taken instead.
    for (const char* none : {"C", "POSIX"}) {
      pmtest::ScopedEnv all("LC_ALL", none);
      EXPECT_EQ(detectCodePageForTesting(), "UTF-8") << none;
    }
  }
  {
    // A locale that does not exist falls back to the C locale, so to UTF-8.
    pmtest::ScopedEnv all("LC_ALL", "xx_NOWHERE.NOTHING");
    EXPECT_EQ(detectCodePageForTesting(), "UTF-8");
  }
  {
    pmtest::ScopedEnv all("LC_ALL", "C");
    pmtest::ScopedEnv cp("PRESSMARK_CODEPAGE", "ISO-8859-1");
    EXPECT_EQ(detectCodePageForTesting(), "ISO-8859-1");
  }
  EXPECT_EQ(std::setlocale(LC_CTYPE, nullptr), before);
}

}  // namespace
