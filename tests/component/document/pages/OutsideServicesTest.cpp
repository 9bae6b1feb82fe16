// What reaches services outside the document: PrintDocument through the test
// scheduler's file queue (the page range, the order and what is drawn reach
// the printer), and GetURL from a small HTTP server the test runs on
// 127.0.0.1 (the fetched page is laid out and appended, or replaces the
// pages); and the members from the pressmark shell, as a user would run
// them, read back with mutool and qpdf, and --help listing them.
#include <chrono>
#include <filesystem>
#include <thread>

#include "component/document/bookmarks/Real.h"
#include "support/LocalService.h"

namespace pm::test {

namespace fs = std::filesystem;

TEST(PrintDocument, APrintedRangeReachesTheQueue) {
  PM_REQUIRE_OR_SKIP(pm::test::haveTestCups(),
                     "PRESSMARK_TEST_CUPS is not set: no test cupsd (scripts/services/cups.sh)");
  pm::test::resetTestCupsDefault();
  std::string queue = pm::test::testCupsDir() + "/out/ps-queue.prn";
  fs::remove(queue);
  TempDir dir;
  std::string path = dir.file("print.pdf");
  makePdf(path, textPages({{}, {}, {}, {}}));
  ObjectRef d = openDocument(path);
  call(d, "PrintDocument", {false, 2, 3, true, false, false, true, false});
  for (int i = 0; i < 300 && !(fs::exists(queue) && fs::file_size(queue) > 0); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(fs::exists(queue)) << "nothing reached " << queue;
  std::string job = readFile(queue);
  EXPECT_EQ(job.substr(0, 4), "%!PS");
  EXPECT_EQ(countOf(job, "%%Page: "), 2) << "pages 2 and 3 only";
  EXPECT_THROW(call(d, "PrintDocument", {false, 4, 6}), AutomationError);
}

TEST(GetURL, AFetchedPageIsAppendedOrReplacesThePages) {
  TempDir dir;
  // The tests' web server answers /page.html with a page and /missing... with 404.
  LocalService web({"/usr/bin/python3", std::string(PRESSMARK_SOURCE_DIR) + "/tests/support/http_sink.py", dir.path()});
  auto url = [&](const std::string& at) { return "http://127.0.0.1:" + std::to_string(web.port()) + at; };
  std::string path = dir.file("doc.pdf");
  makePdf(path, textPages({{"Original page"}, {"Original page"}}));
  ObjectRef d = openDocument(path);
  call(d, "GetURL", {url("/page.html")});
  EXPECT_EQ(CLng(get(d, "NumPages")), 3);
  call(d, "Save", {1, dir.file("appended.pdf")});
  EXPECT_THAT(pageText(dir.file("appended.pdf"), 2), HasSubstr("Fetched heading"));
  EXPECT_THAT(pageText(dir.file("appended.pdf"), 0), HasSubstr("Original page"));

  // A file address, replacing every page.
  writeFile(dir.file("local.html"), "<p>From a file</p>");
  call(d, "GetURL", {"file://" + dir.file("local.html"), false});
  EXPECT_EQ(CLng(get(d, "NumPages")), 1);
  call(d, "Save", {1, dir.file("replaced.pdf")});
  EXPECT_THAT(pageText(dir.file("replaced.pdf"), 0), HasSubstr("From a file"));
  expectClean(dir.file("replaced.pdf"));

  const std::tuple<std::string, const char*> failures[] = {
      {url("/missing.html"), "404"},
      {"ftp://127.0.0.1/x", "only http, https and file"},
      {"file://" + dir.file("nothing.html"), "Cannot fetch"},
  };
  for (const auto& [url, says] : failures) {
    Raised e = raised([&] { call(d, "GetURL", {url}); });
    EXPECT_THAT(e.description, HasSubstr(says)) << e.description;
  }
  EXPECT_EQ(CLng(get(d, "NumPages")), 1) << "a failed fetch changes nothing";
}

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
  EXPECT_EQ(countOf(json, "/Highlight"), 2);
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
