// The document's JavaScript object: information, paths, boxes and words;
// and the Document of the component over the real PDF server, what the
// client sees end to end, checked against what the file holds.
#include <filesystem>

#include "support/OfficeDocs.h"
#include "support/PdfRead.h"

namespace pm::test {

class JSObject : public JsTest {
 protected:
  std::vector<double> box(const char* name, int page) {
    std::vector<double> out;
    Variant box = call(js, "getPageBox", {name, page});
    for (const Variant& v : box.array().data()) out.push_back(CDbl(v));
    return out;
  }
};

TEST_F(JSObject, DocumentPropertiesAndColours) {
  // Names match without regard to case.
  EXPECT_EQ(propsOf(js, {"numPages", "NumPages", "Title", "author", "Subject", "DocumentFilename", "NumFields",
                         "NumTemplates", "Dirty", "layout", "calculate", "pageNum", "DynamicXFAForm"}),
            "numPages=3 NumPages=3 Title=Standard fixture author=Pressmark tests Subject= DocumentFilename=doc.pdf "
            "NumFields=0 NumTemplates=0 Dirty=False layout=SinglePage calculate=True pageNum=0 DynamicXFAForm=False");
  EXPECT_EQ(propsOf(js, {"Path", "FileSize", "URL"}),
            "Path=" + path + " FileSize=" + std::to_string(std::filesystem::file_size(path)) + " URL=file://" + path);
  // Name trees and the security handler answer Null when empty.
  for (const char* name : {"SecurityHandler", "DataObjects", "Templates", "Icons", "Sounds"})
    EXPECT_TRUE(get(js, name).isNull()) << name;
  EXPECT_EQ(raised([&] { get(js, "noSuchProperty"); }).number, basic::MemberNotSupported);
  ObjectRef color = objectOf(get(js, "Color"));
  EXPECT_EQ(get(color, "red"), V({"RGB", int16_t(1), int16_t(0), int16_t(0)}));
  EXPECT_EQ(get(color, "Black"), V({"G", int16_t(0)}));
  EXPECT_EQ(get(color, "white"), V({"G", int16_t(1)}));
  EXPECT_THROW(get(color, "mauve"), AutomationError);
}

TEST_F(JSObject, SettingInfoMarksDirtyAndSavesThroughThePDDoc) {
  let(js, "Title", "Changed title");
  let(js, "Subject", "Σ subject");
  EXPECT_TRUE(CBool(get(js, "dirty")));
  EXPECT_EQ(CStr(call(pd, "GetInfo", {"Title"})), "Changed title");
  EXPECT_TRUE(get(js, "ModDate").isNull()) << "the fixture has no modification date";
  call(pd, "SetInfo", {"CreationDate", "D:20240229133005+01'00'"});
  Variant d = get(js, "CreationDate");
  ASSERT_EQ(d.type(), VT::Date);
  EXPECT_EQ(d.asDate(), MakeDate(2024, 2, 29, 13, 30, 5));
  call(pd, "Save", {1, path});
  EXPECT_EQ(readBack(path).title, "Changed title");
  EXPECT_FALSE(CBool(get(js, "dirty")));
}

TEST_F(JSObject, PageBoxesAreInDefaultUserSpace) {
  EXPECT_EQ(box("Media", 2), (std::vector<double>{0, 792, 612, 0}));
  EXPECT_EQ(box("Crop", 2), (std::vector<double>{36, 792 - 36, 612 - 36, 36}));
  EXPECT_EQ(box("Trim", 2), box("Crop", 2)) << "a missing trim box is the crop box";
  EXPECT_THROW(call(js, "getPageBox", {"Nonsense", 0}), AutomationError);
  EXPECT_THROW(call(js, "getPageBox", {"Crop", 3}), AutomationError);
}

TEST_F(JSObject, WordsAndQuads) {
  EXPECT_EQ(CLng(call(js, "getPageNumWords", {0})), 8);
  EXPECT_EQ(CStr(call(js, "getPageNthWord", {0, 1})), "world") << "stripped of its comma";
  EXPECT_EQ(CStr(call(js, "getPageNthWord", {0, 1, false})), "world, ");
  EXPECT_EQ(CStr(call(js, "getPageNthWord", {0, 3, false})), "page.\r\n") << "the last word of a line";
  EXPECT_EQ(CStr(call(js, "getPageNthWord", {0, 7})), "日本語");
  EXPECT_THROW(call(js, "getPageNthWord", {0, 8}), AutomationError);
  auto quad = [&](int word) { return call(js, "getPageNthWordQuads", {0, word}).array().at({0}).array(); };
  ASSERT_EQ(quad(0).size(), 8u);
  // The first line's baseline is 72 points below the top of the page;
  // quads are in default user space, whose origin is the bottom left.
  double left = CDbl(quad(0).at({0})), top = CDbl(quad(0).at({1})), bottom = CDbl(quad(0).at({5}));
  EXPECT_NEAR(left, 72, 1);
  EXPECT_GT(top, 720);
  EXPECT_LT(bottom, 720);
  EXPECT_GT(bottom, 710);
  // Words on one line share the top of their first quad; the next line is
  // lower.
  EXPECT_EQ(CDbl(quad(1).at({1})), top);
  EXPECT_LT(CDbl(quad(4).at({1})), top);
}

// Rotations set and read back from the file: PagesOverServer.FlatteningRotationLabelsAndTabOrder.
TEST_F(JSObject, RotationsLayoutAndSettings) {
  EXPECT_THROW(call(js, "setPageRotations", {0, 0, 45}), AutomationError);
  let(js, "Layout", "TwoColumnLeft");
  EXPECT_EQ(CStr(get(js, "layout")), "TwoColumnLeft");
  EXPECT_THROW(let(js, "layout", "Sideways"), AutomationError);
  let(js, "calculate", false);
  EXPECT_FALSE(CBool(get(js, "Calculate")));
  let(js, "BaseURL", "https://example.org/");
  EXPECT_EQ(CStr(get(js, "baseURL")), "https://example.org/");
  let(js, "pageNum", 2);
  EXPECT_EQ(CLng(get(js, "pageNum")), 2);
  let(js, "pageNum", 99);
  EXPECT_EQ(CLng(get(js, "pageNum")), 2) << "a page outside the document is ignored";
}

TEST_F(JSObject, NewDeletedPagesAndCloseDoc) {
  call(js, "newPage", {3, 200.0, 100.0});
  EXPECT_EQ(CLng(get(js, "numPages")), 4);
  EXPECT_EQ(CLng(get(objectOf(call(objectOf(call(pd, "AcquirePage", {3})), "GetSize")), "x")), 200);
  // A range deleted: PagesOverServer.DeleteInsertReplaceMoveAndNewPages.
  EXPECT_RAISES("every page", call(js, "deletePages", {0, 3}));
  // Closing through the JavaScript object closes the document the PDDoc shares.
  EXPECT_TRUE(CBool(call(js, "CloseDoc", {true})));
  EXPECT_THROW(get(js, "numPages"), AutomationError);
  EXPECT_THROW(call(pd, "GetNumPages"), AutomationError);
}

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
  // Every type the viewer cannot write takes this one way out.
  EXPECT_RAISES("not supported", call(d, "SaveAs", {dir.file("x.rtf"), 9}));
  EXPECT_FALSE(exists(dir.file("x.rtf")));
}

TEST_F(JSObject, ProtectedCopyNeedsItsPasswordAndLeavesTheDocumentOpen) {
  const std::string out = dir.file("locked.pdf");
  call(js, "saveProtected", {out, "open", "owner", int32_t(-4 & ~4)});
  auto encryption = [&](const std::string& password) {
    return commandOutput("qpdf --show-encryption --password=" + password + " '" + out + "' 2>&1");
  };
  EXPECT_NE(encryption("wrong").find("Incorrect password"), std::string::npos);
  const std::string shown = encryption("open");
  EXPECT_NE(shown.find("R = 6"), std::string::npos) << shown;
  EXPECT_NE(shown.find("print low resolution: not allowed"), std::string::npos) << shown;
  EXPECT_NE(encryption("owner").find("Supplied password is owner password"), std::string::npos);
  EXPECT_NE(commandOutput("qpdf --show-encryption '" + path + "'").find("File is not encrypted"), std::string::npos);
  EXPECT_EQ(CLng(get(js, "numPages")), 3) << "the document goes on from its own file";
  EXPECT_RAISES("needs a user or an owner password", call(js, "saveProtected", {dir.file("open.pdf")}));
}

}  // namespace pm::test
