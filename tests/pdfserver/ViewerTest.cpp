// The headless viewer: application, viewer documents, page views, the
// main window and the clipboard.
#include <cstdlib>

#include "Common.h"
#include "system/Clipboard.h"
#include "system/WindowTable.h"

namespace pdftest {

class Viewer : public PdfTest {
 protected:
  void SetUp() override {
    PdfTest::SetUp();
    app = CreateObject(acrobat::kApp);
  }
  void TearDown() override { call(app, "Exit"); }
  ObjectRef app;
};

TEST_F(Viewer, MainWindowExistsWhileTheViewerRuns) {
  windows::Handle w = windows::find(acrobat::kMainWindowClass, "");
  ASSERT_NE(w, 0u);
  EXPECT_FALSE(windows::visible(w));
  call(app, "Show");
  EXPECT_TRUE(windows::visible(w));
  EXPECT_EQ(windows::find("", "adobe acrobat professional"), w) << "titles compare without regard to case";
  call(app, "Exit");
  EXPECT_EQ(windows::find(acrobat::kMainWindowClass, ""), 0u);
}

TEST_F(Viewer, CloseMessageEndsTheViewer) {
  ObjectRef av = CreateObject(acrobat::kAVDoc);
  ASSERT_TRUE(CBool(call(av, "Open", {path, "Temp title"})));
  EXPECT_TRUE(CBool(call(av, "IsValid")));
  windows::Handle w = windows::find(acrobat::kMainWindowClass, "");
  windows::send(w, windows::kMsgClose);
  EXPECT_FALSE(windows::exists(w));
  EXPECT_FALSE(CBool(call(av, "IsValid")));
  EXPECT_TRUE(call(app, "GetActiveDoc").isObject());
  EXPECT_FALSE(call(app, "GetActiveDoc").asObject());
}

TEST_F(Viewer, ActiveDocumentIsTheFrontOne) {
  EXPECT_FALSE(call(app, "GetActiveDoc").asObject()) << "Nothing while no document is open";
  ObjectRef pd = openPDDoc(path);
  ObjectRef a = objectOf(call(pd, "OpenAVDoc", {"A"}));
  ObjectRef b = CreateObject(acrobat::kAVDoc);
  ASSERT_TRUE(CBool(call(b, "Open", {path, "B"})));
  EXPECT_EQ(CStr(call(objectOf(call(app, "GetActiveDoc")), "GetTitle")), "B");
  EXPECT_EQ(CLng(call(app, "GetNumAVDocs")), 2);
  call(a, "BringToFront");
  EXPECT_EQ(CStr(call(objectOf(call(app, "GetActiveDoc")), "GetTitle")), "A");
  // The viewer document and the PDDoc speak of one document.
  ObjectRef pd2 = objectOf(call(a, "GetPDDoc"));
  call(pd2, "SetInfo", {"Title", "Seen by both"});
  EXPECT_EQ(CStr(call(pd, "GetInfo", {"Title"})), "Seen by both");
  EXPECT_TRUE(CBool(call(a, "Close", {true})));
  EXPECT_FALSE(CBool(call(a, "IsValid")));
  EXPECT_EQ(CLng(call(pd, "GetNumPages")), 3) << "the PDDoc keeps its document";
}

TEST_F(Viewer, OpenOfABadFileIsFalse) {
  ObjectRef av = CreateObject(acrobat::kAVDoc);
  EXPECT_FALSE(CBool(call(av, "Open", {dir.file("none.pdf"), "x"})));
  EXPECT_FALSE(CBool(call(av, "IsValid")));
}

TEST_F(Viewer, PageViewGoesZoomsAndGivesPages) {
  ObjectRef pd = openPDDoc(path);
  ObjectRef av = objectOf(call(pd, "OpenAVDoc", {"v"}));
  ObjectRef pv = objectOf(call(av, "GetAVPageView"));
  EXPECT_EQ(CLng(call(pv, "GetPageNum")), 0);
  EXPECT_TRUE(CBool(call(pv, "GoTo", {2})));
  EXPECT_FALSE(CBool(call(pv, "GoTo", {3})));
  EXPECT_EQ(CLng(call(pv, "GetPageNum")), 2);
  EXPECT_EQ(CLng(call(objectOf(call(pv, "GetPage")), "GetNumber")), 2);
  EXPECT_TRUE(CBool(call(pv, "ZoomTo", {0, 150})));
  EXPECT_EQ(CLng(call(pv, "GetZoom")), 150);
  EXPECT_TRUE(CBool(call(pv, "ZoomTo", {acrobat::kZoomFitWidth, 0})));
  EXPECT_EQ(CLng(call(pv, "GetZoomType")), acrobat::kZoomFitWidth);
  EXPECT_EQ(CStr(call(objectOf(call(pv, "GetDoc")), "GetFileName")), path)
      << "the page view's document is the file shown";
  ObjectRef js = objectOf(call(pd, "GetJSObject"));
  EXPECT_EQ(CLng(get(js, "pageNum")), 2) << "the JavaScript object sees the viewer's page";
}

TEST_F(Viewer, FindTextMovesToSuccessiveHits) {
  ObjectRef pd = openPDDoc(path);
  ObjectRef av = objectOf(call(pd, "OpenAVDoc", {"f"}));
  ObjectRef pv = objectOf(call(av, "GetAVPageView"));
  EXPECT_TRUE(CBool(call(av, "FindText", {"world", false, true, true})));
  EXPECT_EQ(CLng(call(pv, "GetPageNum")), 0);
  EXPECT_TRUE(CBool(call(av, "FindText", {"world", false, true, false})));
  EXPECT_EQ(CLng(call(pv, "GetPageNum")), 2) << "the next occurrence is on the third page";
  EXPECT_FALSE(CBool(call(av, "FindText", {"world", false, true, false})));
  EXPECT_TRUE(CBool(call(av, "FindText", {"ROTATED PAGE", false, false, true})));
  EXPECT_EQ(CLng(call(pv, "GetPageNum")), 1);
  EXPECT_FALSE(CBool(call(av, "FindText", {"ROTATED", true, false, true}))) << "case-sensitive";
  EXPECT_FALSE(CBool(call(av, "FindText", {"wor", false, true, true}))) << "whole words only";
  EXPECT_TRUE(CBool(call(av, "FindText", {"wor", false, false, true})));
  EXPECT_TRUE(CBool(call(av, "FindText", {"日本語", false, true, true})));
}

TEST_F(Viewer, NewBookmarkMarksTheCurrentPage) {
  ObjectRef pd = openPDDoc(path);
  ObjectRef av = objectOf(call(pd, "OpenAVDoc", {"n"}));
  ASSERT_TRUE(CBool(call(av, "FindText", {"Third", false, true, true})));
  EXPECT_TRUE(CBool(call(app, "MenuItemExecute", {"NewBookmark"})));
  ObjectRef bm = CreateObject(acrobat::kPDBookmark);
  ASSERT_TRUE(CBool(call(bm, "GetByTitle", {Variant(pd), "Untitled"})));
  call(bm, "SetTitle", {"Third page mark"});
  EXPECT_TRUE(CBool(call(pd, "Save", {0, path})));
  std::vector<std::string> t;
  flatten(fixture::readBack(path).outline, 0, t);
  EXPECT_EQ(t.back(), "Third page mark@2");
}

TEST_F(Viewer, MenuCommands) {
  EXPECT_THROW(call(app, "MenuItemExecute", {"NewBookmark"}), AutomationError) << "no document in the viewer";
  ObjectRef pd = openPDDoc(path);
  ObjectRef av = objectOf(call(pd, "OpenAVDoc", {"m"}));
  ObjectRef pv = objectOf(call(av, "GetAVPageView"));
  call(app, "MenuItemExecute", {"LastPage"});
  EXPECT_EQ(CLng(call(pv, "GetPageNum")), 2);
  call(app, "MenuItemExecute", {"PrevPage"});
  EXPECT_EQ(CLng(call(pv, "GetPageNum")), 1);
  try {
    call(app, "MenuItemExecute", {"NoSuchCommand"});
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.description(), "The viewer has no menu command \"NoSuchCommand\"");
  }
  // Reading aloud needs the speech synthesizer; without it, a clear error.
  fixture::TempDir noPrograms;
  const char* oldPath = std::getenv("PATH");
  std::string saved = oldPath ? oldPath : "";
  setenv("PATH", noPrograms.path().c_str(), 1);
  try {
    call(app, "MenuItemExecute", {"ADBE:ReadAloudStart"});
    ADD_FAILURE() << "no error";
  } catch (const AutomationError& e) {
    EXPECT_NE(e.description().find("espeak-ng"), std::string::npos) << e.description();
  }
  setenv("PATH", saved.c_str(), 1);
}

