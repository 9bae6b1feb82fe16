// The document's JavaScript object: information, paths, boxes and words.
#include <sys/stat.h>

#include "Common.h"

namespace pm::test {

class JSObject : public PdfTest {
 protected:
  void SetUp() override {
    PdfTest::SetUp();
    pd = openPDDoc(path);
    js = objectOf(call(pd, "GetJSObject"));
  }
  ObjectRef pd, js;
};

TEST_F(JSObject, DocumentProperties) {
  EXPECT_EQ(CLng(get(js, "numPages")), 3);
  EXPECT_EQ(CLng(get(js, "NumPages")), 3) << "names match without regard to case";
  EXPECT_EQ(CStr(get(js, "Title")), "Standard fixture");
  EXPECT_EQ(CStr(get(js, "author")), "Pressmark tests");
  EXPECT_EQ(CStr(get(js, "Subject")), "");
  EXPECT_EQ(CStr(get(js, "Path")), path);
  EXPECT_EQ(CStr(get(js, "DocumentFilename")), "doc.pdf");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(CLng(get(js, "FileSize")), static_cast<int32_t>(st.st_size));
  EXPECT_EQ(CStr(get(js, "URL")), "file://" + path);
  EXPECT_EQ(CLng(get(js, "NumFields")), 0);
  EXPECT_EQ(CLng(get(js, "NumTemplates")), 0);
  EXPECT_TRUE(get(js, "SecurityHandler").isNull());
  EXPECT_FALSE(CBool(get(js, "Dirty")));
}

TEST_F(JSObject, SettingInfoMarksDirtyAndSavesThroughThePDDoc) {
  let(js, "Title", "Changed title");
  let(js, "Subject", "Σ subject");
  EXPECT_TRUE(CBool(get(js, "dirty")));
  EXPECT_EQ(CStr(call(pd, "GetInfo", {"Title"})), "Changed title");
  call(pd, "Save", {1, path});
  ReadBack r = readBack(path);
  EXPECT_EQ(r.title, "Changed title");
  EXPECT_FALSE(CBool(get(js, "dirty")));
}

TEST_F(JSObject, DatesAreDates) {
  let(js, "Title", "x");
  call(pd, "SetInfo", {"CreationDate", "D:20240229133005+01'00'"});
  Variant d = get(js, "CreationDate");
  ASSERT_EQ(d.type(), VT::Date);
  EXPECT_EQ(d.asDate(), MakeDate(2024, 2, 29, 13, 30, 5));
  EXPECT_TRUE(get(js, "ModDate").isNull()) << "the fixture has no modification date";
}

TEST_F(JSObject, PageBoxesAreInDefaultUserSpace) {
  Variant media = call(js, "getPageBox", {"Media", 2});
  ASSERT_TRUE(media.isArray());
  EXPECT_EQ(CDbl(media.array().at({0})), 0);
  EXPECT_EQ(CDbl(media.array().at({1})), 792);
  EXPECT_EQ(CDbl(media.array().at({2})), 612);
  EXPECT_EQ(CDbl(media.array().at({3})), 0);
  Variant crop = call(js, "getPageBox", {"Crop", 2});
  EXPECT_EQ(CDbl(crop.array().at({0})), 36);
  EXPECT_EQ(CDbl(crop.array().at({1})), 792 - 36);
  Variant trim = call(js, "getPageBox", {"Trim", 2});
  EXPECT_EQ(trim, crop) << "a missing trim box is the crop box";
  EXPECT_THROW(call(js, "getPageBox", {"Nonsense", 0}), AutomationError);
  EXPECT_THROW(call(js, "getPageBox", {"Crop", 3}), AutomationError);
}

TEST_F(JSObject, WordsAndQuads) {
  EXPECT_EQ(CLng(call(js, "getPageNumWords", {0})), 8);
  EXPECT_EQ(CStr(call(js, "getPageNthWord", {0, 0})), "Hello");
  EXPECT_EQ(CStr(call(js, "getPageNthWord", {0, 1})), "world") << "stripped of its comma";
  EXPECT_EQ(CStr(call(js, "getPageNthWord", {0, 1, false})), "world, ");
  EXPECT_EQ(CStr(call(js, "getPageNthWord", {0, 3, false})), "page.\r\n") << "the last word of a line";
  EXPECT_EQ(CStr(call(js, "getPageNthWord", {0, 7})), "日本語");
  Variant quads = call(js, "getPageNthWordQuads", {0, 0});
  ASSERT_TRUE(quads.isArray());
  const Variant& q = quads.array().at({0});
  ASSERT_TRUE(q.isArray());
  ASSERT_EQ(q.array().size(), 8u);
  // The first line's baseline is 72 points below the top of the page;
  // quads are in default user space, whose origin is the bottom left.
  double left = CDbl(q.array().at({0})), top = CDbl(q.array().at({1})), bottom = CDbl(q.array().at({5}));
  EXPECT_NEAR(left, 72, 1);
  EXPECT_GT(top, 720);
  EXPECT_LT(bottom, 720);
  EXPECT_GT(bottom, 710);
  // Words on one line share the top of their first quad; the next line is
  // lower.
  Variant q1 = call(js, "getPageNthWordQuads", {0, 1});
  Variant q4 = call(js, "getPageNthWordQuads", {0, 4});
  EXPECT_EQ(CDbl(q1.array().at({0}).array().at({1})), top);
  EXPECT_LT(CDbl(q4.array().at({0}).array().at({1})), top);
  EXPECT_THROW(call(js, "getPageNthWord", {0, 8}), AutomationError);
}

TEST_F(JSObject, RotationsAreReadAndSet) {
  EXPECT_EQ(CLng(call(js, "getPageRotation", {1})), 90);
  call(js, "setPageRotations", {0, 2, 180});
  EXPECT_EQ(CLng(call(js, "getPageRotation", {0})), 180);
  EXPECT_THROW(call(js, "setPageRotations", {0, 0, 45}), AutomationError);
  call(pd, "Save", {1, path});
  EXPECT_EQ(readBack(path).rotation, (std::vector<int>{180, 180, 180}));
}

TEST_F(JSObject, LayoutAndSettings) {
  EXPECT_EQ(CStr(get(js, "layout")), "SinglePage");
  let(js, "Layout", "TwoColumnLeft");
  EXPECT_EQ(CStr(get(js, "layout")), "TwoColumnLeft");
  EXPECT_THROW(let(js, "layout", "Sideways"), AutomationError);
  EXPECT_TRUE(CBool(get(js, "calculate")));
  let(js, "calculate", false);
  EXPECT_FALSE(CBool(get(js, "Calculate")));
  let(js, "BaseURL", "https://example.org/");
  EXPECT_EQ(CStr(get(js, "baseURL")), "https://example.org/");
}

TEST_F(JSObject, PageNumIsTheViewersCurrentPage) {
  EXPECT_EQ(CLng(get(js, "pageNum")), 0);
  let(js, "pageNum", 2);
  EXPECT_EQ(CLng(get(js, "pageNum")), 2);
  let(js, "pageNum", 99);
  EXPECT_EQ(CLng(get(js, "pageNum")), 2) << "a page outside the document is ignored";
}

TEST_F(JSObject, ColourTable) {
  ObjectRef color = objectOf(get(js, "Color"));
  EXPECT_EQ(get(color, "red"), V({"RGB", int16_t(1), int16_t(0), int16_t(0)}));
  EXPECT_EQ(get(color, "Black"), V({"G", int16_t(0)}));
  EXPECT_EQ(get(color, "white"), V({"G", int16_t(1)}));
  EXPECT_THROW(get(color, "mauve"), AutomationError);
}

TEST_F(JSObject, CloseDocClosesTheSharedDocument) {
  EXPECT_TRUE(CBool(call(js, "CloseDoc", {true})));
  EXPECT_THROW(get(js, "numPages"), AutomationError);
  EXPECT_THROW(call(pd, "GetNumPages"), AutomationError);
}

TEST_F(JSObject, NewAndDeletedPages) {
  call(js, "newPage", {3, 200.0, 100.0});
  EXPECT_EQ(CLng(get(js, "numPages")), 4);
  ObjectRef s = objectOf(call(objectOf(call(pd, "AcquirePage", {3})), "GetSize"));
  EXPECT_EQ(CLng(get(s, "x")), 200);
  call(js, "deletePages", {0, 1});
  EXPECT_EQ(CLng(get(js, "numPages")), 2);
  EXPECT_THROW(call(js, "deletePages", {0, 1}), AutomationError) << "a document keeps one page";
}

TEST_F(JSObject, UnknownMemberIsNotSupported) {
  try {
    get(js, "noSuchProperty");
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), basic::MemberNotSupported);
  }
}

}  // namespace pm::test

namespace pm::test {

TEST_F(JSObject, NameTreesAnswerNullWhenEmpty) {
  EXPECT_TRUE(get(js, "DataObjects").isNull());
  EXPECT_TRUE(get(js, "Templates").isNull());
  EXPECT_TRUE(get(js, "Icons").isNull());
  EXPECT_TRUE(get(js, "Sounds").isNull());
  EXPECT_FALSE(CBool(get(js, "DynamicXFAForm")));
}

}  // namespace pm::test
