// Job-options files in both forms, the security keys, the faults reported
// for files that do not parse, and the small text helpers of the server.
#include <gtest/gtest.h>

#include <functional>

#include "automation/surfaces/Distiller.h"
#include "servers/distiller/GhostscriptJob.h"
#include "servers/distiller/JobOptions.h"
#include "support/TestSupport.h"

namespace pm::test {
using namespace pm::distiller;
namespace {

// What parsing (or reading) raises, "(parsed)" when it raises nothing.
std::string faultOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const JobOptionsError& e) {
    return e.what();
  }
  return "(parsed)";
}
std::string faultOf(std::string_view text) {
  return faultOf([&] { parseJobOptions(text); });
}

TEST(JobOptions, PostScriptFormKeepsDataAndDropsSecurityKeys) {
  JobOptions o = parseJobOptions(
      "%!PS job options\n"
      "<<\n"
      "  /CompatibilityLevel 1.4 % a comment\n"
      "  /AutoRotatePages /None\n"
      "  /Description << /ENU (Text with \\(parens\\)) /DEU <FEFF0041> >>\n"
      "  /ColorImageResolution 150 /Optimize true\n"
      "  /OwnerPassword (own\\051er) /UserPassword (user) /Permissions -3904\n"
      "  /EncryptionR 2 /KeyLength 40\n"
      ">> setdistillerparams\n"
      "<< /HWResolution [600 600] /PageSize [612.000 792.000] >> setpagedevice\n");
  EXPECT_EQ(o.postscript,
            "<< /CompatibilityLevel 1.4 /AutoRotatePages /None /Description << /ENU (Text with \\(parens\\)) /DEU "
            "<FEFF0041> >>"
            " /ColorImageResolution 150 /Optimize true >> setdistillerparams\n"
            "<< /HWResolution [600 600] /PageSize [612.000 792.000] >> setpagedevice\n");
  EXPECT_EQ(o.ownerPassword, "own)er");
  EXPECT_EQ(o.userPassword, "user");
  EXPECT_EQ(o.permissions, -3904);
}

TEST(JobOptions, KeyValueFormBecomesOneDistillerParamsStatement) {
  JobOptions o = parseJobOptions(
      "# key/value job options\n"
      "CompatibilityLevel = 1.5\n"
      "AutoRotatePages = None\n"
      "/ColorImageFilter = /DCTEncode\n"
      "Optimize=false\n"
      "Title = \"A (title) with \\\"quotes\\\"\"\n"
      "HWResolution = [300 300]\n"
      "% another comment\n"
      "OwnerPassword = secret with spaces\n"
      "UserPassword = \"  padded  \"\n"
      "Permissions = -4\n");
  EXPECT_EQ(o.postscript,
            "<< /CompatibilityLevel 1.5 /AutoRotatePages /None /ColorImageFilter /DCTEncode /Optimize false"
            " /Title (A \\(title\\) with \"quotes\") /HWResolution [300 300] >> setdistillerparams\n");
  EXPECT_EQ(o.ownerPassword, "secret with spaces");
  EXPECT_EQ(o.userPassword, "  padded  ");
  EXPECT_EQ(o.permissions, -4);
}

TEST(JobOptions, EmptyFileAndCommentsOnlyGiveNoStatements) {
  EXPECT_EQ(parseJobOptions("").postscript, "");
  EXPECT_EQ(parseJobOptions("% nothing\n# here\n\n").postscript, "");
  EXPECT_FALSE(parseJobOptions("").ownerPassword);
}

TEST(JobOptions, FaultsNameTheLine) {
  EXPECT_EQ(faultOf("<< /A 1\n/B (open >> setdistillerparams"), "line 2: unterminated string");
  EXPECT_EQ(faultOf("<< /A 1 >>\n"), "line 1: expected setdistillerparams or setpagedevice after the dictionary");
  EXPECT_EQ(faultOf("<< /A 1 >> setdistillerparams\nshowpage\n"), "line 2: expected << ... >> setdistillerparams");
  EXPECT_EQ(faultOf("<< /A { (x) print } >> setdistillerparams"), "line 1: procedures are not allowed in job options");
  EXPECT_EQ(faultOf("<< /A deletefile >> setdistillerparams"),
            "line 1: unexpected 'deletefile' (only data is allowed in job options)");
  EXPECT_EQ(faultOf("<< A 1 >> setdistillerparams"), "line 1: a dictionary key must be a /Name");
  EXPECT_EQ(faultOf("<< /A >> setdistillerparams"), "line 1: key /A has no value");
  EXPECT_EQ(faultOf("<< /Permissions (all) >> setdistillerparams"), "line 1: /Permissions must be a whole number");
  EXPECT_EQ(faultOf("Compat 1.4\n"), "line 1: expected Key = value");
  EXPECT_EQ(faultOf("A = 1\nB =\n"), "line 2: key B has no value");
  EXPECT_EQ(faultOf("A = 1\nB = [1 2\n"), "line 2: bad value for B: unterminated array");
  EXPECT_EQ(faultOf("Permissions = many\n"), "line 1: Permissions must be a whole number (the PDF permission bits)");
}

