// Form fields made, changed and removed through the JavaScript object, read
// back from the saved file; form data exported and imported, read back from
// the fields and from the files exported.
#include "support/PdfRead.h"

namespace pm::test {

class Fields : public JsTest {
 protected:
  ObjectRef add(const std::string& name, const std::string& type, int page = 0,
                Variant rect = V({72.0, 700.0, 272.0, 680.0})) {
    return objectOf(call(js, "addField", {name, type, page, rect}));
  }
};

TEST_F(Fields, TextFieldPropertiesAreStoredInTheFile) {
  // Each property as set and as a fresh document reads it back from the
  // saved file (Empty: not read back).
  const std::tuple<const char*, Variant, Variant> props[] = {
      {"value", "Ada Lovelace", "Ada Lovelace"},
      {"readonly", true, true},
      {"required", true, Variant()},
      {"multiline", true, true},
      {"doNotScroll", true, Variant()},
      {"doNotSpellCheck", true, Variant()},
      {"charLimit", 40, 40},
      {"alignment", "center", "center"},
      {"textFont", "Courier-Bold", "Courier-Bold"},
      {"textSize", 14, 14},
      {"textColor", V({"RGB", 1, 0, 0}), V({"RGB", 1.0, 0.0, 0.0})},
      {"fillColor", V({"G", 0.5}), V({"G", 0.5})},
      {"strokeColor", V({"CMYK", 0, 0, 0, 1}), Variant()},
      {"borderStyle", "dashed", "dashed"},
      {"lineWidth", 2, 2},
      {"display", 2, 2},
      {"userName", "Your name", "Your name"},
      {"defaultValue", "Nobody", "Nobody"},
      {"rect", V({100, 500, 300, 480}), V({100.0, 500.0, 300.0, 480.0})},
  };
  ObjectRef f = add("name", "text");
  for (const auto& [prop, value, back] : props) let(f, prop, value);
  std::string out = save();
  // No print flag (F) for display 2.
  EXPECT_EQ(fieldEntries(out, "name", {"V", "Ff", "MaxLen", "Q", "DA", "MK/BG", "MK/BC", "BS/S", "BS/W", "F", "TU"}),
            "V=(Ada Lovelace) Ff=" + std::to_string(1 | 2 | (1 << 12) | (1 << 22) | (1 << 23)) +
                " MaxLen=40 Q=1 DA=(/CourierBold 14 Tf 1 0 0 rg) MK/BG=[.5] MK/BC=[0 0 0 1] BS/S=/D BS/W=2 F=0 "
                "TU=(Your name)");
  EXPECT_EQ(fieldEntries(out, "name", {"DV", "Rect"}), "DV=(Nobody) Rect=[100 480 300 500]");
  EXPECT_EQ(at(out, "Root/AcroForm/DR/Font/CourierBold/BaseFont"), "/Courier-Bold");
  EXPECT_EQ(at(out, "Root/AcroForm/NeedAppearances"), "") << "drawn here, not left to viewers";
  EXPECT_THAT(fieldEntry(out, "name", "AP/N/Resources/Font"), HasSubstr("CourierBold"));

  // The saved file answers the same through a fresh document.
  ObjectRef js2 = objectOf(call(openPDDoc(out), "GetJSObject"));
  ObjectRef g = objectOf(call(js2, "getField", {"name"}));
  for (const auto& [prop, value, back] : props) {
    Variant got = get(g, prop);
    EXPECT_TRUE(back.isEmpty() || (back.isArray() ? got == back : CStr(got) == CStr(back))) << prop;
  }
  EXPECT_EQ(propsOf(g, {"password", "page", "name"}), "password=False page=0 name=name");
}

TEST_F(Fields, ListAndComboItems) {
  ObjectRef c = add("colour", "combobox");
  call(c, "setItems", {V({"Red", V({"Green", "g"}), "Blue"})});
  call(c, "insertItemAt", {"Black", "k", 0});
  call(c, "insertItemAt", {"White", "w", -1});
  EXPECT_EQ(CLng(get(c, "numItems")), 5);
  EXPECT_EQ(CStr(call(c, "getItemAt", {2, false})), "Green");
  EXPECT_EQ(CStr(call(c, "getItemAt", {2})), "g");
  call(c, "deleteItemAt", {3});  // Blue
  let(c, "currentValueIndices", 1);
  EXPECT_EQ(CStr(get(c, "value")), "Red");
  let(c, "editable", true);
  std::string out = save();
  EXPECT_EQ(fieldEntries(out, "colour", {"Opt", "V", "Ff"}),
            "Opt=[[(k)(Black)](Red)[(g)(Green)][(w)(White)]] V=(Red) Ff=" + std::to_string((1 << 17) | (1 << 18)));
  EXPECT_RAISES("Item 9 does not exist", call(c, "getItemAt", {9}));

  ObjectRef l = add("sizes", "listbox");
  call(l, "setItems", {V({"S", "M", "L"})});
  let(l, "multipleSelection", true);
  let(l, "value", V({"S", "L"}));
  EXPECT_EQ(get(l, "currentValueIndices"), V({int32_t(0), int32_t(2)}));
  call(l, "clearItems");
  EXPECT_EQ(CLng(get(l, "numItems")), 0);
  out = save("out2.pdf");
  EXPECT_EQ(fieldEntries(out, "sizes", {"Opt", "V"}), "Opt=[] V=");
}

TEST_F(Fields, ButtonsCaptionsAndActions) {
  ObjectRef b = add("go", "button");
  call(b, "buttonSetCaption", {"Go"});
  call(b, "buttonSetCaption", {"Going", 1});
  call(b, "buttonSetCaption", {"Go!", 2});
  EXPECT_EQ(CStr(call(b, "buttonGetCaption")), "Go");
  EXPECT_EQ(CStr(call(b, "buttonGetCaption", {2})), "Go!");
  EXPECT_NE(raised([&] { call(b, "buttonGetCaption", {3}); }).number, 0);
  let(b, "highlight", 2);
  let(b, "buttonAlignX", 20);
  let(b, "buttonPosition", 1);
  call(b, "setAction", {"MouseUp", "app.alert('hi');"});
  ObjectRef t = add("total", "text");
  call(t, "setAction", {"Calculate", "event.value = 1 + 1;"});
  call(t, "setAction", {"Format", "event.value = 'x';"});
  call(t, "setAction", {"Format", ""});
  EXPECT_RAISES("Unknown field trigger", call(t, "setAction", {"Sometimes", "x"}));
  ObjectRef sum = add("sum", "text");
  call(sum, "setAction", {"Calculate", "event.value = 3;"});
  let(sum, "calcOrderIndex", 0);
  EXPECT_EQ(CLng(get(sum, "calcOrderIndex")), 0);
  EXPECT_EQ(CLng(get(t, "calcOrderIndex")), 1);
  let(b, "calcOrderIndex", 0);
  EXPECT_EQ(CLng(get(b, "calcOrderIndex")), -1) << "a field without a calculation is not ordered";
  std::string out = save();
  EXPECT_EQ(fieldEntries(out, "go", {"MK/CA", "MK/RC", "MK/AC", "H", "MK/IF/A", "MK/TP", "AA/U/JS"}),
            "MK/CA=(Go) MK/RC=(Going) MK/AC=(Go!) H=/P MK/IF/A=[.2 .5] MK/TP=1 AA/U/JS=(app.alert\\('hi'\\);)");
  EXPECT_EQ(fieldEntry(out, "total", "AA/C/S"), "/JavaScript");
  EXPECT_EQ(fieldEntry(out, "total", "AA/F"), "") << "an empty script removes the action";
  EXPECT_NE(at(out, "Root/AcroForm/CO/0"), "");
}

TEST_F(Fields, SignatureFields) {
  ObjectRef s = add("sig", "signature");
  ObjectRef info = objectOf(get(s, "signatureInfo"));
  EXPECT_EQ(CLng(get(info, "status")), 0);
  EXPECT_RAISES("security handler", call(s, "signatureSign", {Variant()}));
  ObjectRef handler = objectOf(call(objectOf(get(js, "security")), "getHandler", {"Adobe.PPKLite"}));
  EXPECT_RAISES("Log in", call(s, "signatureSign", {Variant(handler)}));
  EXPECT_RAISES("not a signature field", get(add("plain", "text"), "signatureInfo"));
}

TEST_F(Fields, HierarchyRemovalAndReset) {
  add("address.street", "text");
  add("address.city", "text");
  add("zip", "text");
  ObjectRef city = objectOf(call(js, "getField", {"address.city"}));
  let(city, "value", "Paris");
  let(city, "defaultValue", "Lyon");
  ObjectRef zip = objectOf(call(js, "getField", {"zip"}));
  let(zip, "value", "75001");
  ObjectRef parent = objectOf(call(js, "getField", {"address"}));
  Variant kids = call(parent, "getArray");
  ASSERT_EQ(kids.array().size(), 2u);
  EXPECT_EQ(CStr(get(objectOf(kids.array().data()[1]), "name")), "address.city");
  EXPECT_TRUE(call(js, "getField", {"nothing"}).isNull());

  call(js, "resetForm", {V({"address"})});
  EXPECT_EQ(CStr(get(city, "value")), "Lyon");
  EXPECT_EQ(CStr(get(zip, "value")), "75001");

  call(js, "removeField", {"address.street"});
  EXPECT_RAISES("does not exist", call(js, "removeField", {"address.street"}));
  std::string out = save();
  EXPECT_EQ(fieldNames(out), (std::vector<std::string>{"address.city", "zip"}));
  // Every field reset (no names): PdfForm.FieldSetsReadOnlyRequiredAndReset.
  EXPECT_EQ(fieldEntry(out, "address.city", "V") + fieldEntry(out, "zip", "V"), "(Lyon)(75001)");
  EXPECT_EQ(at(out, "Root/Pages/Kids/0/Annots/2"), "") << "the removed widget left its page";
}

TEST_F(Fields, BadRequestsAreClearErrors) {
  EXPECT_RAISES("Unknown field type", add("x", "slider"));
  EXPECT_RAISES("Page 7 does not exist", add("x", "text", 7));
  EXPECT_RAISES("four numbers", add("x", "text", 0, V({1, 2})));
  add("x", "text");
  EXPECT_RAISES("already exists as a text field", add("x", "checkbox"));
  EXPECT_RAISES("cannot hold other fields", add("x.y", "text"));
  EXPECT_RAISES("does not exist", call(js, "getNthFieldName", {5}));
  ObjectRef x = objectOf(call(js, "getField", {"x"}));
  EXPECT_RAISES("does not apply", call(x, "setItems", {V({"a"})}));
  call(js, "removeField", {"x"});
  EXPECT_RAISES("does not exist", get(x, "value"));
}

TEST_F(Fields, AFieldOutlivesASaveOntoItsOwnFile) {
  ObjectRef f = add("kept", "text");
  let(f, "value", "before");
  call(pd, "Save", {1, path});
  let(f, "value", "after");
  call(pd, "Save", {0, path});
  EXPECT_EQ(fieldEntry(path, "kept", "V"), "(after)");
}

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
  // Text, check box and password fields: OverServer.FormDataRoundTripsWithNonAsciiValues.
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
  // Imported back: OverServer.FormDataRoundTripsWithNonAsciiValues.
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
