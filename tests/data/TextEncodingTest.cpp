// Text files keep their characters when the process has no locale set (the
// usual case for daemons, cron jobs, containers and CI): the plain C/POSIX
// locale's 7-bit ASCII is taken for UTF-8.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace pm::test {

namespace {

TEST(TextEncoding, WithoutALocaleTextFilesRoundTripAsUtf8) {
  TempDir dir;
  const std::string in = dir.file("in.txt"), out = dir.file("out.txt");
  // "café,naïve" and "Zoë,Köln" in UTF-8, written as bytes.
  const std::string text = "caf\xC3\xA9,na\xC3\xAFve\r\nZo\xC3\xAB,K\xC3\xB6ln\r\n";
  writeFile(in, text);
  const std::string script =
      "@a = []\nTextFileToArray " + in + " @a \",\"\nTwoDArrayToTextFile @a " + out + " \",\"\n@a\n";
  struct Case {
    std::vector<std::string> env;
    std::string codePage;
  };
  for (const Case& c :
       std::vector<Case>{{{"LC_ALL=C", "LC_CTYPE=C", "LANG=C", "PRESSMARK_CODEPAGE="}, "C"},
                         {{"LC_ALL=POSIX", "LC_CTYPE=POSIX", "LANG=POSIX", "PRESSMARK_CODEPAGE="}, "POSIX"}}) {
    CommandResult r = runPressmark({"shell"}, script, c.env);
    ASSERT_EQ(r.exitCode, 0) << c.codePage << r.out << r.err;
    EXPECT_NE(r.out.find("\"caf\xC3\xA9\""), std::string::npos) << c.codePage << r.out;
    EXPECT_EQ(readFile(out), text) << c.codePage;
  }
  // The override still wins: Latin-1 bytes read as Latin-1.
  writeFile(in, "caf\xE9,na\xEFve\r\n");
  CommandResult r = runPressmark({"shell"}, script, {"LC_ALL=C", "LANG=C", "PRESSMARK_CODEPAGE=ISO-8859-1"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("\"caf\xC3\xA9\""), std::string::npos) << r.out;
  EXPECT_EQ(readFile(out), "caf\xE9,na\xEFve\r\n");
}

}  // namespace

}  // namespace pm::test
