// The headless viewer: application, viewer documents, page views, the
// main window and the clipboard.
#include <cstdlib>

#include "Common.h"
#include "system/Clipboard.h"
#include "system/WindowTable.h"

namespace pm::test {

class Viewer : public PdfTest {
 protected:
  void SetUp() override {
    PdfTest::SetUp();
    app = CreateObject(acrobat::kApp);
  }
  void TearDown() override { call(app, "Exit"); }
  ObjectRef app;
};

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
  TempDir noPrograms;
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

}  // namespace pm::test
