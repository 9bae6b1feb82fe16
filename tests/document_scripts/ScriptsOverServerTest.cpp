// Document's scripts, actions, attachments and form data over the real PDF
// server, read back from the saved file and from the files exported.
#include <sys/stat.h>

#include <functional>

#include "pdfserver_js/Read.h"
#include "component/frame/ModuleState.h"
#include "component/document/Document.h"

namespace pm::test {

class OverServer : public PdfTest {
 protected:
  void SetUp() override {
    PdfTest::SetUp();
    moduleState().strOpenDocumentPath = path;
    moduleState().strAcrobatVersion = "7.1";
    doc = createDocument();
    js = objectOf(call(doc, "CreateJavaScriptObject"));
  }
  std::string saved() {
    std::string out = dir.file("saved.pdf");
    call(doc, "SaveAs", {out});
    return out;
  }
  // A small form: a text field below another name, a check box, a password
  // field and an empty one.
  void form() {
    ObjectRef name = objectOf(call(js, "addField", {"person.name", "text", 0, V({72, 700, 272, 680})}));
    let(name, "value", kValue);
    ObjectRef city = objectOf(call(js, "addField", {"person.city", "text", 0, V({72, 650, 272, 630})}));
    let(city, "value", "Łódź & <Kraków>");
    ObjectRef cb = objectOf(call(js, "addField", {"agree", "checkbox", 0, V({72, 500, 92, 480})}));
    call(cb, "checkThisBox", {0});
    ObjectRef pw = objectOf(call(js, "addField", {"secret", "text", 0, V({72, 600, 272, 580})}));
    let(pw, "password", true);
    let(pw, "value", "hunter2");
  }
  std::string value(const std::string& field) { return CStr(get(objectOf(call(js, "getField", {field})), "value")); }
  void clearForm() { call(js, "resetForm"); }

