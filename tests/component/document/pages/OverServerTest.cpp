// The page, template and watermark members over the real PDF server, on
// documents the tests make, read back from the saved file; and the watermark
// members against the recording server: page-number conversions, defaults
// and the order of the arguments the viewer gets.
#include "support/PdfRead.h"
#include "component/document/annots/Fixture.h"

namespace pm::test {

DocSpec pagesNamed(std::initializer_list<const char*> names) {
  std::vector<std::vector<std::string>> pages;
  for (const char* n : names) pages.push_back({std::string("Page ") + n + " text"});
  return textPages(pages);
}

class PagesOverServer : public PdfTest {
 protected:
  DocSpec layout() override { return pagesNamed({"one", "two", "three"}); }
  void SetUp() override {
    PdfTest::SetUp();
    source = dir.file("src.pdf");
    makePdf(source, pagesNamed({"alpha", "beta"}));
    d = openDocument(path);
  }
  std::string save(const std::string& name = "out.pdf") {
    std::string out = dir.file(name);
    call(d, "Save", {1, out});
    expectClean(out);
    return out;
  }
  // The first word after "Page " of every page of a file.
  static std::vector<std::string> pageNames(const std::string& file) {
    std::vector<std::string> out;
    for (const std::string& t : readBack(file).pageText) {
      size_t at = t.find("Page ");
      out.push_back(at == std::string::npos ? "(blank)" : t.substr(at + 5, t.find(' ', at + 5) - at - 5));
    }
    return out;
  }
  std::string source;
  ObjectRef d;
};

using Names = std::vector<std::string>;

TEST_F(PagesOverServer, DeleteInsertReplaceMoveAndNewPages) {
  call(d, "InsertPages", {source});           // before the first page
  call(d, "InsertPages", {source, 0, 2, 2});  // beta after the last page
  EXPECT_EQ(pageNames(save("a.pdf")), (Names{"alpha", "beta", "one", "two", "three", "beta"}));
  call(d, "DeletePages", {1, 2});
  call(d, "MovePage", {1});  // page one behind the last page
  EXPECT_EQ(pageNames(save("b.pdf")), (Names{"two", "three", "beta", "one"}));
  call(d, "ReplacePages", {source, 3, 1, 1});  // page 3 becomes alpha
  call(d, "NewPage", {2});
  EXPECT_EQ(pageNames(save("c.pdf")), (Names{"two", "three", "(blank)", "alpha", "one"}));
  call(d, "DeletePages");
  EXPECT_EQ(CLng(get(d, "NumPages")), 4);
  call(d, "ExtractPages", {2, 3, dir.file("x.pdf")});
  EXPECT_EQ(pageNames(dir.file("x.pdf")), (Names{"(blank)", "alpha"}));
  EXPECT_THROW(call(d, "ExtractPages", {1, 1}), AutomationError);
  EXPECT_EQ(at(save("d.pdf"), "Root/Pages/Kids/1/MediaBox"), "[0 0 612 792]");
}

// Extracted and replacing pages keep their annotations and fields; a page
// replaced takes its fields out of the form, so the new page's fields keep
// their names.
TEST_F(PagesOverServer, ExtractedAndReplacingPagesKeepAnnotationsAndFields) {
  for (const char* value : {"Bob", "Ada"}) {
    DocSpec s = pagesNamed({"one", "two", "three"});
    s.form = s.annotated = true;
    s.formValue = value;
    makePdf(dir.file(std::string(value) + ".pdf"), s);
  }
  d = openDocument(dir.file("Bob.pdf"));
  Names widgets(6, "Widget");
  struct Row {
    const char* member;
    std::vector<Variant> args;
    std::string file;  // read back
    Names fields, annots;
  } rows[] = {
      {"ExtractPages",
       {1, 3, dir.file("x.pdf")},
       dir.file("x.pdf"),
       {"name=u:Bob@1", "choice=u:Green@1", "agree=/Yes@1", "news=/Off@1", "size=/M@1", "size=/M@1"},
       {"Link>2", "Link>2", "Link:http://example.invalid/", "Text", "Popup<Text"}},
      // Ada's first page alone: its links to Ada's last page go.
      {"ReplacePages",
       {dir.file("Ada.pdf"), 1, 1, 1},
       "",
       {"name=u:Ada@1", "choice=u:Green@1", "agree=/Yes@1", "news=/Off@1", "size=/M@1", "size=/M@1"},
       {"Link:http://example.invalid/", "Text", "Popup<Text"}},
  };
  for (Row& r : rows) {
    std::vector<Arg> args(r.args.begin(), r.args.end());
    call(d, r.member, std::span<const Arg>(args));
    std::string out = r.file.empty() ? save() : r.file;
    EXPECT_EQ(qpdfFields(out), r.fields) << r.member;
    Names annots = widgets;
    annots.insert(annots.end(), r.annots.begin(), r.annots.end());
    EXPECT_EQ(annotSummary(out, 0), annots) << r.member;
    expectClean(out);
  }
}

// A document that did not open says which file and why in every member,
// those that ignore errors too; page errors speak the caller's numbers.
TEST_F(PagesOverServer, ErrorsNameTheFileAndSpeakTheCallersPages) {
  std::string text = dir.file("notes.txt");
  writeFile(text, "plain text, no PDF");
  ObjectRef bad = openDocument(text);
  const std::string unset = "Object variable or With block variable not set: the document " + text +
                            " did not open: it is not a PDF file (it has no PDF header)";
  const std::tuple<ObjectRef, const char*, std::vector<Variant>, int32_t, std::string> rows[] = {
      {bad, "FindAndHighlightText", {"word"}, 91, unset},
      {bad, "DeletePages", {}, 91, unset},
      {d, "DeletePages", {5, 7}, static_cast<int32_t>(0x80004005u), "Pages 5 to 7 do not exist"},
  };
  for (const auto& [doc, member, given, number, description] : rows) {
    std::vector<Arg> args(given.begin(), given.end());
    Raised got = raised([&] { call(doc, member, std::span<const Arg>(args)); });
    EXPECT_EQ(got.number, number) << member;
    EXPECT_EQ(got.description.substr(0, description.size()), description) << member;
  }
}

TEST_F(PagesOverServer, FlatteningRotationLabelsAndTabOrder) {
  call(d, "CreateStampAnnot", {1, V({100, 100, 200, 150}), "flat"});
  call(d, "FlattenPages");
  EXPECT_EQ(annots(save(), 0).size(), 0u);
  EXPECT_EQ(CLng(call(d, "AddWebLinks")) + CLng(call(d, "RemoveWebLinks")), 0);
  call(d, "SetPageRotations", {2, 0, 90});
  EXPECT_EQ(CStr(call(d, "GetPageRotation", {3})) + CStr(call(d, "GetPageRotation", {1})), "900");
  call(d, "SetPageLabels", {2, 1, "P-", 1});
  EXPECT_EQ(CStr(call(d, "GetPageLabel", {3})) + " " + CStr(call(d, "GetPageLabel", {1})), "P-II 1");
  call(d, "SetPageTabOrder", {0, 1});
  std::string out = save();
  EXPECT_EQ(atEach(out, "Root/Pages/Kids/2/", {"Rotate", "Tabs"}), "Rotate=90 Tabs=/C");
  EXPECT_EQ(at(out, "Root/PageLabels/Nums/3/S"), "/R");
}

TEST_F(PagesOverServer, TemplatesSpawnedAsPageAndOverlay) {
  call(d, "CreateTemplate", {2});
  EXPECT_EQ(CLng(get(d, "NumTemplates")), 1);
  std::string name = CStr(call(d, "GetNthTemplate", {Variant(int16_t(0))}));
  call(d, "SpawnPageFromTemplate", {name, 1, true, false});
  call(d, "SpawnPageFromTemplate", {name, 4, true, true});
  std::string out = save();
  // The overlay adds no page; what it draws: Templates.CreateListSpawnAndRemove.
  EXPECT_EQ(pageNames(out), (Names{"one", "two", "two", "three"})) << "spawned as a new page after the first";
  call(d, "RemoveTemplate", {name});
  EXPECT_EQ(CLng(get(d, "NumTemplates")), 0);
}

TEST_F(PagesOverServer, TextWatermarksWithPageNumbersAndFromAFile) {
  call(d, "AddWatermarkFromText", {"DRAFT", 0, 4, 24, Variant::nothing(), 0, 0, true, true, true, 1.0, 1.0, true});
  call(d, "AddWatermarkFromText", {"No.", 0, 4, 24, Variant::nothing(), 2, 3, true, true, true, 1.0, 1.0, true, 10});
  call(d, "AddWatermarkFromFile", {source, 2, 1, 1});
  std::string out = save();
  EXPECT_THAT(pageText(out, 0), ::testing::AllOf(HoldsAll({"DRAFT1", "Page beta text"}), Not(HasSubstr("No."))));
  EXPECT_THAT(pageText(out, 1), HoldsAll({"DRAFT2", "No.10"}));
  EXPECT_THAT(pageText(out, 2), HoldsAll({"DRAFT3", "No.11"}));
}

TEST_F(PagesOverServer, PrintOnlyAndScreenOnlyWatermarksSitInOptionalContent) {
  // Text watermark for print only on page 1; a page of a file for screen only on page 2.
  call(d, "AddWatermarkFromText", {"PRINTED", 0, 4, 24, Variant::nothing(), 1, 1, true, false, true});
  call(d, "AddWatermarkFromFile", {source, 1, 2, 2, true, true, false});
  EXPECT_THROW(call(d, "AddWatermarkFromText", {"NOWHERE", 0, 4, 24, Variant::nothing(), 1, 1, true, false, false}),
               AutomationError);
  std::string out = save();
  const std::pair<const char*, const char*> cases[] = {
      {"Root/OCProperties/OCGs/0/Name", "(Watermark, print only)"},
      {"Root/OCProperties/OCGs/0/Usage/Print/PrintState", "/ON"},
      {"Root/OCProperties/OCGs/0/Usage/View/ViewState", "/OFF"},
      {"Root/OCProperties/OCGs/1/Usage/Print/PrintState", "/OFF"},
      {"Root/OCProperties/OCGs/1/Usage/View/ViewState", "/ON"},
      {"Root/OCProperties/D/OFF/0/Name", "(Watermark, print only)"},
      {"Root/OCProperties/D/ON/0/Name", "(Watermark, screen only)"},
      {"Root/OCProperties/D/AS/1/Event", "/Print"},
      {"Root/Pages/Kids/0/Resources/Properties/WmOC1/Type", "/OCG"},
  };
  for (const auto& [where, value] : cases) EXPECT_EQ(at(out, where), value) << where;
  std::string shown;
  ASSERT_EQ(run({"mutool", "draw", "-F", "txt", out, "1"}, &shown), 0);
  EXPECT_EQ(shown.find("PRINTED"), std::string::npos) << "hidden on screen: " << shown;
  EXPECT_THAT(pageText(out, 1), HasSubstr("Page alpha text")) << "shown on screen";
}

// Text in any script shows and extracts as written in both engines, in the
// requested standard font where it reaches and an embedded font elsewhere;
// text no installed font can draw is refused by name.
TEST_F(PagesOverServer, WatermarkTextInEveryScript) {
  // Text, font (Helvetica, Times-Bold, Courier), 1-based page, what shows.
  const std::tuple<const char*, int, int, std::vector<std::string>> rows[] = {
      {"ЧЕРНОВИК DRAFT 草稿", 4, 1, {"ЧЕРНОВИК", "DRAFT", "草稿"}},
      {"Προσχέδιο", 1, 2, {"Προσχέδιο"}},
      {"Entwurf € 5 ä", 8, 3, {"Entwurf € 5 ä"}},
  };
  for (const auto& [text, font, page, shown] : rows)
    call(d, "AddWatermarkFromText", {text, 0, font, 24, Variant::nothing(), page, page});
  EXPECT_RAISES("𓀀", call(d, "AddWatermarkFromText", {"A 𓀀 B"})) << "names what it cannot draw";
  std::string out = save();
  for (const auto& [text, font, page, shown] : rows) {
    expectShown(out, page, shown);
    EXPECT_THAT(shownText(out, page).first, Not(HasSubstr("?")));
  }
}

using Pages = AnnotFixture;

TEST_F(Pages, WatermarkArgumentsAreNeitherReorderedNorMisconverted) {
  const std::tuple<const char*, std::vector<Variant>, Lines> cases[] = {
      {"AddWatermarkFromFile",
       {"/w.pdf"},
       {"JSO get NumPages",
        "JSO call AddWatermarkFromFile(\"/w.pdf\", 0%, 0%, 2&, True, True, True, 1%, 1%, 0%, 0%, False, 1!, "
        "False, 0&, 1!)"}},
      {"AddWatermarkFromFile",
       {"/w.pdf", 2, 2, 3, false, true, false, 0.5, 0.25, 0, 2, 10, 20, true, true, 90},
       {"JSO call AddWatermarkFromFile(\"/w.pdf\", 1&, 1&, 2&, False, True, False, 0&, 2&, 10&, 20&, True, 0.5#, "
        "True, 90&, 0.25#)"}},
      {"AddWatermarkFromText",
       {"DRAFT"},
       {"JSO get NumPages", "JSO get Color", "Color get black",
        "JSO call AddWatermarkFromText(\"DRAFT\", 0&, \"Times-Roman\", 24%, Array(\"G\", 0#), 0%, 2&, True, True, "
        "True, 1%, 1%, 0%, 0%, False, 1!, False, 0&, 1!)"}}};
  ObjectRef d = open();
  for (const auto& [member, given, calls] : cases) {
    rec->clear();
    std::vector<Arg> args(given.begin(), given.end());
    call(d, member, std::span<const Arg>(args));
    EXPECT_EQ(only({"JSO", "Color"}), calls) << member << " " << given.size();
  }
}

}  // namespace pm::test
