// Form data through the JavaScript object, read back from the fields and
// from the files exported.
#include "pdfserver_js/Read.h"

namespace pm::test {

class Scripts : public JsTest {
 protected:
  void form() {
    ObjectRef name = objectOf(call(js, "addField", {"person.name", "text", 0, V({72, 700, 272, 680})}));
    let(name, "value", "Zoë (née) \"Q\"");
    ObjectRef pw = objectOf(call(js, "addField", {"secret", "text", 0, V({72, 600, 272, 580})}));
    let(pw, "password", true);
    let(pw, "value", "hunter2");
    ObjectRef cb = objectOf(call(js, "addField", {"agree", "checkbox", 0, V({72, 500, 92, 480})}));
    call(cb, "checkThisBox", {0});
    ObjectRef l = objectOf(call(js, "addField", {"sizes", "listbox", 0, V({72, 400, 172, 300})}));
    call(l, "setItems", {V({"S", "M", "L"})});
    let(l, "multipleSelection", true);
    let(l, "value", V({"S", "L"}));
    call(js, "addField", {"empty", "text", 0, V({72, 200, 272, 180})});
  }
  std::string value(const std::string& field) { return CStr(get(objectOf(call(js, "getField", {field})), "value")); }
  void clear() { call(js, "resetForm"); }
};

TEST_F(Scripts, FdfRoundTrip) {
  form();
  std::string fdf = dir.file("data.fdf");
  call(js, "exportAsFDF", {false, true, Variant::missing(), false, fdf});
  std::string text = readFile(fdf);
  EXPECT_THAT(text, HasSubstr("/T (person) /Kids")) << text;
  EXPECT_EQ(text.find("(empty)"), std::string::npos) << "fields without a value stay out";
  clear();
  call(js, "importAnFDF", {fdf});
  EXPECT_EQ(value("person.name") + "|" + value("agree") + "|" + value("secret"), "Zoë (née) \"Q\"|Yes|");
  EXPECT_EQ(get(objectOf(call(js, "getField", {"sizes"})), "value"), V({"S", "L"}));

  let(objectOf(call(js, "getField", {"secret"})), "value", "hunter2");
  std::string some = dir.file("some.fdf");
  call(js, "exportAsFDF", {true, false, V({"secret", "empty"}), true, some});
  text = readFile(some);
  EXPECT_THAT(text, HoldsAll({"hunter2", "(empty)"}));
  EXPECT_EQ(text.find("(person)"), std::string::npos);
  EXPECT_THAT(text, HasSubstr("/Ff 8192")) << text;
  EXPECT_RAISES("does not exist", call(js, "importAnFDF", {dir.file("none.fdf")}));
  // A field that contains itself is refused at once (one sharing its kids
  // with another: the fdf_fuzz corpus).
  writeFile(dir.file("loop.fdf"),
            "%FDF-1.2\n1 0 obj <</FDF <</Fields [2 0 R]>>>> endobj\n"
            "2 0 obj <</T (a) /Kids [2 0 R 2 0 R]>> endobj\ntrailer <</Root 1 0 R>>\n%%EOF\n");
  EXPECT_RAISES("lists a field twice", call(js, "importAnFDF", {dir.file("loop.fdf")}));
  writeFile(dir.file("bad.fdf"), "not fdf");
  EXPECT_RAISES("not an FDF file", call(js, "importAnFDF", {dir.file("bad.fdf")}));
  EXPECT_RAISES("needs the path", call(js, "exportAsFDF", {false, true, Variant::missing(), false, ""}));
}

TEST_F(Scripts, XfdfAndTextRoundTrips) {
  form();
  std::string xfdf = dir.file("data.xfdf");
  call(js, "exportAsXFDF", {false, true, Variant::missing(), xfdf});
  std::string text = readFile(xfdf);
  EXPECT_THAT(text, HoldsAll({"<field name=\"person\">", "<value>Zoë (née) &quot;Q&quot;</value>"}));
  clear();
  call(js, "importAnXFDF", {xfdf});
  EXPECT_EQ(value("person.name") + "|" + value("agree"), "Zoë (née) \"Q\"|Yes");
  std::string deep;
  for (int i = 0; i < 40; ++i) deep += "<field name=\"n\">";
  for (int i = 0; i < 40; ++i) deep += "</field>";
  writeFile(dir.file("deep.xfdf"), "<xfdf><fields>" + deep + "</fields></xfdf>");
  EXPECT_RAISES("levels deep", call(js, "importAnXFDF", {dir.file("deep.xfdf")}));
  writeFile(dir.file("bad.xfdf"), "<html><body/></html>");
  EXPECT_RAISES("not XFDF", call(js, "importAnXFDF", {dir.file("bad.xfdf")}));

  std::string tab = dir.file("data.txt");
  call(js, "exportAsText", {true, V({"person.name", "agree"}), tab});
  EXPECT_EQ(readFile(tab), "person.name\tagree\r\n\"Zoë (née) \"\"Q\"\"\"\tYes\r\n");
  writeFile(tab, "person.name\tagree\r\nFirst\tOff\r\nSecond\tYes\r\n");
  call(js, "importTextData", {tab, 1});
  EXPECT_EQ(value("person.name"), "Second");
  call(js, "importTextData", {tab, 0});
  EXPECT_EQ(value("agree"), "Off");
  EXPECT_RAISES("Row 2 does not exist", call(js, "importTextData", {tab, 2}));
  // The imported values are in the file.
  std::string out = save();
  EXPECT_EQ(fieldEntry(out, "person.name", "V"), "(First)");
}

}  // namespace pm::test
