// Pages, labels, thumbnails, links and flattening through the JavaScript
// object, read back from the saved file.
#include "pdfserver_js/Read.h"

namespace pm::test {

using Pages = JsTest;

TEST_F(Pages, ThumbnailsAndWebLinks) {
  call(js, "addThumbnails");
  std::string out = save();
  for (int p = 0; p < 3; ++p) EXPECT_NE(at(out, "Root/Pages/Kids/" + std::to_string(p) + "/Thumb/Subtype"), "") << p;
  EXPECT_EQ(at(out, "Root/Pages/Kids/0/Thumb/Subtype"), "/Image");
  call(js, "removeThumbnails", {0, 1});
  out = save("out2.pdf");
  EXPECT_EQ(at(out, "Root/Pages/Kids/0/Thumb"), "");
  EXPECT_NE(at(out, "Root/Pages/Kids/2/Thumb"), "");

  DocSpec s;
  PageSpec p;
  p.lines = {"Visit https://example.org/ or www.example.com today"};
  s.pages = {p};
  std::string linked = dir.file("links.pdf");
  makePdf(linked, s);
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
  EXPECT_THAT(text, HoldsAll({"Flat text", "Typed in"}));
  EXPECT_EQ(fieldNames(out), std::vector<std::string>{"kept"});
  expectClean(out);
}

}  // namespace pm::test
