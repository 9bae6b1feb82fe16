// The page, template and watermark members over the real PDF server, on
// documents the tests make, read back from the saved file.
#include "Read.h"
#include "component/frame/ModuleState.h"
#include "component/document/Document.h"

namespace {

using namespace pm;

fixture::DocSpec pagesNamed(std::initializer_list<const char*> names) {
  fixture::DocSpec s;
  for (const char* n : names) {
    fixture::PageSpec p;
    p.lines = {std::string("Page ") + n + " text"};
    s.pages.push_back(p);
  }
  return s;
}

class PagesOverServer : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.file("doc.pdf");
    fixture::makePdf(path, pagesNamed({"one", "two", "three"}));
    source = dir.file("src.pdf");
    fixture::makePdf(source, pagesNamed({"alpha", "beta"}));
    moduleState().strOpenDocumentPath = path;
    d = createDocument();
  }
  std::string save(const std::string& name = "out.pdf") {
    std::string out = dir.file(name);
    call(d, "Save", {1, out});
    EXPECT_TRUE(jstest::qpdfClean(out));
    return out;
  }
  // The first word after "Page " of every page of a file.
  static std::vector<std::string> pageNames(const std::string& file) {
    std::vector<std::string> out;
    for (int i = 0; i < jstest::pageCount(file); ++i) {
      std::string t = jstest::pageText(file, i);
      size_t at = t.find("Page ");
      out.push_back(at == std::string::npos ? "(blank)" : t.substr(at + 5, t.find(' ', at + 5) - at - 5));
    }
    return out;
  }
  fixture::TempDir dir;
  std::string path, source;
  ObjectRef d;
};

using Names = std::vector<std::string>;

TEST_F(PagesOverServer, DeleteInsertReplaceMoveAndNewPages) {
  call(d, "InsertPages", {source});                    // before the first page
  call(d, "InsertPages", {source, 0, 2, 2});           // beta after the last page
  EXPECT_EQ(pageNames(save("a.pdf")), (Names{"alpha", "beta", "one", "two", "three", "beta"}));
  call(d, "DeletePages", {1, 2});
  call(d, "MovePage", {1});                             // page one behind the last page
  EXPECT_EQ(pageNames(save("b.pdf")), (Names{"two", "three", "beta", "one"}));
  call(d, "ReplacePages", {source, 3, 1, 1});           // page 3 becomes alpha
  call(d, "NewPage", {2});
  EXPECT_EQ(pageNames(save("c.pdf")), (Names{"two", "three", "(blank)", "alpha", "one"}));
  call(d, "DeletePages");
  EXPECT_EQ(CLng(get(d, "NumPages")), 4);
  call(d, "ExtractPages", {2, 3, dir.file("x.pdf")});
  EXPECT_EQ(pageNames(dir.file("x.pdf")), (Names{"(blank)", "alpha"}));
  EXPECT_THROW(call(d, "ExtractPages", {1, 1}), AutomationError);
  EXPECT_EQ(jstest::at(save("d.pdf"), "Root/Pages/Kids/1/MediaBox"), "[0 0 612 792]");
}

TEST_F(PagesOverServer, RotationLabelsAndTabOrder) {
  call(d, "SetPageRotations", {2, 0, 90});
  EXPECT_EQ(CLng(call(d, "GetPageRotation", {3})), 90);
  EXPECT_EQ(CLng(call(d, "GetPageRotation", {1})), 0);
  call(d, "SetPageLabels", {2, 1, "P-", 1});
  EXPECT_EQ(CStr(call(d, "GetPageLabel", {3})), "P-II");
  EXPECT_EQ(CStr(call(d, "GetPageLabel", {1})), "1");
  call(d, "SetPageTabOrder", {0, 1});
  std::string out = save();
  EXPECT_EQ(jstest::at(out, "Root/Pages/Kids/2/Rotate"), "90");
  EXPECT_EQ(jstest::at(out, "Root/Pages/Kids/2/Tabs"), "/C");
  EXPECT_EQ(jstest::at(out, "Root/PageLabels/Nums/3/S"), "/R");
}

