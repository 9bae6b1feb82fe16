// The bookmark members from the shell: a session opens a document, builds
// and lists bookmarks and saves; qpdf reads the outline back.
#include "Real.h"

namespace pm::test {
TEST_F(RealBookmarks, ShellSessionBuildsListsAndSaves) {
  std::string path = make("shell.pdf", plainSpec());
  TempDir registry;
  std::string session = "OpenDocument " + path +
                        "\n"
                        "$1.CreateBookmarksFromArray [[\"Intro\",1,1],[\"Terms\",2,1]]\n"
                        "$1.GetBookmarks @b\n"
                        "@b\n"
                        "$1.BookmarkExists intro\n"
                        "$1.SetBookmarkStyle 2 Terms\n"
                        "$1.Save 1\n";
  CommandResult r = runPressmark({"shell"}, session, {"PRESSMARK_REGISTRY=" + registry.path()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "\"$1\"\n2\n2\n[\"Intro\",\"Terms\"]\ntrue\n1\nok\n") << r.err;
  EXPECT_EQ(outlineLines(path),
            (Lines{"Intro|C=|F=|Count=-1|JS=this.pageNum = 0;", "  Terms|C=|F=2|Count=|JS=this.pageNum = 0;"}));
}

}  // namespace pm::test
