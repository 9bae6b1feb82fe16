// Pages, labels, thumbnails, links, flattening, templates and annotations
// through the JavaScript object, read back from the saved file; annotations
// are added in the two passes of getProps and setProps the component uses.
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

  std::string linked = dir.file("links.pdf");
  makePdf(linked, textPages({{"Visit https://example.org/ or www.example.com today"}}));
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

class Templates : public JsTest {};

TEST_F(Templates, CreateListSpawnAndRemove) {
  objectOf(call(js, "addField", {"sig", "text", 2, V({72, 100, 200, 80})}));
  ObjectRef t = objectOf(call(js, "createTemplate", {"form", 2}));
  call(js, "createTemplate", {0});  // a page number alone
  EXPECT_EQ(CLng(get(js, "numTemplates")), 2);
  EXPECT_EQ(CStr(call(js, "getNthTemplate", {0})), "0");
  EXPECT_EQ(CStr(call(js, "getNthTemplate", {1})), "form");
  EXPECT_FALSE(CBool(get(t, "hidden")));
  EXPECT_RAISES("already has a template", call(js, "createTemplate", {"form", 1}));

  call(js, "spawnPageFromTemplate", {"form", 0, true, false});  // a new page after the first
  call(t, "spawn", {0, false, true});                           // drawn over the first page
  EXPECT_EQ(CLng(get(js, "numPages")), 4);
  std::string out = save();
  EXPECT_THAT(pageText(out, 1), HasSubstr("Third page"));
  EXPECT_THAT(pageText(out, 0), HasSubstr("Third page")) << "the overlay draws the template";
  EXPECT_THAT(pageText(out, 0), HasSubstr("Hello world")) << "over the page's own text";
  std::vector<std::string> names = fieldNames(out);
  EXPECT_NE(std::find(names.begin(), names.end(), "P1.form.sig"), names.end());
  EXPECT_EQ(fieldEntry(out, "sig", "Kids/1/Rect"), "[72 80 200 100]") << "the overlay shares the field";
  EXPECT_EQ(at(out, "Root/Names/Templates/Names/0"), "(0)");

  call(js, "removeTemplate", {"form"});
  EXPECT_EQ(CLng(get(js, "numTemplates")), 1);
  EXPECT_TRUE(call(js, "getTemplate", {"form"}).isNull());
  EXPECT_RAISES("no template named", call(js, "spawnPageFromTemplate", {"form"}));
}

class Annots : public JsTest {
 protected:
  ObjectRef write(const std::vector<Variant>& first, const std::vector<Variant>& second = {}) {
    return second.empty() ? addAnnot(js, {first}) : addAnnot(js, {first, second});
  }
};

TEST_F(Annots, ATextNoteWithEveryProperty) {
  write({"Type", "Text", "contents", "Look here"},
        {"State",       "Accepted",
         "Page",        1,
         "Point",       V({int16_t(50), int16_t(300)}),
         "PopupRect",   V({int16_t(0), int16_t(300), int16_t(200), int16_t(400)}),
         "Author",      "Ann",
         "Subject",     "Review",
         "NoteIcon",    "Comment",
         "StrokeColor", V({"RGB", 1, 1, 0}),
         "Name",        "Note1",
         "PopupOpen",   true,
         "Width",       1,
         "Lock",        true,
         "ReadOnly",    false,
         "opacity",     0.5});
  std::string out = save();
  EXPECT_TRUE(annots(out, 0).empty()) << "moved to its page";
  std::vector<std::string> a = annots(out, 1);
  ASSERT_EQ(a.size(), 1u);
  EXPECT_THAT(a[0], HoldsAll({"/Subtype/Text", "/Contents(Look here)", "/State(Accepted)", "/StateModel(Review)",
                              "/T(Ann)", "/Subj(Review)", "/Name/Comment", "/C[1 1 0]", "/NM(Note1)", "/CA .5",
                              "/Rect[50 280 70 300]", "/F 132"}));
  EXPECT_EQ(atEach(out, "Root/Pages/Kids/1/Annots/0/Popup/", {"Rect", "Open"}), "Rect=[0 300 200 400] Open=true");

  // Read back as the record methods read it.
  ObjectRef js2 = objectOf(call(openPDDoc(out), "GetJSObject"));
  ObjectRef n = objectOf(call(js2, "getAnnot", {1, "Note1"}));
  ObjectRef p = objectOf(call(n, "getProps"));
  EXPECT_EQ(propsOf(p, {"contents", "Page", "NoteIcon", "Lock", "ReadOnly", "PopupOpen"}),
            "contents=Look here Page=1 NoteIcon=Comment Lock=True ReadOnly=False PopupOpen=True");
  EXPECT_EQ(get(p, "Point"), V({50.0, 300.0}));
  EXPECT_EQ(get(p, "PopupRect"), V({0.0, 300.0, 200.0, 400.0}));
  EXPECT_EQ(get(p, "StrokeColor"), V({"RGB", 1.0, 1.0, 0.0}));
  EXPECT_TRUE(call(js2, "getAnnot", {1, "Nope"}).isNull());
}

TEST_F(Annots, BadRequestsAreClearErrors) {
  EXPECT_RAISES("Unknown annotation type", write({"Type", "Hologram"}));
  EXPECT_RAISES("not supported", write({"Type", "Sound"}));
  EXPECT_RAISES("Page 9 does not exist", write({"Type", "Text"}, {"Page", 9}));
  ObjectRef a = objectOf(call(js, "addAnnot"));
  EXPECT_RAISES("set its type first", let(a, "contents", "x"));
  ObjectRef t = write({"Type", "Text"});
  EXPECT_RAISES("keeps its type", let(t, "type", "Stamp"));
  EXPECT_RAISES("between 0 and 1", let(t, "opacity", 2));
  EXPECT_RAISES("colour", let(t, "strokeColor", 3));
}

}  // namespace pm::test
