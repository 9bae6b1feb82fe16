#include <gtest/gtest.h>

#include <clocale>

#include "automation/Automation.h"
#include "component/document/ScriptText.h"
#include "support/Raised.h"

namespace pm::test {

TEST(ScriptText, NumbersAreScriptTextInAnyLocale) {
  // A locale with a decimal comma must not change the script.
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  std::string got;
  for (const Variant& v : {Variant(int32_t(12)), Variant(-3.0), Variant(0.5), Variant(-0.0), Variant("72"),
                           Variant(1.25e20), Variant(2.0 / 3.0), Variant(true)})
    got += script::Number(v) + " ";
  EXPECT_EQ(got, "12 -3 0.5 0 72 1.25E+20 0.666666666666667 -1 ");
  std::setlocale(LC_NUMERIC, "C");
  // A caller's text that is not a number never reaches the script.
  EXPECT_EQ(raised([] { script::Number(Variant("0);app.launchURL('x')")); }).number, 13);
}

TEST(ScriptText, QuoteEscapesEverythingThatEndsALiteral) {
  EXPECT_EQ(script::Quote("plain"), "\"plain\"");
  EXPECT_EQ(script::Quote("a\"b'c\\d"), "\"a\\\"b\\'c\\\\d\"");
  EXPECT_EQ(script::Quote("l1\r\nl2\tx"), "\"l1\\r\\nl2\\tx\"");
  EXPECT_EQ(script::Quote(std::string("\x01\x7F", 2)), "\"\\u0001\\u007F\"");
  EXPECT_EQ(script::Quote("Ж\u2028z\u2029"), "\"Ж\\u2028z\\u2029\"");
  EXPECT_EQ(script::Quote("\");app.alert(1);//"), "\"\\\");app.alert(1);//\"");
}

}  // namespace pm::test
