// Files written onto a symbolic link: the link stays and its target gets
// the new content with the mode it had.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "automation/Automation.h"
#include "component/frame/CreatePDF.h"
#include "support/TestSupport.h"

namespace pm::test {

namespace {

TEST(LinkTargets, WritersFollowTheLinkAndKeepTheTargetsMode) {
  ObjectRef pdf = CreateObject(kCreatePDFProgId);
  TempDir dir;
  const std::string source = dir.file("source.txt");
  writeFile(source, "copied\r\n");
  ::chmod(source.c_str(), 0644);
  struct Case {
    const char* name;
    std::function<void(const std::string&)> write;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"TwoDArrayToTextFile",
       [&](const std::string& p) {
         Variant grid(Array::matrix(1, 2));
         grid.arrayMut().set({0, 0}, Variant("a")), grid.arrayMut().set({0, 1}, Variant("b"));
         ASSERT_EQ(call(pdf, "TwoDArrayToTextFile", {ByRef(grid), Variant(p), Variant(",")}), Variant(int16_t{1}));
       },
       "a,b\r\n"},
      {"OneDArrayToTextFile",
       [&](const std::string& p) {
         Variant list = V({"x", "y"});
         ASSERT_EQ(call(pdf, "OneDArrayToTextFile", {ByRef(list), Variant(p)}), Variant(int16_t{1}));
       },
       "x\r\ny\r\n"},
      {"CopyFile",
       [&](const std::string& p) {
         call(pdf, "CopyFile", {Variant(source), Variant(p)});
       },
       "copied\r\n"},
  };
  for (const Case& c : cases) {
    const std::string real = dir.file(std::string(c.name) + ".real");
    writeFile(real, "old");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    // A chain of two links, the first one relative.
    const std::string hop = dir.file(std::string(c.name) + ".hop");
    const std::string link = dir.file(std::string(c.name) + ".txt");
    ASSERT_EQ(::symlink(real.c_str(), hop.c_str()), 0);
    ASSERT_EQ(::symlink((std::string(c.name) + ".hop").c_str(), link.c_str()), 0);
    c.write(link);
    EXPECT_TRUE(S_ISLNK(modeOf(link))) << c.name << ": the link is still a link";
    EXPECT_TRUE(S_ISLNK(modeOf(hop))) << c.name;
    EXPECT_EQ(readFile(real), c.expected) << c.name;
    EXPECT_EQ(modeOf(real), S_IFREG | 0640u) << c.name;
    // A plain file keeps its mode too.
    const std::string plain = dir.file(std::string(c.name) + ".plain");
    writeFile(plain, "old");
    ASSERT_EQ(::chmod(plain.c_str(), 0600), 0);
    c.write(plain);
    EXPECT_EQ(modeOf(plain), S_IFREG | 0600u) << c.name;
    EXPECT_EQ(readFile(plain), c.expected) << c.name;
  }
}

}  // namespace

}  // namespace pm::test