  static constexpr const char* kValue = "Zoë Ångström 日本語 \"q\" (x) \\ ü";
  ObjectRef doc, js;
};

TEST_F(OverServer, ScriptsAndActionsReachTheSavedFile) {
  call(doc, "AddScript", {"init", "var greeting = \"hello\";"});
  call(doc, "AddScript", {"extra", "var y = 2;"});
  call(doc, "AddScript", {"zeta", "var z = 3;"});
  call(doc, "RemoveScript", {"extra"});
  call(doc, "SetDocumentAction", {3, "app.alert('print');"});
  call(doc, "SetDocumentAction", {9, "app.alert('close');"});
  call(doc, "SetPageAction", {2, 1, "app.alert('leave');"});
  call(doc, "SetPageAction", {1, 0, "app.alert('open');"});
  std::string out = saved();
  // The name tree holds the two scripts left, in name order.
  EXPECT_EQ(at(out, "Root/Names/JavaScript/Names/0"), "(init)");
  EXPECT_NE(at(out, "Root/Names/JavaScript/Names/1/JS").find("greeting"), std::string::npos);
  EXPECT_EQ(at(out, "Root/Names/JavaScript/Names/2"), "(zeta)");
  EXPECT_EQ(at(out, "Root/Names/JavaScript/Names/4"), "");
  EXPECT_EQ(at(out, "Root/AA/WP/S"), "/JavaScript");
  EXPECT_EQ(at(out, "Root/AA/WP/JS"), "(app.alert\\('print'\\);)");
  EXPECT_EQ(at(out, "Root/AA/WC/JS"), "(app.alert\\('close'\\);)");
  EXPECT_EQ(at(out, "Root/Pages/Kids/1/AA/C/JS"), "(app.alert\\('leave'\\);)");
  EXPECT_EQ(at(out, "Root/Pages/Kids/0/AA/O/JS"), "(app.alert\\('open'\\);)");
  EXPECT_EQ(at(out, "Root/Pages/Kids/0/AA/C"), "");
  EXPECT_TRUE(qpdfClean(out));
  try {
    call(doc, "RemoveScript", {"extra"});
    ADD_FAILURE() << "removing a script that is gone";
  } catch (const AutomationError& e) {
    EXPECT_NE(e.description().find("no script named"), std::string::npos);
  }
}

TEST_F(OverServer, AFileAttachedIsExportedBackIdentical) {
  std::string notes = dir.file("notes.txt");
  std::string bytes("Ünïcode notes\r\nline two\0\x01\xff binary tail", 40);
  writeFile(notes, bytes);
  EXPECT_EQ(call(doc, "AttachFile", {"data", notes}), Variant(true));
  std::string back = dir.file("back.txt");
  call(doc, "ExportDataObject", {"data", back});
  EXPECT_EQ(readFile(back), bytes);
  std::string out = saved();
  EXPECT_EQ(at(out, "Root/Names/EmbeddedFiles/Names/0"), "(data)");
  call(doc, "RemoveDataObject", {"data"});
  EXPECT_TRUE(get(doc, "DataObjects").isNull());
  EXPECT_THROW(call(doc, "ExportDataObject", {"data", dir.file("gone.txt")}), AutomationError);
  EXPECT_FALSE(exists(dir.file("gone.txt")));
  EXPECT_THROW(call(doc, "DeleteSound", {"beep"}), AutomationError);
  EXPECT_THROW(call(doc, "RemoveIcon", {"pic"}), AutomationError);
}

TEST_F(OverServer, FormDataRoundTripsWithNonAsciiValues) {
  form();
  struct Case {
    const char* file;
    std::function<void(const std::string&)> exportTo, importFrom;
  };
  const Case cases[] = {
      {"data.fdf",
       [&](const std::string& p) {
         call(doc, "ExportAsFDF", {false, true, Variant::missing(), false, p});
       },
       [&](const std::string& p) { call(doc, "ImportAnFDF", {p}); }},
      {"data.xfdf",
       [&](const std::string& p) {
         call(doc, "ExportAsXFDF", {false, true, Variant::missing(), p});
       },
       [&](const std::string& p) { call(doc, "ImportAnXFDF", {p}); }},
      {"data.txt",
       [&](const std::string& p) {
         call(doc, "ExportAsText", {true, V({"person.name", "person.city", "agree"}), p});
       },
       [&](const std::string& p) {
         call(doc, "ImportTextData", {p, 0});
       }},
  };
  for (const Case& c : cases) {
    std::string p = dir.file(c.file);
    c.exportTo(p);
    std::string text = readFile(p);
    EXPECT_EQ(text.find("hunter2"), std::string::npos) << c.file << ": password fields stay out";
    clearForm();
    ASSERT_EQ(value("person.name"), "") << c.file;
    c.importFrom(p);
    EXPECT_EQ(value("person.name"), kValue) << c.file;
    EXPECT_EQ(value("person.city"), "Łódź & <Kraków>") << c.file;
    EXPECT_EQ(value("agree"), "Yes") << c.file;
  }
  // The values imported last are in the saved file.
  std::string out = saved();
  EXPECT_EQ(fieldEntry(out, "person.name", "V").rfind("<FEFF", 0), 0u) << "saved as UTF-16";
}

TEST_F(OverServer, ExportsThatCannotBeWrittenRaiseAndLeaveNothing) {
  form();
  ASSERT_EQ(mkdir(dir.file("taken").c_str(), 0700), 0);
  const std::string targets[] = {dir.file("taken"), dir.file("missing/data.fdf")};
  for (const std::string& t : targets) {
    for (const char* member : {"ExportAsFDF", "ExportAsXFDF", "ExportAsText"}) {
      Variant path(t);
      std::vector<Arg> args;
      if (std::string(member) == "ExportAsFDF")
        args = {false, true, Variant::missing(), false, path};
      else if (std::string(member) == "ExportAsXFDF")
        args = {false, true, Variant::missing(), path};
      else
        args = {true, Variant::missing(), path};
      EXPECT_THROW(call(doc, member, std::span<const Arg>(args)), AutomationError) << member << " " << t;
    }
  }
  std::vector<std::string> names = dir.names();
  for (const std::string& n : names) EXPECT_EQ(n.find(".part"), std::string::npos) << n;
  EXPECT_FALSE(exists(dir.file("missing")));
}

TEST_F(OverServer, AnnotationsTravelWithTheFormData) {
  form();
  auto annotate = [&](std::vector<std::pair<std::string, Variant>> props) {
    ObjectRef a = objectOf(call(js, "addAnnot"));
    ObjectRef p = objectOf(call(a, "getProps"));
    let(p, "Delay", true);
    for (auto& [k, v] : props) let(p, k, v);
    let(p, "Delay", false);
    call(a, "setProps", {Variant(p)});
  };
  auto annots = [&]() {
    std::vector<std::string> out;
    Variant all = call(js, "getAnnots");
    if (all.isArray())
      for (const Variant& a : all.array().data()) {
        ObjectRef o = objectOf(a);
        out.push_back(CStr(get(o, "type")) + "@" + CStr(get(o, "page")) + " " + CStr(get(o, "name")) + " " +
                      CStr(get(o, "author")) + ": " + CStr(get(o, "contents")));
      }
    return out;
  };
  annotate({{"Type", "Text"},
            {"Page", 1},
            {"Point", V({int16_t(50), int16_t(300)})},
            {"Name", "Note1"},
            {"Author", "Zoë"},
            {"contents", "Prüfen ✓ <bitte> & \"danke\""},
            {"StrokeColor", V({"RGB", 1, 0, 0})}});
  annotate({{"Type", "Square"},
            {"Page", 0},
            {"Rect", V({int16_t(100), int16_t(100), int16_t(200), int16_t(150)})},
            {"Name", "Box"},
            {"Author", "Ann"},
            {"contents", "boxed"}});
  annotate({{"Type", "Highlight"},
            {"Page", 0},
            {"Quads", V({V({72, 720, 200, 720, 72, 700, 200, 700})})},
            {"Name", "Mark"},
            {"Author", "Ann"},
            {"StrokeColor", V({"RGB", 1, 1, 0})}});
  const std::vector<std::string> before = annots();
  ASSERT_EQ(before.size(), 3u);
  struct Case {
    const char* file;
    std::function<void(const std::string&)> exportTo, importFrom;
  };
  const Case cases[] = {
      {"a.fdf",
       [&](const std::string& p) {
         call(doc, "ExportAsFDF", {false, true, Variant::missing(), false, p, true});
       },
       [&](const std::string& p) { call(doc, "ImportAnFDF", {p}); }},
      {"a.xfdf",
       [&](const std::string& p) {
         call(doc, "ExportAsXFDF", {false, true, Variant::missing(), p, true});
       },
       [&](const std::string& p) { call(doc, "ImportAnXFDF", {p}); }},
  };
  for (const Case& c : cases) {
    std::string p = dir.file(c.file);
    c.exportTo(p);
    Variant all = call(js, "getAnnots");
    for (const Variant& a : all.array().data()) call(objectOf(a), "destroy");
    ASSERT_TRUE(annots().empty());
    clearForm();
    c.importFrom(p);
    EXPECT_EQ(annots(), before) << c.file << "\n" << readFile(p);
    EXPECT_EQ(value("person.name"), kValue) << c.file;
    // Importing again replaces the annotations of the same name.
    c.importFrom(p);
    EXPECT_EQ(annots(), before) << c.file;
  }
  Variant quads = get(objectOf(call(js, "getAnnot", {0, "Mark"})), "quads");
  ASSERT_TRUE(quads.isArray());
  ASSERT_EQ(quads.array().size(), 1u);
  std::vector<double> q;
  for (const Variant& v : quads.array().data()[0].array().data()) q.push_back(CDbl(v));
  EXPECT_EQ(q, (std::vector<double>{72, 720, 200, 720, 72, 700, 200, 700})) << "the highlighted area came back";
  std::string xfdf = readFile(dir.file("a.xfdf"));
  EXPECT_NE(xfdf.find("<text page=\"1\""), std::string::npos) << xfdf;
  EXPECT_NE(xfdf.find("color=\"#FF0000\""), std::string::npos) << xfdf;
  EXPECT_NE(xfdf.find("coords=\"72,720,200,720,72,700,200,700\""), std::string::npos) << xfdf;
  std::string out = saved();
  EXPECT_TRUE(qpdfClean(out));
  // Without the flag no annotation is written.
  call(doc, "ExportAsXFDF", {false, true, Variant::missing(), dir.file("b.xfdf")});
  EXPECT_EQ(readFile(dir.file("b.xfdf")).find("<annots>"), std::string::npos);
}

TEST_F(OverServer, XfaDataIsAClearError) {
  for (const char* member : {"ExportXFAData", "ImportXFAData"}) {
    try {
      call(doc, member, {dir.file("x.xdp")});
      ADD_FAILURE() << member;
    } catch (const AutomationError& e) {
      EXPECT_NE(e.description().find("XFA"), std::string::npos) << member;
      EXPECT_NE(e.description().find("not supported"), std::string::npos) << member;
    }
  }
}

}  // namespace pm::test
