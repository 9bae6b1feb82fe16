// The Document of the component over the real PDF server: what the client
// sees end to end, checked against what the file holds.
#include "Common.h"
#include "component/frame/ModuleState.h"
#include "component/document/Document.h"

namespace pm::test {

class DocumentOverServer : public PdfTest {
 protected:
  ObjectRef openDocument(const std::string& p) {
    moduleState().strOpenDocumentPath = p;
    return createDocument();
  }
};

TEST_F(DocumentOverServer, PropertiesSaveAndClose) {
  ObjectRef d = openDocument(path);
  EXPECT_EQ(CLng(get(d, "NumPages")), 3);
  EXPECT_EQ(CStr(get(d, "Title")), "Standard fixture");
  EXPECT_EQ(CStr(get(d, "DocumentFilename")), "doc.pdf");
  EXPECT_EQ(CStr(call(d, "AcrobatPlatform")), "UNIX");
  EXPECT_EQ(CStr(call(d, "AcrobatViewerVersion")), "10");
  let(d, "Title", "Set through Document");
  let(d, "KeyWords", "one, two");
  EXPECT_EQ(CStr(get(d, "KeyWords")), "one, two");
  EXPECT_TRUE(CBool(call(d, "SetPageView", {3})));
  EXPECT_EQ(CStr(get(d, "PageMode")), "3");
  call(d, "Save", {0});
  ReadBack r = readBack(path);
  EXPECT_EQ(r.title, "Set through Document");
  EXPECT_EQ(r.keywords, "one, two");
  EXPECT_EQ(run({"qpdf", "--check", path}), 0);
  call(d, "CloseDoc");
  EXPECT_THROW(get(d, "NumPages"), AutomationError) << "the viewer has closed the document";
}

TEST_F(DocumentOverServer, TheFirstInformationWriteOnAFileWithoutInformationSticks) {
  DocSpec bare = standardSpec();
  bare.title.clear();
  bare.author.clear();
  for (const char* prop : {"Title", "Author", "Subject", "KeyWords"}) {
    std::string p = dir.file(std::string("bare-") + prop + ".pdf");
    makePdf(p, bare);
    ObjectRef d = openDocument(p);
    EXPECT_EQ(CStr(get(d, prop)), "") << prop;
    let(d, prop, "first");
    EXPECT_EQ(CStr(get(d, prop)), "first") << prop;
    call(d, "Save", {0});
    call(d, "CloseDoc");
    ObjectRef again = openDocument(p);
    EXPECT_EQ(CStr(get(again, prop)), "first") << prop << " after saving";
    call(again, "CloseDoc");
  }
}

TEST_F(DocumentOverServer, ReleaseDiscardsUnsavedChanges) {
  std::string before = readFile(path);
  {
    ObjectRef d = openDocument(path);
    let(d, "Title", "Never saved");
  }
  EXPECT_EQ(readFile(path), before);
}

TEST_F(DocumentOverServer, SaveAsConvertsThroughTheFileTypeTable) {
  ObjectRef d = openDocument(path);
  call(d, "SaveAs", {dir.file("text.txt"), 11});
  EXPECT_NE(readFile(dir.file("text.txt")).find("Rotated page text"), std::string::npos);
  call(d, "SaveAs", {dir.file("copy.pdf")});
  EXPECT_EQ(readBack(dir.file("copy.pdf")).pages, 3);
  EXPECT_THROW(call(d, "SaveAs", {dir.file("x.rtf"), 9}), AutomationError);
  EXPECT_FALSE(exists(dir.file("x.rtf")));
}

TEST_F(DocumentOverServer, FailedOpenReportsUnsetObjects) {
  ObjectRef d = openDocument(dir.file("missing.pdf"));
  try {
    get(d, "NumPages");
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), basic::ObjectVariableNotSet);
  }
  EXPECT_NO_THROW(call(d, "CloseDoc"));
}

TEST_F(DocumentOverServer, TwoDocumentsEachSaveOntoTheirOwnFile) {
  std::string second = dir.file("second.pdf");
  makePdf(second, standardSpec());
  ObjectRef a = openDocument(path);
  ObjectRef b = openDocument(second);
  let(a, "Title", "A");
  let(b, "Title", "B");
  call(a, "Save", {1});
  call(b, "Save", {1});
  EXPECT_EQ(readBack(path).title, "A");
  EXPECT_EQ(readBack(second).title, "B");
}

}  // namespace pm::test
