// Document's scripts, actions, attachments and form data over the real PDF
// server, read back from the saved file and from the files exported; and
// against the recording server, the forwarded calls with their arguments in
// order and the spelling loop.
#include <sys/stat.h>

#include "pdfserver_js/Read.h"
#include "document_annots/Fixture.h"

namespace pm::test {

class OverServer : public PdfTest {
 protected:
  void SetUp() override {
    PdfTest::SetUp();
    moduleState().strAcrobatVersion = "7.1";
    doc = openDocument(path);
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
    let(objectOf(call(js, "addField", {"person.name", "text", 0, V({72, 700, 272, 680})})), "value", kValue);
    let(objectOf(call(js, "addField", {"person.city", "text", 0, V({72, 650, 272, 630})})), "value", kCity);
    call(objectOf(call(js, "addField", {"agree", "checkbox", 0, V({72, 500, 92, 480})})), "checkThisBox", {0});
    ObjectRef pw = objectOf(call(js, "addField", {"secret", "text", 0, V({72, 600, 272, 580})}));
    let(pw, "password", true);
    let(pw, "value", "hunter2");
  }
  // The form data, and the annotations when asked, written to the file in
  // the format its extension names.
  void exportTo(const std::string& file, bool withAnnots = false) {
    std::string ext = file.substr(file.rfind('.') + 1);
    std::vector<Arg> args = {false, true, Variant::missing()};
    if (ext == "fdf") args.push_back(false);
    if (ext == "txt") args = {true, V({"person.name", "person.city", "agree"})};
    args.push_back(file);
    if (withAnnots) args.push_back(true);
    call(doc,
         ext == "fdf"    ? "ExportAsFDF"
         : ext == "xfdf" ? "ExportAsXFDF"
                         : "ExportAsText",
         std::span<const Arg>(args));
  }
  void importFrom(const std::string& file) {
    std::string ext = file.substr(file.rfind('.') + 1);
    if (ext == "txt")
      call(doc, "ImportTextData", {file, 0});
    else
      call(doc, ext == "fdf" ? "ImportAnFDF" : "ImportAnXFDF", {file});
  }
  std::string value(const std::string& field) { return CStr(get(objectOf(call(js, "getField", {field})), "value")); }
  // Each annotation as "type@page name author: contents".
  std::vector<std::string> annotations() {
    std::vector<std::string> out;
    Variant all = call(js, "getAnnots");
    if (all.isArray())
      for (const Variant& a : all.array().data()) {
        ObjectRef o = objectOf(a);
        out.push_back(CStr(get(o, "type")) + "@" + CStr(get(o, "page")) + " " + CStr(get(o, "name")) + " " +
                      CStr(get(o, "author")) + ": " + CStr(get(o, "contents")));
      }
    return out;
  }
  void annotate(const std::vector<Variant>& props) { addAnnot(js, {props}); }

