// The Document of the component over the real PDF server: what the client
// sees end to end, checked against what the file holds.
#include "pdfserver_js/Read.h"

namespace pm::test {

using DocumentOverServer = PdfTest;

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
  expectClean(path);
  call(d, "CloseDoc");
  EXPECT_THROW(get(d, "NumPages"), AutomationError) << "the viewer has closed the document";
}

TEST_F(DocumentOverServer, TheFirstInformationWriteOnAFileWithoutInformationSticks) {
  DocSpec bare = standardSpec();
  bare.title.clear();
  bare.author.clear();
  for (const char* prop : {"Title", "Author", "Subject", "KeyWords"}) {
    SCOPED_TRACE(prop);
    std::string p = dir.file(std::string("bare-") + prop + ".pdf");
    makePdf(p, bare);
    ObjectRef d = openDocument(p);
    EXPECT_EQ(CStr(get(d, prop)), "");
    let(d, prop, "first");
    EXPECT_EQ(CStr(get(d, prop)), "first");
    call(d, "Save", {0});
    call(d, "CloseDoc");
    EXPECT_EQ(CStr(get(openDocument(p), prop)), "first") << "after saving";
  }
}

// Two documents save onto their own files; one released unsaved leaves its
// file as it was.
TEST_F(DocumentOverServer, EachDocumentSavesOntoItsOwnFileAndReleaseDiscards) {
  std::string second = dir.file("second.pdf"), third = dir.file("third.pdf");
  makePdf(second, standardSpec());
  makePdf(third, standardSpec());
  std::string before = readFile(third);
  ObjectRef a = openDocument(path), b = openDocument(second);
  let(openDocument(third), "Title", "Never saved");
  let(a, "Title", "A");
  let(b, "Title", "B");
  call(a, "Save", {1});
  call(b, "Save", {1});
  EXPECT_EQ(readBack(path).title, "A");
  EXPECT_EQ(readBack(second).title, "B");
  EXPECT_EQ(readFile(third), before);
}

TEST_F(DocumentOverServer, SaveAsConvertsThroughTheFileTypeTable) {
  ObjectRef d = openDocument(path);
  call(d, "SaveAs", {dir.file("text.txt"), 11});
  EXPECT_THAT(readFile(dir.file("text.txt")), HasSubstr("Rotated page text"));
  EXPECT_THROW(call(d, "SaveAs", {dir.file("x.rtf"), 9}), AutomationError);
  EXPECT_FALSE(exists(dir.file("x.rtf")));
}

}  // namespace pm::test
