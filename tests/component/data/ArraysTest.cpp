// Arrays and delimited text: the codes, the separator defaults written back
// to the caller, the line-end rules, round trips through files, links and
// text files without a locale.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "automation/Automation.h"
#include "component/frame/CreatePDF.h"
#include "support/TestSupport.h"
#include "system/CodePage.h"

namespace pm::test {

namespace {

const Variant k1(int16_t{1}), kM1(int16_t{-1}), kM2(int16_t{-2}), kM3(int16_t{-3});

class ArrayMethods : public ::testing::Test {
 protected:
  ObjectRef pdf = CreateObject(kCreatePDFProgId);
  TempDir dir;
  Variant run(const char* method, std::initializer_list<Arg> args) { return call(pdf, method, args); }
};

Variant matrix(std::vector<std::vector<Variant>> rows) {
  Array a = Array::matrix(static_cast<int32_t>(rows.size()), rows.empty() ? 0 : static_cast<int32_t>(rows[0].size()));
  for (int32_t r = 0; r < static_cast<int32_t>(rows.size()); ++r)
    for (int32_t c = 0; c < static_cast<int32_t>(rows[0].size()); ++c) a.set({r, c}, rows[r][c]);
  return Variant(std::move(a));
}

TEST_F(ArrayMethods, OneDAndTwoDArrayToText) {
  Variant arr = V({"a", "b", "c"}), text, row(","), last(""), delim(";"), rowEnd("|");
  EXPECT_EQ(run("OneDArrayToText", {ByRef(arr), ByRef(text), ByRef(row), ByRef(last), Variant(true)}), k1);
  EXPECT_EQ(text, Variant("\"a\",\"b\",\"c\""));

  Variant space(" ");
  EXPECT_EQ(run("OneDArrayToText", {ByRef(arr), ByRef(text), ByRef(space), Variant(";")}), k1);
  EXPECT_EQ(space, Variant("\r\n"));  // the substitute is written back
  EXPECT_EQ(text, Variant("a\r\nb\r\nc;"));

  Variant numbers = V({Variant(int32_t{1}), Variant(2.5), Variant(true), Variant()});
  EXPECT_EQ(run("OneDArrayToText", {ByRef(numbers), ByRef(text), Variant("|")}), k1);
  EXPECT_EQ(text, Variant("1|2.5|True|"));

  Variant notArray("abc"), withNull = V({"a", Variant::null()});
  EXPECT_EQ(run("OneDArrayToText", {ByRef(notArray), ByRef(text), Variant(",")}), kM1);
  text = Variant("unchanged");
  EXPECT_EQ(run("OneDArrayToText", {ByRef(withNull), ByRef(text), Variant(",")}), kM2);
  EXPECT_EQ(text, Variant("unchanged"));

  arr = matrix({{"a", "b"}, {"c", "d"}});
  EXPECT_EQ(run("TwoDArrayToText", {ByRef(arr), ByRef(text), ByRef(delim), ByRef(rowEnd)}), k1);
  EXPECT_EQ(text, Variant("a;b|c;d|"));

  Variant empty("");
  space = Variant(" ");
  EXPECT_EQ(run("TwoDArrayToText", {ByRef(arr), ByRef(text), ByRef(space), ByRef(empty), Variant(true)}), k1);
  EXPECT_EQ(space, Variant("\t"));
  EXPECT_EQ(empty, Variant("\r\n"));
  EXPECT_EQ(text, Variant("\"a\"\t\"b\"\r\n\"c\"\t\"d\"\r\n"));

  // Empty and one-dimensional arrays fail in the check TwoDArrayToTextFile's test runs.
  Variant str("x"), obj = Variant(pdf);
  EXPECT_EQ(run("TwoDArrayToText", {ByRef(str), ByRef(text), Variant(","), Variant("|")}), kM1);
  Variant withObject = matrix({{"a", obj}});
  EXPECT_EQ(run("TwoDArrayToText", {ByRef(withObject), ByRef(text), Variant(","), Variant("|")}), kM2);
}

TEST_F(ArrayMethods, OneDArrayToTextFile) {
  std::string path = dir.file("one.txt");
  Variant arr = V({"plain", Variant(), Variant::null(), Variant(int32_t{5}), Variant(-2.5), Variant(true)});
  EXPECT_EQ(run("OneDArrayToTextFile", {ByRef(arr), Variant(path)}), k1);
  EXPECT_EQ(readFile(path), "plain\r\n\r\nNull\r\n 5\r\n-2.5\r\nTrue\r\n");
  EXPECT_EQ(run("OneDArrayToTextFile", {ByRef(arr), Variant(path), Variant(true)}), k1);
  // Quotes join by concatenation: a Null gives two quotation marks.
  EXPECT_EQ(readFile(path), "\"plain\"\r\n\"\"\r\n\"\"\r\n\"5\"\r\n\"-2.5\"\r\n\"True\"\r\n");
  Variant str("x");
  EXPECT_EQ(run("OneDArrayToTextFile", {ByRef(str), Variant(path)}), kM1);
  EXPECT_EQ(run("OneDArrayToTextFile", {ByRef(arr), Variant(dir.file("no/such/dir/x.txt"))}), kM2);
}

TEST_F(ArrayMethods, TwoDArrayToTextFileDefaultsAndFailures) {
  std::string path = dir.file("two.txt");
  Variant arr = matrix({{"a", Variant(int32_t{1})}, {Variant(), "d e"}});
  Variant delim("");
  EXPECT_EQ(run("TwoDArrayToTextFile", {ByRef(arr), Variant(path), ByRef(delim)}), k1);
  EXPECT_EQ(readFile(path), "a,1\r\n,d e\r\n");
  EXPECT_EQ(delim, Variant(""));  // by value: nothing written back
  EXPECT_EQ(run("TwoDArrayToTextFile", {ByRef(arr), Variant(path), Variant(" "), Variant(true)}), k1);
  EXPECT_EQ(readFile(path), "\"a\" \"1\"\r\n\"\" \"d e\"\r\n");

  // A failure never leaves a half-written file: the old content stays.
  Variant bad = matrix({{"ok", "ok"}, {"fine", Variant::null()}});
  EXPECT_EQ(run("TwoDArrayToTextFile", {ByRef(bad), Variant(path)}), kM2);
  EXPECT_EQ(readFile(path), "\"a\" \"1\"\r\n\"\" \"d e\"\r\n");
  Variant empty, oneD = V({"a"}), number(int32_t{3});
  EXPECT_EQ(run("TwoDArrayToTextFile", {ByRef(empty), Variant(dir.file("e.txt"))}), kM2);
  EXPECT_EQ(run("TwoDArrayToTextFile", {ByRef(oneD), Variant(dir.file("e.txt"))}), kM2);
  EXPECT_EQ(run("TwoDArrayToTextFile", {ByRef(number), Variant(dir.file("e.txt"))}), kM1);
  EXPECT_EQ(run("TwoDArrayToTextFile", {ByRef(arr), Variant(dir.path())}), kM2);  // a folder
  EXPECT_THROW(readFile(dir.file("e.txt")), std::exception);
}

TEST_F(ArrayMethods, TextFileToOneDArrayLineEnds) {
  std::string path = dir.file("lines.txt");
  writeFile(path, "one\r\ntwo\rthree\nstill three\r\n\r\nlast");
  Variant arr;
  EXPECT_EQ(run("TextFileToOneDArray", {Variant(path), ByRef(arr)}), k1);
  EXPECT_EQ(arr, V({"one", "two", "three\nstill three", "", "last"}));

  writeFile(path, "a\nb\nc\n");
  EXPECT_EQ(run("TextFileToOneDArray", {Variant(path), ByRef(arr)}), k1);
  EXPECT_EQ(arr, V({"a\nb\nc\n"}));

  writeFile(path, "x\r\ny\r\nz\r\n");
  Variant ten(Array({Bound{0, 10}}));
  EXPECT_EQ(run("TextFileToOneDArray", {Variant(path), ByRef(ten)}), k1);
  EXPECT_EQ(ten, V({"x", "y", "z"}));

  writeFile(path, "");
  Variant keep = V({"kept"});
  EXPECT_EQ(run("TextFileToOneDArray", {Variant(path), ByRef(keep)}), k1);
  EXPECT_EQ(keep, V({"kept"}));

  Variant str("s");
  EXPECT_EQ(run("TextFileToOneDArray", {Variant(path), ByRef(str)}), kM2);
  EXPECT_EQ(run("TextFileToOneDArray", {Variant(dir.file("missing.txt")), ByRef(arr)}), kM1);
  writeFile(path, "a\r\n");
  Variant twoD = matrix({{"a"}});
  EXPECT_EQ(run("TextFileToOneDArray", {Variant(path), ByRef(twoD)}), kM3);
}

TEST_F(ArrayMethods, TextFileToArrayFieldsAndQuotes) {
  std::string path = dir.file("grid.txt");
  writeFile(path, "a,b,c\r\nd\r\ne,f\r\n");
  Variant arr;
  EXPECT_EQ(run("TextFileToArray", {Variant(path), ByRef(arr)}), k1);
  EXPECT_EQ(arr, matrix({{"a", "b", "c"}, {"d", Variant(), Variant()}, {"e", "f", Variant()}}));

  writeFile(path, "\"\",\"x\",\"y\r\n,z,\r\n\r\n\"a,b\"");
  EXPECT_EQ(run("TextFileToArray", {Variant(path), ByRef(arr), Variant(","), Variant(true)}), k1);
  EXPECT_EQ(arr,
            matrix({{"", "x", "\"y"}, {"", "z", Variant()}, {"", Variant(), Variant()}, {"\"a", "b\"", Variant()}}));

  writeFile(path, "a;;b\r\nc");
  EXPECT_EQ(run("TextFileToArray", {Variant(path), ByRef(arr), Variant(";;")}), k1);
  EXPECT_EQ(arr, matrix({{Variant()}, {Variant()}}));

  // A lone quotation mark with quote removal fails; rows before it stay.
  writeFile(path, "ok,1\r\n\",2");
  EXPECT_EQ(run("TextFileToArray", {Variant(path), ByRef(arr), Variant(","), Variant(true)}), kM3);
  EXPECT_EQ(arr.array().at({0, 0}), Variant("ok"));

  writeFile(path, "");
  Variant keep = V({"k"});
  EXPECT_EQ(run("TextFileToArray", {Variant(path), ByRef(keep)}), kM3);
  EXPECT_EQ(keep, V({"k"}));
  Variant str("s");
  EXPECT_EQ(run("TextFileToArray", {Variant(path), ByRef(str)}), kM2);
  EXPECT_EQ(run("TextFileToArray", {Variant(dir.file("missing.txt")), ByRef(arr)}), kM1);
}

// Files written onto a symbolic link: the link stays and its target gets
// the new content with the mode it had.
TEST_F(ArrayMethods, WritersFollowTheLinkAndKeepTheTargetsMode) {
  const std::string source = dir.file("source.txt");
  writeFile(source, "copied\r\n");
  ::chmod(source.c_str(), 0644);
  Variant grid = matrix({{"a", "b"}}), list = V({"x", "y"});
  auto write = [&](const std::string& method, const std::string& p) {
    if (method == "CopyFile") return call(pdf, "CopyFile", {Variant(source), Variant(p)}), k1;
    return method == "OneDArrayToTextFile" ? call(pdf, method, {ByRef(list), Variant(p)})
                                           : call(pdf, method, {ByRef(grid), Variant(p), Variant(",")});
  };
  const std::pair<std::string, std::string> cases[] = {
      {"TwoDArrayToTextFile", "a,b\r\n"}, {"OneDArrayToTextFile", "x\r\ny\r\n"}, {"CopyFile", "copied\r\n"}};
  for (const auto& [name, expected] : cases) {
    SCOPED_TRACE(name);
    const std::string real = dir.file(name + ".real");
    writeFile(real, "old");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    // A chain of two links, the first one relative.
    const std::string hop = dir.file(name + ".hop");
    const std::string link = dir.file(name + ".txt");
    ASSERT_EQ(::symlink(real.c_str(), hop.c_str()), 0);
    ASSERT_EQ(::symlink((name + ".hop").c_str(), link.c_str()), 0);
    EXPECT_EQ(write(name, link), k1);
    EXPECT_TRUE(S_ISLNK(modeOf(link)));
    EXPECT_TRUE(S_ISLNK(modeOf(hop)));
    EXPECT_EQ(readFile(real), expected);
    EXPECT_EQ(modeOf(real), S_IFREG | 0640u);
    // A plain file keeps its mode too.
    const std::string plain = dir.file(name + ".plain");
    writeFile(plain, "old");
    ASSERT_EQ(::chmod(plain.c_str(), 0600), 0);
    EXPECT_EQ(write(name, plain), k1);
    EXPECT_EQ(modeOf(plain), S_IFREG | 0600u);
    EXPECT_EQ(readFile(plain), expected);
  }
}

// Text files keep their characters when the process has no locale set (the
// usual case for daemons, cron jobs, containers and CI): the plain C/POSIX
// locale's 7-bit ASCII is taken for UTF-8.
TEST_F(ArrayMethods, WithoutALocaleTextFilesRoundTripAsUtf8) {
  const std::string in = dir.file("in.txt"), out = dir.file("out.txt");
  // "café,naïve" and "Zoë,Köln" in UTF-8, written as bytes.
  const std::string text = "caf\xC3\xA9,na\xC3\xAFve\r\nZo\xC3\xAB,K\xC3\xB6ln\r\n";
  writeFile(in, text);
  const std::string script =
      "@a = []\nTextFileToArray " + in + " @a \",\"\nTwoDArrayToTextFile @a " + out + " \",\"\n@a\n";
  // The POSIX locale and the override are read the same way (CodePage's
  // detection rows); the command shows the setting reaches the files.
  CommandResult r = runPressmark({"shell"}, script, {"LC_ALL=C", "LC_CTYPE=C", "LANG=C", "PRESSMARK_CODEPAGE="});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("\"caf\xC3\xA9\""), std::string::npos) << r.out;
  EXPECT_EQ(readFile(out), text);
  // The override still wins: Latin-1 bytes read as Latin-1.
  writeFile(in, "caf\xE9,na\xEFve\r\n");
  r = runPressmark({"shell"}, script, {"LC_ALL=C", "LANG=C", "PRESSMARK_CODEPAGE=ISO-8859-1"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("\"caf\xC3\xA9\""), std::string::npos) << r.out;
  EXPECT_EQ(readFile(out), "caf\xE9,na\xEFve\r\n");
}

}  // namespace

}  // namespace pm::test