  static constexpr const char* kValue = "Zoë Ångström 日本語 \"q\" (x) \\ ü";
  static constexpr const char* kCity = "Łódź & <Kraków>";
  ObjectRef doc, js;
};

TEST_F(OverServer, ScriptsAndActionsReachTheSavedFile) {
  call(doc, "AddScript", {"init", "var greeting = \"hello\";"});
  call(doc, "AddScript", {"extra", "var y = 2;"});
  call(doc, "AddScript", {"zeta", "var z = 3;"});
  call(doc, "RemoveScript", {"extra"});
  call(doc, "SetDocumentAction", {3, "app.alert('print');"});
  call(doc, "SetPageAction", {2, 1, "app.alert('leave');"});
  call(doc, "SetPageAction", {1, 0, "app.alert('open');"});
  std::string out = saved();
  // The name tree holds the two scripts left, in name order.
  const std::pair<const char*, const char*> entries[] = {
      {"Root/Names/JavaScript/Names/0", "(init)"},
      {"Root/Names/JavaScript/Names/1/JS", "greeting"},
      {"Root/Names/JavaScript/Names/2", "(zeta)"},

      {"Root/AA/WP/S", "/JavaScript"},
      {"Root/AA/WP/JS", "(app.alert\\('print'\\);)"},
      {"Root/Pages/Kids/1/AA/C/JS", "(app.alert\\('leave'\\);)"},
      {"Root/Pages/Kids/0/AA/O/JS", "(app.alert\\('open'\\);)"},
  };
  EXPECT_EQ(at(out, "Root/Names/JavaScript/Names/4"), "");
  EXPECT_EQ(at(out, "Root/Pages/Kids/0/AA/C"), "");
  for (const auto& [where, value] : entries) EXPECT_THAT(at(out, where), HasSubstr(value)) << where;
  expectClean(out);
  EXPECT_RAISES("no script named", call(doc, "RemoveScript", {"extra"}));
}

TEST_F(OverServer, AFileAttachedIsExportedBackIdentical) {
  std::string notes = dir.file("notes.txt");
  std::string bytes("Ünïcode notes\r\nline two\0\x01\xff binary tail", 40);
  writeFile(notes, bytes);
  EXPECT_EQ(call(doc, "AttachFile", {"data", notes}), Variant(true));
  std::string back = dir.file("back.txt");
  call(doc, "ExportDataObject", {"data", back});
  EXPECT_EQ(readFile(back), bytes);
  EXPECT_EQ(CStr(get(objectOf(get(doc, "DataObjects").array().data()[0]), "name")), "data");
  EXPECT_EQ(propsOf(objectOf(call(js, "getDataObject", {"data"})), {"path", "size"}), "path=notes.txt size=40");
  EXPECT_RAISES("not supported", call(js, "exportDataObject", {"data", back, false, 2}));
  EXPECT_EQ(atEach(saved(), "Root/Names/EmbeddedFiles/Names/", {"0", "1/Type"}), "0=(data) 1/Type=/Filespec");
  call(doc, "RemoveDataObject", {"data"});
  EXPECT_TRUE(get(doc, "DataObjects").isNull());
  EXPECT_THROW(call(doc, "ExportDataObject", {"data", dir.file("gone.txt")}), AutomationError);
  EXPECT_FALSE(exists(dir.file("gone.txt")));
  EXPECT_THROW(call(doc, "DeleteSound", {"beep"}), AutomationError);
  EXPECT_THROW(call(doc, "RemoveIcon", {"pic"}), AutomationError);
  for (const char* member : {"ExportXFAData", "ImportXFAData"})
    EXPECT_THAT(raised([&] { call(doc, member, {dir.file("x.xdp")}); }).description,
                ::testing::AllOf(HasSubstr("XFA"), HasSubstr("not supported")))
        << member;
}

TEST_F(OverServer, FormDataRoundTripsWithNonAsciiValues) {
  form();
  for (const char* name : {"data.fdf", "data.xfdf", "data.txt"}) {
    SCOPED_TRACE(name);
    std::string p = dir.file(name);
    exportTo(p);
    EXPECT_THAT(readFile(p), Not(HasSubstr("hunter2"))) << "password fields stay out";
    call(js, "resetForm");
    ASSERT_EQ(value("person.name"), "");
    importFrom(p);
    EXPECT_EQ(value("person.name"), kValue);
    EXPECT_EQ(value("person.city"), kCity);
    EXPECT_EQ(value("agree"), "Yes");
  }
  // The values imported last are in the saved file.
  EXPECT_EQ(fieldEntry(saved(), "person.name", "V").rfind("<FEFF", 0), 0u) << "saved as UTF-16";
}

TEST_F(OverServer, ExportsThatCannotBeWrittenRaiseAndLeaveNothing) {
  form();
  // A folder in the file's place, and a folder that is not there.
  for (const char* ext : {".fdf", ".xfdf", ".txt"}) {
    ASSERT_EQ(mkdir(dir.file(std::string("taken") + ext).c_str(), 0700), 0);
    for (const std::string& t : {dir.file("taken"), dir.file("missing/data")})
      EXPECT_THROW(exportTo(t + ext), AutomationError) << t << ext;
  }
  for (const std::string& n : dir.names()) EXPECT_THAT(n, Not(HasSubstr(".part")));
  EXPECT_FALSE(exists(dir.file("missing")));
}

TEST_F(OverServer, AnnotationsTravelWithTheFormData) {
  form();
  annotate({"Type", "Text", "Page", 1, "Point", V({int16_t(50), int16_t(300)}), "Name", "Note1", "Author", "Zoë",
            "contents", "Prüfen ✓ <bitte> & \"danke\"", "StrokeColor", V({"RGB", 1, 0, 0})});
  annotate({"Type", "Square", "Page", 0, "Rect", V({int16_t(100), int16_t(100), int16_t(200), int16_t(150)}), "Name",
            "Box", "Author", "Ann", "contents", "boxed"});
  annotate({"Type", "Highlight", "Page", 0, "Quads", V({V({72, 720, 200, 720, 72, 700, 200, 700})}), "Name", "Mark",
            "Author", "Ann", "StrokeColor", V({"RGB", 1, 1, 0})});
  const std::vector<std::string> before = annotations();
  ASSERT_EQ(before.size(), 3u);
  for (const char* name : {"a.fdf", "a.xfdf"}) {
    SCOPED_TRACE(name);
    std::string p = dir.file(name);
    exportTo(p, true);
    Variant all = call(js, "getAnnots");
    for (const Variant& a : all.array().data()) call(objectOf(a), "destroy");
    ASSERT_TRUE(annotations().empty());
    call(js, "resetForm");
    importFrom(p);
    EXPECT_EQ(annotations(), before) << readFile(p);
    EXPECT_EQ(value("person.name"), kValue);
    // Importing again replaces the annotations of the same name.
    importFrom(p);
    EXPECT_EQ(annotations(), before);
  }
  std::vector<double> q;
  Variant quads = get(objectOf(call(js, "getAnnot", {0, "Mark"})), "quads");
  for (const Variant& v : quads.array().at({0}).array().data()) q.push_back(CDbl(v));
  EXPECT_EQ(q, (std::vector<double>{72, 720, 200, 720, 72, 700, 200, 700})) << "the highlighted area came back";
  std::string xfdf = readFile(dir.file("a.xfdf"));
  for (const char* part : {"<text page=\"1\"", "color=\"#FF0000\"", "coords=\"72,720,200,720,72,700,200,700\""})
    EXPECT_THAT(xfdf, HasSubstr(part));
  expectClean(saved());
  // Without the flag no annotation is written.
  exportTo(dir.file("b.xfdf"));
  EXPECT_THAT(readFile(dir.file("b.xfdf")), Not(HasSubstr("<annots>")));
}

using pm::recording::Recorder;
using ScriptsOrchestration = AnnotFixture;

TEST_F(ScriptsOrchestration, SubmitFormToURLTakesThirteenOrFourteenArgumentsByVersion) {
  const std::string all = "False, True, Array(\"a\"), True, True, True, True, True, True, True, True, \"pw\"";
  const std::string none = "True, False, \"\", False, False, False, False, False, False, False, False, \"\"";
  const std::vector<Variant> given = {"http://h/s", false, true, V({"a"}), true, true, true,
                                      true,         true,  true, true,     true, "pw", true};
  // Version, arguments, what the viewer's submitForm gets after the address.
  const std::tuple<const char*, std::vector<Variant>, std::string> cases[] = {
      {"7.1", {"http://h/s"}, none + ", False"},
      {"6.0", given, all + ", True"},
      {"5.0", given, all},
      {"", {"http://h/s"}, none},
      {"5.1", {"http://h/s", true, false, "a"}, none + ", False"},
  };
  ObjectRef d = open();
  for (const auto& [version, given, line] : cases) {
    moduleState().strAcrobatVersion = version;
    rec->clear();
    std::vector<Arg> args(given.begin(), given.end());
    call(d, "SubmitFormToURL", std::span<const Arg>(args));
    EXPECT_EQ(rec->transcript(), Lines{"JSO call submitForm(\"http://h/s\", " + line + ")"}) << "version " << version;
  }
}

using SpellCheck = ScriptsOrchestration;

TEST_F(SpellCheck, FailuresOfSingleWordsAndPagesArePassedOver) {
  // A second recorder shadows the fixture's for a document of its own.
  auto r2 = Recorder::create();
  recordViewerDocument(*r2);
  r2->on("JSO", "NumPages").returns(Variant(int32_t(3)));
  // The second page's words cannot be counted; on the first page the second
  // word is no text and the check of the third fails after the checker has
  // answered once.
  r2->on("JSO", "getPageNumWords").does([](auto&, std::span<const Arg> a) {
    int32_t p = CLng(a[0].get());
    if (p == 1) raise(5, "no words here");
    return Variant(int32_t(p == 0 ? 3 : 1));
  });
  r2->on("JSO", "GetPageNthWord").does([](auto&, std::span<const Arg> a) {
    int32_t p = CLng(a[0].get()), w = CLng(a[1].get());
    if (p == 0 && w == 1) return Variant(int32_t(5));
    return Variant(p == 0 ? (w == 0 ? "good" : "bad") : "worse");
  });
  r2->on("JSO", "spell").returnsObject("spell");
  int calls = 0;
  r2->on("spell", "checkWord").does([&calls](auto&, std::span<const Arg> a) {
    ++calls;
    if (CStr(a[0].get()) == "bad") raise(5, "the checker stumbled");
    if (CStr(a[0].get()) == "worse") return V({"worst"});
    return Variant::null();
  });
  ObjectRef d2 = createDocument();
  Variant r = call(d2, "SpellCheckPDF", {"|"});
  EXPECT_EQ(calls, 3);
  ASSERT_TRUE(r.isArray());
  EXPECT_EQ(r.array().data(), (std::vector<Variant>{Variant("worse|worst")}));
}

// The shell's --help and the Python docstrings show these texts.
TEST(DocumentTable, EveryMemberHasAHelpText) {
  for (const MemberSpec& m : Document::table().members()) EXPECT_FALSE(m.help.empty()) << m.name;
}

}  // namespace pm::test
