// Annotations added through the JavaScript object, in the two passes of
// getProps and setProps the component uses, read back from the saved file.
#include "pdfserver_js/Read.h"

namespace pm::test {

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

TEST_F(Annots, ChangingOnePropertyOfAReadPropertyObjectChangesOnlyThat) {
  ObjectRef a = write({"Type", "Text", "contents", "x"}, {"Point", V({100, 500})});
  ObjectRef p = objectOf(call(a, "getProps"));
  let(p, "Point", V({10, 20}));
  call(a, "setProps", {Variant(p)});
  EXPECT_EQ(get(a, "rect"), V({10.0, 0.0, 30.0, 20.0}));
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