TEST_F(PagesOverServer, TemplatesSpawnedAsPageAndOverlay) {
  call(d, "CreateTemplate", {2});
  EXPECT_EQ(CLng(get(d, "NumTemplates")), 1);
  std::string name = CStr(call(d, "GetNthTemplate", {Variant(int16_t(0))}));
  call(d, "SpawnPageFromTemplate", {name, 1, true, false});
  call(d, "SpawnPageFromTemplate", {name, 4, true, true});
  std::string out = save();
  Names names = pageNames(out);
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names, (Names{"one", "two", "two", "three"})) << "spawned as a new page after the first";
  std::string last = jstest::pageText(out, 3);
  EXPECT_NE(last.find("Page two text"), std::string::npos) << "overlaid on the last page: " << last;
  EXPECT_NE(last.find("Page three text"), std::string::npos);
  call(d, "RemoveTemplate", {name});
  EXPECT_EQ(CLng(get(d, "NumTemplates")), 0);
}

TEST_F(PagesOverServer, TextWatermarksWithPageNumbersAndFromAFile) {
  call(d, "AddWatermarkFromText", {"DRAFT", 0, 4, 24, Variant::nothing(), 0, 0, true, true, true, 1.0, 1.0, true});
  call(d, "AddWatermarkFromText", {"No.", 0, 4, 24, Variant::nothing(), 2, 3, true, true, true, 1.0, 1.0, true, 10});
  call(d, "AddWatermarkFromFile", {source, 2, 1, 1});
  std::string out = save();
  EXPECT_NE(jstest::pageText(out, 0).find("DRAFT1"), std::string::npos);
  EXPECT_NE(jstest::pageText(out, 2).find("DRAFT3"), std::string::npos);
  EXPECT_NE(jstest::pageText(out, 1).find("No.10"), std::string::npos);
  EXPECT_NE(jstest::pageText(out, 2).find("No.11"), std::string::npos);
  EXPECT_EQ(jstest::pageText(out, 0).find("No."), std::string::npos);
  EXPECT_NE(jstest::pageText(out, 0).find("Page beta text"), std::string::npos);
  std::string mutoolText;
  EXPECT_EQ(fixture::run({"mutool", "draw", "-F", "txt", out, "2"}, &mutoolText), 0);
  EXPECT_NE(mutoolText.find("DRAFT2"), std::string::npos) << mutoolText;
}

TEST_F(PagesOverServer, PrintOnlyAndScreenOnlyWatermarksSitInOptionalContent) {
  // Text watermark for print only on page 1; a page of a file for screen only on page 2.
  call(d, "AddWatermarkFromText", {"PRINTED", 0, 4, 24, Variant::nothing(), 1, 1, true, false, true});
  call(d, "AddWatermarkFromFile", {source, 1, 2, 2, true, true, false});
  EXPECT_THROW(call(d, "AddWatermarkFromText", {"NOWHERE", 0, 4, 24, Variant::nothing(), 1, 1, true, false, false}),
               AutomationError);
  std::string out = save();
  struct Case {
    const char* path;
    const char* value;
  };
  const Case cases[] = {
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
  for (const Case& c : cases) EXPECT_EQ(jstest::at(out, c.path), c.value) << c.path;
  std::string shown;
  ASSERT_EQ(fixture::run({"mutool", "draw", "-F", "txt", out, "1"}, &shown), 0);
  EXPECT_EQ(shown.find("PRINTED"), std::string::npos) << "hidden on screen: " << shown;
  EXPECT_NE(jstest::pageText(out, 1).find("Page alpha text"), std::string::npos) << "shown on screen";
}

TEST_F(PagesOverServer, ThumbnailsLinksAndFlattening) {
  call(d, "CreateStampAnnot", {1, V({100, 100, 200, 150}), "flat"}) ;
  call(d, "FlattenPages");
  EXPECT_EQ(jstest::annots(save(), 0).size(), 0u);
  EXPECT_EQ(CLng(call(d, "AddWebLinks")), 0);
  EXPECT_EQ(CLng(call(d, "RemoveWebLinks")), 0);
}

}  // namespace
