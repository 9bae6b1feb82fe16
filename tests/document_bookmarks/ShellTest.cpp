// The bookmark members from the shell: a session opens a document, builds
// and lists bookmarks and saves; qpdf reads the outline back. --help lists
// the document's bookmark members.
#include "Real.h"
#include "support/TestSupport.h"

namespace pm::test {
TEST_F(RealBookmarks, ShellSessionBuildsListsAndSaves) {
  std::string path = make("shell.pdf", plainSpec());
  test::TempDir registry;
  std::string session = "OpenDocument " + path +
                        "\n"
                        "$1.CreateBookmarksFromArray [[\"Intro\",1,1],[\"Terms\",2,1]]\n"
                        "$1.GetBookmarks @b\n"
                        "@b\n"
                        "$1.BookmarkExists intro\n"
                        "$1.SetBookmarkStyle 2 Terms\n"
                        "$1.Save 1\n";
  test::CommandResult r = test::runPressmark({"shell"}, session, {"PRESSMARK_REGISTRY=" + registry.path()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "\"$1\"\n2\n2\n[\"Intro\",\"Terms\"]\ntrue\n1\nok\n") << r.err;
  EXPECT_EQ(outlineLines(path),
            (Lines{"Intro|C=|F=|Count=-1|JS=this.pageNum = 0;", "  Terms|C=|F=2|Count=|JS=this.pageNum = 0;"}));
}

TEST(BookmarkHelp, EveryBookmarkMemberIsListed) {
  test::CommandResult r = test::runPressmark({"--help"});
  EXPECT_EQ(r.exitCode, 0);
  size_t document = r.out.find("Document members:");
  ASSERT_NE(document, std::string::npos);
  for (const char* m :
       {"BookmarkExists strBookmark", "GetBookmarks varBookmarks", "ExecuteBookmark strBookmark",
        "RemoveBookmark [strBookmark", "SetBookmarkAction strAction", "SetBookmarkColor varColor",
        "SetBookmarkName strName", "SetBookmarkStyle lngStyle (by value)", "SetBookmarkExpanded blnExpand",
        "SetBookmarkProperty varColor lngStyle (by value) intLevel", "CreateBookmarksFromArray varArray",
        "CreateBookmarksFromArray2 varArray", "CreateBookmarksFromArray3 varArray",
        "CreateBookmarksFromOutline [lngStartPage = 0]", "CreateBookmarksFromPages [strText = \"Page \"]",
        "CreateChildBookmark strChildBookmark", "TextFileToArray strTextFile varArray"})
    EXPECT_NE(r.out.find(std::string("  ") + m, document), std::string::npos) << m;
}

}  // namespace pm::test
