// Text-file conversion between UTF-8 and the system code page.
#include <gtest/gtest.h>

#include <string>

#include <clocale>

#include "automation/Error.h"
#include "system/CodePage.h"
#include "support/TestSupport.h"

namespace pm::test {

namespace {

const std::string kCp1252 = "windows-1252", kUtf8 = "UTF-8", kReplacement = "\xEF\xBF\xBD";

TEST(CodePage, ConversionsBothWays) {
  // Unmappable characters become one "?" each, bytes that are not UTF-8 one
  // "?" per byte; bytes undefined in the code page and invalid UTF-8 become
  // replacement characters, nothing dropped. Both: the row holds both ways.
  enum Way { ToPage, FromPage, Both };
  struct Row {
    Way way;
    std::string utf8, page, bytes;
  };
  const std::string ascii = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 ascii";
  const Row rows[] = {
      {Both, "Caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D \xC5\xB8\r\n", kCp1252,
       "Caf\xE9 \x80 \x93q\x94 \x9F\r\n"},
      {ToPage, "a\xCE\xB1g\xE4\xB8\xADh\xF0\x9F\x98\x80i", kCp1252, "a?g?h?i"},
      {ToPage, "x\xFF\xFEy", kCp1252, "x??y"},
      {ToPage, "truncated \xE2\x82", kCp1252, "truncated ??"},
      {FromPage, "a" + kReplacement + "g" + kReplacement + kReplacement + "h", kCp1252, "a\x81g\x90\x9Dh"},
      {FromPage, "ok" + kReplacement + kReplacement + "(", kUtf8, "ok\xFF\xC3("},
      {FromPage, "end" + kReplacement + kReplacement, kUtf8, "end\xE2\x82"},
      {FromPage, kReplacement + kReplacement + kReplacement, kUtf8, "\xED\xA0\x80"},  // a surrogate
      {Both, ascii, kUtf8, ascii},
      {ToPage, "bad\xFF", kUtf8, "bad?"},
      {Both, "", kCp1252, ""},
      {FromPage, std::string("a\0b", 3), kCp1252, std::string("a\0b", 3)},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::PrintToString(r.utf8) + " " + r.page);
    EXPECT_TRUE(r.way == FromPage || toCodePage(r.utf8, r.page) == r.bytes) << toCodePage(r.utf8, r.page);
    EXPECT_TRUE(r.way == ToPage || fromCodePage(r.bytes, r.page) == r.utf8) << fromCodePage(r.bytes, r.page);
  }
  std::string all;
  for (int b = 0x20; b < 0x100; ++b)
    if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D) all += static_cast<char>(b);
  EXPECT_EQ(toCodePage(fromCodePage(all, kCp1252), kCp1252), all);
  // Long text converts whole.
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "\xC3\xA9\xCE\xB1";
  std::string bytes = toCodePage(text, kCp1252);
  EXPECT_EQ(bytes.size(), 40000u);
  EXPECT_EQ(bytes.substr(0, 4), "\xE9?\xE9?");
  EXPECT_EQ(fromCodePage(std::string(30000, '\xE9'), kCp1252).size(), 60000u);
  // An unknown code page raises, naming it.
  std::string why;
  EXPECT_EQ(errorOf([] { toCodePage("x", "no-such-code-page"); }, &why), basic::InvalidProcedureCall);
  EXPECT_NE(why.find("no-such-code-page"), std::string::npos);
  EXPECT_THROW(fromCodePage("x", "no-such-code-page"), AutomationError);
}

TEST(CodePage, ProcessCodePageComesFromTheEnvironmentOnceWithoutTouchingTheGlobalLocale) {
  // The test runner may set PRESSMARK_CODEPAGE; otherwise the locale's
  // character set is used. Either way the name is a code page iconv knows
  // and stays the same.
  const std::string& name = codePageName();
  EXPECT_FALSE(name.empty());
  const char* env = std::getenv("PRESSMARK_CODEPAGE");
  EXPECT_TRUE(!env || !*env || name == env) << name;
  EXPECT_EQ(&codePageName(), &name);
  EXPECT_EQ(toCodePage("plain ascii"), "plain ascii");
  EXPECT_EQ(fromCodePage("plain ascii"), "plain ascii");

  std::string before = std::setlocale(LC_CTYPE, nullptr);
  ScopedEnv ctype("LC_CTYPE", nullptr);
  // No locale set (C, POSIX, or one that does not exist and so falls back
  // to C): the C locale's 7-bit ASCII would turn every other character into
  // a replacement, so UTF-8 is taken instead.
  const char* rows[][3] = {{nullptr, "windows-1252", "windows-1252"},
                           {"C.UTF-8", nullptr, "UTF-8"},
                           {"C", nullptr, "UTF-8"},
                           {"POSIX", nullptr, "UTF-8"},
                           {"xx_NOWHERE.NOTHING", nullptr, "UTF-8"},
                           {"C", "ISO-8859-1", "ISO-8859-1"}};
  for (const auto& [all, override, expected] : rows) {
    ScopedEnv a("LC_ALL", all), cp("PRESSMARK_CODEPAGE", override);
    EXPECT_EQ(detectCodePageForTesting(), expected) << (all ? all : "(no LC_ALL)");
  }
  EXPECT_EQ(std::setlocale(LC_CTYPE, nullptr), before);
}

}  // namespace

}  // namespace pm::test