TEST(JobOptions, FilesThatAreMissingOrBadAreNamed) {
  test::TempDir dir;
  EXPECT_EQ(readJobOptions("").postscript, "");
  auto faultOfFile = [](const std::string& path) { return faultOf([&] { readJobOptions(path); }); };
  EXPECT_EQ(faultOfFile(dir.file("none.joboptions")),
            "Job options file " + dir.file("none.joboptions") + " does not exist");
  test::writeFile(dir.file("bad.joboptions"), "<< /A ( >> setdistillerparams");
  EXPECT_EQ(faultOfFile(dir.file("bad.joboptions")),
            "Job options file " + dir.file("bad.joboptions") + " is not valid: line 1: unterminated string");
}

TEST(JobOptions, PostScriptStringsAreEscapedAndDecoded) {
  EXPECT_EQ(psString("a(b)c\\d"), "(a\\(b\\)c\\\\d)");
  EXPECT_EQ(psString("line\nbreak"), "(line\\012break)");
  std::string back;
  ASSERT_TRUE(decodePsString(psString("/x/(y) \\z\n"), back));
  EXPECT_EQ(back, "/x/(y) \\z\n");
  EXPECT_TRUE(decodePsString("  (nested (ok)) ", back));
  EXPECT_EQ(back, "nested (ok)");
  EXPECT_FALSE(decodePsString("(a) (b)", back));
  EXPECT_FALSE(decodePsString("(open", back));
  EXPECT_FALSE(decodePsString("/name", back));
}

TEST(JobOptions, ArgumentFileLinesQuoteOrRefuse) {
  std::string line;
  ASSERT_TRUE(argumentFileLine("-sOwnerPassword=a \"b\" c", line));
  EXPECT_EQ(line, "\"-sOwnerPassword=a \\\"b\\\" c\"");
  EXPECT_FALSE(argumentFileLine("-sOwnerPassword=ends\\", line));
  EXPECT_FALSE(argumentFileLine("-sOwnerPassword=two\nlines", line));
}

TEST(DeclaredPages, HeaderTrailerAndDriverFiles) {
  test::TempDir dir;
  test::writeFile(dir.file("head.ps"), "%!PS-Adobe-3.0\n%%Pages: 7\n%%EndComments\n");
  test::writeFile(dir.file("atend.ps"),
                  "%!PS-Adobe-3.0\n%%Pages: (atend)\n%%EndComments\nshowpage\n%%Trailer\n%%Pages: 4\n%%EOF\n");
  test::writeFile(dir.file("none.ps"), "%!PS\nshowpage\n");
  test::writeFile(dir.file("inline.ps"), "%!PS\n(%%Pages: 9) pop\n");
  EXPECT_EQ(declaredPages(dir.file("head.ps")), 7);
  EXPECT_EQ(declaredPages(dir.file("atend.ps")), 4);
  EXPECT_EQ(declaredPages(dir.file("none.ps")), 0);
  EXPECT_EQ(declaredPages(dir.file("inline.ps")), 0);

  std::string driver =
      "/prun { /mysave save def\r\ndup = flush\r\nRunFile\r\nclear cleardictstack\r\nmysave restore\r\n} def\r\n\r\n" +
      psString(dir.file("head.ps")) + " prun\r\n" + psString(dir.file("atend.ps")) + " prun\r\n";
  test::writeFile(dir.file("driver.ps"), driver);
  EXPECT_EQ(driverEntries(dir.file("driver.ps")),
            (std::vector<std::string>{dir.file("head.ps"), dir.file("atend.ps")}));
  // A file that only looks like a driver counts by its own comments.
  EXPECT_EQ(declaredPages(dir.file("driver.ps")), 0);
  test::writeFile(dir.file("driver2.ps"), driver + psString(dir.file("none.ps")) + " prun\r\n");
  WrittenDriver written(dir.file("driver2.ps"), driverEntries(dir.file("driver2.ps")));
  EXPECT_EQ(declaredPages(dir.file("driver2.ps")), 0);
  // Not a driver file: its lines are not taken as files to run.
  EXPECT_TRUE(driverEntries(dir.file("head.ps")).empty());
}

}  // namespace
}  // namespace pm::test
