// The members from the pressmark shell, as a user would run them, read back
// with mutool and qpdf; --help lists them.
#include "document_bookmarks/Real.h"

namespace pm::test {

// One session marks text, adds a numbered watermark, builds and lists
// bookmarks, edits a note through its record (records print as objects)
// and saves once.
TEST(DocumentShell, OneSessionMarksBuildsBookmarksEditsARecordAndSaves) {
  TempDir dir, registry;
  std::string path = dir.file("shell.pdf");
  makePdf(path, textPages({{"The quick brown fox jumps"}, {"The quick brown fox jumps"}}));
  CommandResult r = runPressmark(
      {"shell"},
      "OpenDocument " + path +
          "\n$1.FindAndHighlightText fox\n$1.AddWatermarkFromText DRAFT blnIncludePageNo:=true\n"
          "$1.CreateBookmarksFromArray [[\"Intro\",1,1],[\"Terms\",2,1]]\n$1.GetBookmarks @b\n@b\n"
          "$1.BookmarkExists intro\n$1.SetBookmarkStyle 2 Terms\n"
          "$1.CreateTextAnnot 1 hello strName:=n1 lngNoteState:=1\n$1.GetTextAnnotProperties n1 1\n"
          "$2.contents = changed\n$2.State\n$1.SetTextAnnotProperties n1 1 $2\n$1.GetTextAnnotProperties n1 1\n"
          "$3.contents\n$3.State\n$1.Save 1\n",
      {"PRESSMARK_REGISTRY=" + registry.path()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "\"$1\"\n2\nok\n2\n2\n[\"Intro\",\"Terms\"]\ntrue\n1\nok\n\"$2\"\nok\n1\nok\n\"$3\"\n\"changed\"\n1\nok\n")
      << r.err;
  std::string text;
  ASSERT_EQ(run({"mutool", "draw", "-F", "txt", path}, &text), 0);
  EXPECT_THAT(text, HoldsAll({"DRAFT1", "DRAFT2"}));
  std::string json;
  ASSERT_EQ(run({"qpdf", "--json", path}, &json), 0);
  size_t highlights = 0;
  for (size_t at = json.find("/Highlight"); at != std::string::npos; at = json.find("/Highlight", at + 1)) ++highlights;
  EXPECT_EQ(highlights, 2u);
  EXPECT_EQ(outlineLines(path),
            (Lines{"Intro|C=|F=|Count=-1|JS=this.pageNum = 0;", "  Terms|C=|F=2|Count=|JS=this.pageNum = 0;"}));
}

TEST(DocumentShell, HelpListsTheDocumentMembersAndTheRecords) {
  CommandResult r = runPressmark({"--help"});
  EXPECT_EQ(r.exitCode, 0);
  for (const char* text :
       {"Document members:", "  FindAndHighlightText strFindText [lngStartPage = 0]",
        "a search text with a leading or trailing space never matches",
        "carry the name Comment followed by the page number", "  NewPage [lngInsertAfterPage (by value) = -1]",
        "  AddWatermarkFromText strText", "  SetTextAnnotProperties strName lngPage fldt",
        "TextAnnotType members:", "FreeTextAnnotType members:", "  Rotate (property let) vNewValue",
        "  CreateBookmarksFromPages [strText = \"Page \"]", "  SetBookmarkStyle lngStyle (by value)"})
    EXPECT_THAT(r.out, HasSubstr(text)) << text;
}

}  // namespace pm::test
