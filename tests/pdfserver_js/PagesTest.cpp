// Pages, labels, thumbnails, links and flattening through the JavaScript
// object, read back from the saved file.
#include "pdfserver_js/Read.h"

namespace jstest {

class Pages : public JsTest {
 protected:
  // A second document of two pages whose text names them.
  std::string other() {
    fixture::DocSpec s;
    fixture::PageSpec a, b;
    a.lines = {"Other one"};
    b.lines = {"Other two"};
    s.pages = {a, b};
    std::string p = dir.file("other.pdf");
    fixture::makePdf(p, s);
    return p;
  }
};

TEST_F(Pages, InsertReplaceExtractAndMove) {
  std::string src = other();
  call(js, "insertPages", {-1, src});                        // both, before the first page
  call(js, "insertPages", {4, src, Variant::missing(), 0});  // source page 0 at the end
  EXPECT_EQ(CLng(get(js, "numPages")), 6);
  call(js, "replacePages", {2, src, 1});  // page 2 (the old first) becomes "Other two"
  call(js, "movePage", {5, -1});          // the last page to the front
  std::string out = save();
  ASSERT_EQ(pageCount(out), 6);
  EXPECT_NE(pageText(out, 0).find("Other one"), std::string::npos);
  EXPECT_NE(pageText(out, 1).find("Other one"), std::string::npos);
  EXPECT_NE(pageText(out, 2).find("Other two"), std::string::npos);
  EXPECT_NE(pageText(out, 3).find("Other two"), std::string::npos);
  EXPECT_NE(pageText(out, 4).find("Rotated page text"), std::string::npos);
  EXPECT_NE(pageText(out, 5).find("Third page"), std::string::npos);

  std::string part = dir.file("part.pdf");
  call(js, "extractPages", {4, 5, part});
  ASSERT_EQ(pageCount(part), 2);
  EXPECT_NE(pageText(part, 1).find("Third page"), std::string::npos);
  ObjectRef mem = objectOf(call(js, "extractPages", {0}));
  EXPECT_EQ(CLng(get(mem, "numPages")), 1) << "without a path the pages come back as a new document";
  EXPECT_NE(errorOf([&] {
              call(js, "insertPages", {0, dir.file("missing.pdf")});
            }).find("does not exist"),
            std::string::npos);
  EXPECT_NE(errorOf([&] { call(js, "replacePages", {5, src}); }).find("needs pages"), std::string::npos);
  EXPECT_NE(errorOf([&] {
              call(js, "insertPages", {0, src, 0, 7});
            }).find("do not exist in the source"),
            std::string::npos);
}

TEST_F(Pages, LabelsAndTabOrder) {
  EXPECT_EQ(CStr(call(js, "getPageLabel", {2})), "3");
  call(js, "setPageLabels", {0, V({"r", "", 1})});
  call(js, "setPageLabels", {1, V({"D", "A-", 5})});
  EXPECT_EQ(CStr(call(js, "getPageLabel", {0})), "i");
  EXPECT_EQ(CStr(call(js, "getPageLabel", {2})), "A-6");
  call(js, "setPageLabels", {2, V({"A", "", 27})});
  EXPECT_EQ(CStr(call(js, "getPageLabel", {2})), "AA");
  call(js, "setPageLabels", {2});
  EXPECT_EQ(CStr(call(js, "getPageLabel", {2})), "A-6") << "without a label the earlier numbering goes on";
  call(js, "setPageTabOrder", {1, "columns"});
  EXPECT_NE(errorOf([&] { call(js, "setPageTabOrder", {1, "diagonal"}); }), "");
  EXPECT_NE(errorOf([&] {
              call(js, "setPageLabels", {0, V({"X"})});
            }).find("not a page number style"),
            std::string::npos);
  std::string out = save();
  EXPECT_EQ(at(out, "Root/PageLabels/Nums/0"), "0");
  EXPECT_EQ(at(out, "Root/PageLabels/Nums/1"), "<</Type/PageLabel/S/r>>");
  EXPECT_EQ(at(out, "Root/PageLabels/Nums/2"), "1");
  EXPECT_EQ(at(out, "Root/PageLabels/Nums/3"), "<</Type/PageLabel/S/D/P(A-)/St 5>>");
  EXPECT_EQ(at(out, "Root/PageLabels/Nums/4"), "") << "the label removed from page 2";
  EXPECT_EQ(at(out, "Root/Pages/Kids/1/Tabs"), "/C");
}

TEST_F(Pages, ThumbnailsAndWebLinks) {
  call(js, "addThumbnails");
  std::string out = save();
  for (int p = 0; p < 3; ++p) EXPECT_NE(at(out, "Root/Pages/Kids/" + std::to_string(p) + "/Thumb/Subtype"), "") << p;
  EXPECT_EQ(at(out, "Root/Pages/Kids/0/Thumb/Subtype"), "/Image");
  call(js, "removeThumbnails", {0, 1});
  out = save("out2.pdf");
  EXPECT_EQ(at(out, "Root/Pages/Kids/0/Thumb"), "");
  EXPECT_NE(at(out, "Root/Pages/Kids/2/Thumb"), "");

  fixture::DocSpec s;
  fixture::PageSpec p;
  p.lines = {"Visit https://example.org/ or www.example.com today"};
  s.pages = {p};
  std::string linked = dir.file("links.pdf");
  fixture::makePdf(linked, s);
  ObjectRef d2 = openPDDoc(linked);
  ObjectRef js2 = objectOf(call(d2, "GetJSObject"));
  EXPECT_EQ(CLng(call(js2, "addWebLinks")), 2);
  EXPECT_EQ(CLng(call(js2, "removeWebLinks", {0})), 2);
  EXPECT_EQ(CLng(call(js2, "removeWebLinks")), 0);
  call(d2, "Save", {1, linked});
  EXPECT_TRUE(annots(linked, 0).empty());
}

TEST_F(Pages, FlatteningDrawsAnnotationsIntoThePage) {
  ObjectRef a = objectOf(call(js, "addAnnot"));
  ObjectRef p = objectOf(call(a, "getProps"));
  let(p, "type", "FreeText");
  let(p, "contents", "Flat text");
  let(p, "rect", V({72, 500, 300, 540}));
  call(a, "setProps", {Variant(p)});
  ObjectRef f = objectOf(call(js, "addField", {"kept", "text", 1, V({72, 300, 200, 280})}));
  ObjectRef g = objectOf(call(js, "addField", {"gone", "text", 0, V({72, 300, 200, 280})}));
  let(g, "value", "Typed in");
  call(js, "flattenPages", {0, 0});
  EXPECT_EQ(call(js, "getAnnots", {0}).array().size(), 0u);
  EXPECT_EQ(CLng(get(js, "numFields")), 1) << "the field on the flattened page left the form";
  std::string out = save();
  EXPECT_TRUE(annots(out, 0).empty());
  std::string text = pageText(out, 0);
  EXPECT_NE(text.find("Flat text"), std::string::npos) << text;
  EXPECT_NE(text.find("Typed in"), std::string::npos) << text;
  EXPECT_EQ(fieldNames(out), std::vector<std::string>{"kept"});
  std::string report;
  EXPECT_TRUE(qpdfClean(out, &report)) << report;
}

TEST_F(Pages, GetURLRefusesOtherSchemes) {
  EXPECT_NE(errorOf([&] { call(js, "getURL", {"ftp://example.org/x"}); }).find("only http, https and file"),
            std::string::npos);
}

}  // namespace jstest