TEST_F(Viewer, PrintingPagesThatDoNotExistIsAClearError) {
  ObjectRef pd = openPDDoc(path);
  ObjectRef av = objectOf(call(pd, "OpenAVDoc", {"p"}));
  try {
    call(av, "PrintPagesSilent", {1, 3, 2, false, true});
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.description(), "Cannot print pages 1 to 3 of a document of 3 pages (page numbers start at 0)");
  }
}

TEST_F(Viewer, CopyToClipboardRendersTheRectangle) {
  ObjectRef pd = openPDDoc(path);
  ObjectRef page = objectOf(call(pd, "AcquirePage", {0}));
  ObjectRef size = objectOf(call(page, "GetSize"));
  ObjectRef rect = CreateObject(acrobat::kRect);
  int zoom = 50;
  let(rect, "Left", 0);
  let(rect, "Right", CDbl(get(size, "x")) * zoom / 100);
  let(rect, "Top", 0);
  let(rect, "bottom", CDbl(get(size, "y")) * zoom / 100);
  clipboard::clear();
  EXPECT_FALSE(clipboard::hasFormat(clipboard::kFormatBitmap));
  EXPECT_TRUE(CBool(call(page, "CopyToClipboard", {Variant(rect), 0, 0, zoom})));
  auto pic = clipboard::get();
  ASSERT_TRUE(pic.has_value());
  EXPECT_EQ(pic->width, 306);
  EXPECT_EQ(pic->height, 396);
  // Text near the top left (72 points in, 72 down at 50 %) is dark; the
  // bottom right corner is paper.
  auto at = [&](int x, int y) { return pic->rgb[(static_cast<size_t>(y) * pic->width + x) * 3]; };
  int dark = 0;
  for (int y = 28; y < 40; ++y)
    for (int x = 36; x < 120; ++x) dark += at(x, y) < 128;
  EXPECT_GT(dark, 20);
  EXPECT_EQ(at(300, 390), 255);
  std::string bmp = dir.file("thumb.bmp");
  saveBitmapFile(*pic, bmp);
  std::string bytes = fixture::readFile(bmp);
  ASSERT_GE(bytes.size(), 54u);
  EXPECT_EQ(bytes.substr(0, 2), "BM");
  EXPECT_EQ(bytes.size(), 54u + 396u * ((306u * 3 + 3) & ~3u));
  let(rect, "Right", 0);
  EXPECT_THROW(call(page, "CopyToClipboard", {Variant(rect), 0, 0, zoom}), AutomationError);
  EXPECT_THROW(let(rect, "Right", 40000), AutomationError) << "the fields are 16-bit";
}

TEST_F(Viewer, TextSelectionTakesTheWordsInsideTheRectangle) {
  ObjectRef pd = openPDDoc(path);
  ObjectRef rect = CreateObject(acrobat::kRect);
  let(rect, "Left", 0);
  let(rect, "Right", 6120);
  let(rect, "bottom", 0);
  let(rect, "Top", 7920);
  ObjectRef sel = objectOf(call(pd, "CreateTextSelect", {0, Variant(rect)}));
  int n = CLng(call(sel, "GetNumText"));
  std::string all;
  for (int i = 0; i < n; ++i) all += CStr(call(sel, "GetText", {i}));
  EXPECT_EQ(all, "Hello world, first page.\r\nSecond line here\r\n日本語\r\n");
  // Only the first line lies in the top 80 points.
  let(rect, "bottom", 712);
  let(rect, "Top", 792);
  sel = objectOf(call(pd, "CreateTextSelect", {0, Variant(rect)}));
  EXPECT_EQ(CLng(call(sel, "GetNumText")), 4);
  EXPECT_THROW(call(sel, "GetText", {4}), AutomationError);
}

}  // namespace pdftest
