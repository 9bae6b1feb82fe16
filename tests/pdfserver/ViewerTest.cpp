// The headless viewer: application, viewer documents, page views, the
// main window and the clipboard.
#include "Common.h"

namespace pm::test {

class Viewer : public PdfTest {
 protected:
  void SetUp() override {
    PdfTest::SetUp();
    app = CreateObject(acrobat::kApp);
    pd = openPDDoc(path);
  }
  void TearDown() override { call(app, "Exit"); }
  ObjectRef app, pd;
};

TEST_F(Viewer, ActiveDocumentIsTheFrontOne) {
  EXPECT_FALSE(call(app, "GetActiveDoc").asObject()) << "Nothing while no document is open";
  ObjectRef a = objectOf(call(pd, "OpenAVDoc", {"A"}));
  ObjectRef b = CreateObject(acrobat::kAVDoc);
  ASSERT_TRUE(CBool(call(b, "Open", {path, "B"})));
  EXPECT_EQ(CStr(call(objectOf(call(app, "GetActiveDoc")), "GetTitle")), "B");
  EXPECT_EQ(CLng(call(app, "GetNumAVDocs")), 2);
  call(a, "BringToFront");
  EXPECT_EQ(CStr(call(objectOf(call(app, "GetActiveDoc")), "GetTitle")), "A");
  // The viewer document and the PDDoc speak of one document.
  call(objectOf(call(a, "GetPDDoc")), "SetInfo", {"Title", "Seen by both"});
  EXPECT_EQ(CStr(call(pd, "GetInfo", {"Title"})), "Seen by both");
  EXPECT_TRUE(CBool(call(a, "Close", {true})));
  EXPECT_FALSE(CBool(call(a, "IsValid")));
  EXPECT_EQ(CLng(call(pd, "GetNumPages")), 3) << "the PDDoc keeps its document";
  ObjectRef bad = CreateObject(acrobat::kAVDoc);
  EXPECT_FALSE(CBool(call(bad, "Open", {dir.file("none.pdf"), "x"})));
  EXPECT_FALSE(CBool(call(bad, "IsValid")));
}

TEST_F(Viewer, MenuCommandsAndPrintingPagesThatDoNotExist) {
  EXPECT_THROW(call(app, "MenuItemExecute", {"NewBookmark"}), AutomationError) << "no document in the viewer";
  ObjectRef av = objectOf(call(pd, "OpenAVDoc", {"m"}));
  ObjectRef pv = objectOf(call(av, "GetAVPageView"));
  call(app, "MenuItemExecute", {"LastPage"});
  EXPECT_EQ(CLng(call(pv, "GetPageNum")), 2);
  call(app, "MenuItemExecute", {"PrevPage"});
  EXPECT_EQ(CLng(call(pv, "GetPageNum")), 1);
  EXPECT_EQ(raised([&] { call(app, "MenuItemExecute", {"NoSuchCommand"}); }).description,
            "The viewer has no menu command \"NoSuchCommand\"");
  EXPECT_EQ(raised([&] {
              call(av, "PrintPagesSilent", {1, 3, 2, false, true});
            }).description,
            "Cannot print pages 1 to 3 of a document of 3 pages (page numbers start at 0)");
  // Reading aloud needs the speech synthesizer; without it, a clear error.
  TempDir noPrograms;
  ScopedEnv noPath("PATH", noPrograms.path());
  EXPECT_RAISES("espeak-ng", call(app, "MenuItemExecute", {"ADBE:ReadAloudStart"}));
}

}  // namespace pm::test
