// Bookmark trees read into arrays and copied between files, really.
#include "support/PdfTest.h"
#include "Real.h"

namespace pm::test {

// A, with children A1 and A2, then B; on pages 0, 1, 2 and 2 of a file
// whose last page has a crop box inset by 36 points.
DocSpec outlined(bool withOutline = true) {
  DocSpec s;
  for (const char* text : {"first", "second", "third"}) s.pages.push_back(textPage({text}));
  s.pages[2].cropInset = 36;
  if (withOutline) s.outline = {{"A", 0, {{"A1", 1, {}}, {"A2", 2, {}}}}, {"B", 2, {}}};
  return s;
}

int level(const ObjectRef& pdf) {
  return static_cast<CreatePDF&>(*pdf).intBookmarkLevel;
}

std::vector<std::string> rowsOf(const Variant& a) {
  std::vector<std::string> out;
  const Array& arr = a.array();
  for (int32_t r = 0; r <= arr.ubound(1); ++r) {
    std::string line;
    for (int32_t c = 0; c <= arr.ubound(2); ++c) line += (c ? "|" : "") + CStr(arr.at({r, c}));
    out.push_back(line);
  }
  return out;
}

TEST_F(RealViewer, ToArrayGivesTitleLevelPageAndPositionInPreOrder) {
  std::string path = make("tree.pdf", outlined());
  const std::string before = readFile(path);
  Variant rows;
  EXPECT_EQ(call(pdf_, "BookmarksToArray", {path, ByRef(rows)}), Variant(int32_t(4)));
  // Fit destinations show the page from its top left corner.
  EXPECT_EQ(rowsOf(rows), (std::vector<std::string>{"A|1|0|0|792", "A1|2|1|0|792", "A2|2|2|36|756", "B|1|2|36|756"}));
  EXPECT_EQ(readFile(path), before) << "reading the tree leaves the file as it was";
  EXPECT_EQ(level(pdf_), 0);

  moduleState().strAcrobatVersion = "6.0";
  EXPECT_EQ(call(pdf_, "BookmarksToArray", {path, ByRef(rows)}), Variant(int32_t(4)));
  EXPECT_EQ(rowsOf(rows), (std::vector<std::string>{"A|1|0", "A1|2|1", "A2|2|2", "B|1|2"}));
}

TEST_F(RealViewer, ADamagedOutlineThatLoopsStillEnds) {
  DocSpec s = standardSpec();
  s.loopOutline = true;
  std::string path = make("loop.pdf", s);
  Variant rows;
  int32_t n = CLng(call(pdf_, "BookmarksToArray", {path, ByRef(rows)}));
  EXPECT_GT(n, 0);
  EXPECT_EQ(rows.array().ubound(1), n - 1);
  EXPECT_EQ(level(pdf_), 0);
}

TEST_F(RealViewer, ToPDFAppendsTheTreeAfterTheTargetsOwnWithScriptsToTheSamePlace) {
  std::string source = make("source.pdf", outlined());
  DocSpec t = outlined();
  t.outline = {{"Own", 1, {}}};
  std::string target = make("target.pdf", t);
  EXPECT_EQ(call(pdf_, "BookmarksToPDF", {source, target}), Variant(int32_t(4)));

  ReadBack r = readBack(target);
  ASSERT_TRUE(r.ok);
  std::vector<std::string> titles;
  flatten(r.outline, 0, titles);
  // The copies lead by script, not by destination: no page of their own.
  EXPECT_EQ(titles, (std::vector<std::string>{"Own@1", "A@-1", "  A1@-1", "  A2@-1", "B@-1"}));
  EXPECT_EQ(outlineEntry(target, {"A", "A2"}, "A"), "<</S/JavaScript/JS(this.pageNum = 2;this.scroll\\(36,756\\);)>>");
  EXPECT_EQ(outlineEntry(target, {"B"}, "A"), "<</S/JavaScript/JS(this.pageNum = 2;this.scroll\\(36,756\\);)>>");

  // The copied bookmarks lead where the originals did.
  Variant rows;
  EXPECT_EQ(call(pdf_, "BookmarksToArray", {target, ByRef(rows)}), Variant(int32_t(5)));
  EXPECT_EQ(rowsOf(rows), (std::vector<std::string>{"Own|1|1|0|792", "A|1|0|0|792", "A1|2|1|0|792", "A2|2|2|36|756",
                                                    "B|1|2|36|756"}));
  EXPECT_EQ(level(pdf_), 0);
}

TEST_F(RealViewer, ToPDFBeforeVersionSevenGoesToThePageOnly) {
  moduleState().strAcrobatVersion = "6.0";
  std::string source = make("source.pdf", outlined());
  std::string target = make("target.pdf", outlined(false));
  EXPECT_EQ(call(pdf_, "BookmarksToPDF", {source, target}), Variant(int32_t(4)));
  EXPECT_EQ(outlineEntry(target, {"A", "A1"}, "A"), "<</S/JavaScript/JS(this.pageNum = 1)>>");
}

TEST_F(RealViewer, ToPDFIntoATargetThatDoesNotOpenLeavesItByteForByte) {
  std::string source = make("source.pdf", outlined());
  DocSpec locked = outlined(false);
  locked.userPassword = "secret";
  std::string protectedTarget = make("locked.pdf", locked);
  std::string textTarget = dir_.file("notes.pdf");
  writeFile(textTarget, "plain text, no PDF");
  for (const std::string& target : {protectedTarget, textTarget}) {
    const std::string before = readFile(target);
    EXPECT_EQ(call(pdf_, "BookmarksToPDF", {source, target}), Variant(int32_t(-1))) << target;
    EXPECT_EQ(readFile(target), before) << target;
    EXPECT_EQ(level(pdf_), 0);
  }
}

TEST_F(RealViewer, AViewerDocumentWhoseOpenFailedShowsNoDocument) {
  std::string good = make("good.pdf", outlined());
  std::string bad = dir_.file("bad.pdf");
  writeFile(bad, "no PDF");
  ObjectRef av = CreateObject(acrobat::kAVDoc);
  ASSERT_TRUE(CBool(call(av, "Open", {good, "t"})));
  EXPECT_FALSE(CBool(call(av, "Open", {bad, "t"})));
  EXPECT_FALSE(CBool(call(av, "IsValid")));
  EXPECT_THROW(call(av, "GetAVPageView"), AutomationError);
  EXPECT_THROW(call(av, "GetPDDoc"), AutomationError);
}

TEST_F(RealViewer, ASourceWithoutBookmarksSavesTheTargetWithPageModeOneAndOneThatDoesNotOpenLeavesIt) {
  std::string source = make("source.pdf", outlined(false)), target = make("target.pdf", outlined(false));
  Variant rows("as before");
  EXPECT_EQ(call(pdf_, "BookmarksToArray", {source, ByRef(rows)}), Variant(int32_t(0)));
  EXPECT_EQ(rows, Variant("as before"));
  EXPECT_EQ(call(pdf_, "BookmarksToPDF", {source, target}), Variant(int32_t(0)));
  ObjectRef d = CreateObject(acrobat::kPDDoc);
  ASSERT_TRUE(CBool(call(d, "Open", {target})));
  EXPECT_EQ(CLng(call(d, "GetPageMode")), acrobat::kPageModeUseNone);
  EXPECT_TRUE(readBack(target).outline.empty());
  d = ObjectRef();
  const std::string before = readFile(target);
  writeFile(source, "no PDF");
  EXPECT_EQ(call(pdf_, "BookmarksToPDF", {source, target}), Variant(int32_t(0)));
  EXPECT_EQ(readFile(target), before);
  EXPECT_EQ(call(pdf_, "BookmarksToArray", {source, ByRef(rows)}), Variant(int32_t(0)));
  EXPECT_EQ(rows, Variant("as before"));
}

}  // namespace pm::test
