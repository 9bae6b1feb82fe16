// Assembly through the MuPDF viewer: merged files have every page in order
// and keep each input's bookmarks pointing at the pages they led to; the
// folder merge leaves its output out of its inputs; images come out at their
// size and resolution, as one document or merged.
#include <filesystem>

#include "Images.h"
#include "Real.h"
#include "support/PdfTest.h"

namespace pm::test {

namespace fs = std::filesystem;

std::vector<std::string> outline(const std::string& pdf) {
  std::vector<std::string> out;
  flatten(readBack(pdf).outline, 0, out);
  return out;
}

using Sizes = std::vector<std::pair<double, double>>;

TEST_F(RealTest, AListOfPDFsBecomesOneWithEveryPageAndBookmarkInOrder) {
  std::string a = make("a.pdf", "A", 2), b = make("b.pdf", "B", 1), c = make("c.pdf", "C", 3);
  std::string out = dir_.file("out.pdf");
  writeFile(out, "an old file");
  run("CreatePDFfromMultiPDF",
      {out, Variant(Array::vector({Variant(a), Variant(dir_.file("none.pdf")), Variant(b), Variant(c)}))});
  EXPECT_EQ(firstLines(out), (Lines{"A page 1", "A page 2", "B page 1", "C page 1", "C page 2", "C page 3"}));
  EXPECT_EQ(outline(out), (Lines{"A 1@0", "  A detail@0", "A 2@1", "B 1@2", "  B detail@2", "C 1@3", "  C detail@3",
                                 "C 2@4", "C 3@5"}));
  EXPECT_EQ(readBack(a).pages, 2) << "inputs stay as they are";
  // Below version 7 the result is linearized.
  moduleState().strAcrobatVersion = "6.0";
  run("CreatePDFfromMultiPDF", {out, Variant(Array::vector({Variant(a), Variant(b)}))});
  EXPECT_EQ(firstLines(out), (Lines{"A page 1", "A page 2", "B page 1"}));
  EXPECT_THAT(readFile(out).substr(0, 1024), HasSubstr("/Linearized"));
  expectClean(out);
}

TEST_F(RealTest, AnOutputInItsOwnListIsReadBeforeItIsReplacedAndKeptWhenTheMergeFails) {
  std::string a = make("a.pdf", "A", 2), b = make("b.pdf", "B", 1);
  run("CreatePDFfromMultiPDF", {a, Variant(Array::vector({Variant(a), Variant(b)}))});
  EXPECT_EQ(firstLines(a), (Lines{"A page 1", "A page 2", "B page 1"}));
  expectClean(a);
  // A list the viewer cannot read through: the output stays as it was.
  std::string bytes = readFile(a), junk = dir_.file("junk.pdf");
  writeFile(junk, "not a PDF");
  EXPECT_THROW(run("CreatePDFfromMultiPDF", {a, Variant(Array::vector({Variant(b), Variant(junk)}))}), AutomationError);
  EXPECT_EQ(readFile(a), bytes);
}

// Two filled forms merged keep both forms' fields with their values, the
// second under suffixed names, and every link and note on its page.
TEST_F(RealTest, MergedFormsKeepTheirFieldsValuesAndLinks) {
  std::vector<Variant> inputs;
  for (const char* value : {"Ada", "Bob"}) {
    DocSpec s = pagesSpec(value, 3);
    s.form = s.annotated = true;
    s.formValue = value;
    inputs.emplace_back(dir_.file(std::string(value) + ".pdf"));
    makePdf(CStr(inputs.back()), s);
  }
  std::string out = dir_.file("out.pdf");
  run("CreatePDFfromMultiPDF", {out, Variant(Array::vector(inputs))});
  EXPECT_EQ(qpdfFields(out), (Lines{"name=u:Ada@1", "choice=u:Green@1", "agree=/Yes@1", "news=/Off@1", "size=/M@1",
                                    "size=/M@1", "name_2=u:Bob@4", "choice_2=u:Green@4", "agree_2=/Yes@4",
                                    "news_2=/Off@4", "size_2=/M@4", "size_2=/M@4"}));
  Lines widgets(6, "Widget");
  for (int page : {0, 3}) {
    Lines want = widgets;
    for (std::string a : {"Link>", "Link>", "Link:http://example.invalid/", "Text", "Popup<Text"}) want.push_back(a);
    want[6] += std::to_string(page + 2);
    want[7] += std::to_string(page + 2);
    EXPECT_EQ(annotSummary(out, page), want) << page;
  }
  expectClean(out);
}

TEST_F(RealTest, LinearizedImageFilesLoseNothingWhateverTheirName) {
  // The engine's own linearizer dropped the page's content stream of this
  // picture under this very name; every file written must be complete.
  std::string img = dir_.file("blank.png");
  makeWithGhostscript(img, "png16m", 300, 150, 150);
  for (const char* name : {"_temp_0.pdf", "_tmp_0.pdf", "other.pdf"}) {
    std::string out = temp_.path() + "/" + std::string(name);
    run("CreatePDFfromImageFile", {out, img});
    expectClean(out);
  }
}

TEST_F(RealTest, AFolderMergesOntoItsFirstFileInTheChosenOrder) {
  for (const char* d : {"in", "one"}) fs::create_directory(dir_.file(d));
  std::string z = make("in/z.pdf", "Z", 1), m = make("in/M.pdf", "M", 2), k = make("in/k.pdf", "K", 1);
  std::string out = dir_.file("in/all.pdf");
  // By name, ascending: "M" < "k" < "z" by character code; the output is in
  // the folder and matches the pattern.
  run("CreatePDFfromMultiPDFinDir", {out, dir_.file("in"), "*.PDF", 1});
  EXPECT_EQ(firstLines(out), (Lines{"M page 1", "M page 2", "K page 1", "Z page 1"}));
  // Again, descending: the earlier result is not one of the inputs.
  run("CreatePDFfromMultiPDFinDir", {out, Variant(dir_.file("in") + "/"), "*.pdf", 1, 1});
  EXPECT_EQ(firstLines(out), (Lines{"Z page 1", "K page 1", "M page 1", "M page 2"}));
  EXPECT_EQ(readBack(m).pages, 2) << "the base file stays as it is";
  // A folder with one file gives a copy of it.
  make("one/only.pdf", "O", 3);
  run("CreatePDFfromMultiPDFinDir", {out, dir_.file("one")});
  EXPECT_EQ(firstLines(out), (Lines{"O page 1", "O page 2", "O page 3"}));
  EXPECT_EQ(outline(out), (Lines{"O 1@0", "  O detail@0", "O 2@1", "O 3@2"}));
}

TEST_F(RealTest, AnImageBecomesOnePageOfItsSizeAtItsResolution) {
  struct Case {
    std::string name, device;
    int w, h, dpi;
    double pw, ph;
    int pages = 1;  // a multi-page TIFF gives a page per picture
  } cases[] = {
      {"pic.png", "png16m", 300, 150, 150, 144, 72},      {"pic.jpg", "jpeg", 200, 100, 72, 200, 100},
      {"pic.bmp", "bmp16m", 192, 96, 96, 144, 72},        {"pic.tif", "tiff24nc", 400, 200, 200, 144, 72},
      {"pages.tif", "tiff24nc", 144, 72, 72, 144, 72, 3},
  };
  for (const Case& c : cases) {
    std::string img = dir_.file(c.name), out = dir_.file(c.name + ".pdf");
    makeWithGhostscript(img, c.device, c.w, c.h, c.dpi, c.pages);
    run("CreatePDFfromImageFile", {out, img, " Picture ", "Me", " ", "k1, k2"});
    ASSERT_TRUE(fs::exists(out)) << c.name;
    EXPECT_EQ(pageSizes(out), Sizes(c.pages, {c.pw, c.ph})) << c.name;
    ReadBack r = readBack(out);
    EXPECT_EQ(r.title, " Picture ") << c.name;
    EXPECT_EQ(r.author, "Me");
    EXPECT_EQ(r.keywords, "k1, k2");
    EXPECT_THAT(readFile(out).substr(0, 1024), HasSubstr("/Linearized")) << c.name;
    expectClean(out);
  }
  EXPECT_THAT(readFile(dir_.file("pic.jpg.pdf")), HasSubstr("/DCTDecode")) << "a JPEG keeps its compressed form";
  // GIF states no resolution: it is taken at 96 dots per inch. A stated
  // resolution below 72 is taken as 72.
  std::string gif = dir_.file("pic.gif"), out = dir_.file("gif.pdf");
  makeGif(gif, 60, 40);
  run("CreatePDFfromImageFile", {out, gif});
  EXPECT_EQ(pageSizes(out), (Sizes{{45, 30}}));
  std::string low = dir_.file("low.png");
  makeWithGhostscript(low, "png16m", 50, 25, 50);
  run("CreatePDFfromImageFile", {out, low});
  EXPECT_EQ(pageSizes(out), (Sizes{{50, 25}}));
  // A file that is no image gives no output and no error.
  std::string fake = dir_.file("fake.png");
  writeFile(fake, "not a picture at all");
  EXPECT_NO_THROW(run("CreatePDFfromImageFile", {out, fake}));
  EXPECT_EQ(pageSizes(out), (Sizes{{50, 25}})) << "the earlier output stays";
}

TEST_F(RealTest, ImagesBecomeOnePDFAndTheTemporaryFilesGo) {
  std::string png = dir_.file("a.png"), gif = dir_.file("b.gif"), bad = dir_.file("c.png"), jpg = dir_.file("d.jpg");
  makeWithGhostscript(png, "png16m", 100, 200, 100, 1);
  makeGif(gif, 30, 20);
  writeFile(bad, "no picture");
  makeWithGhostscript(jpg, "jpeg", 150, 150, 150, 1);
  std::string out = dir_.file("all.pdf");
  run("CreatePDFfromMultiImage",
      {out, Variant(Array::vector({Variant(png), Variant(gif), Variant(bad), Variant(jpg)}))});
  EXPECT_EQ(pageSizes(out), (Sizes{{72, 144}, {22.5, 15}, {72, 72}}));
  EXPECT_TRUE(fs::is_empty(temp_.path())) << "no temporary PDF is left, and the failed image made none";
}

TEST_F(RealTest, NothingUsableToMergeIsAnErrorAndWritesNoFile) {
  std::string bad = dir_.file("bad.png");
  writeFile(bad, "no picture");
  struct Case {
    const char* member;
    Variant list;
    std::string description;
  };
  const std::string noPdf = "There is no PDF file to merge: none of the listed files exists.";
  for (const Case& c : std::vector<Case>{
           {"CreatePDFfromMultiPDF", Variant(Array::vector({Variant(dir_.file("none.pdf"))})), noPdf},
           {"CreatePDFfromMultiPDF", Variant(Array::vector({})), noPdf},
           {"CreatePDFfromMultiImage", Variant(Array::vector({Variant(bad), Variant(bad)})),
            "None of the image files could be converted to PDF."},
       }) {
    std::string out = dir_.file("out.pdf");
    writeFile(out, "an old file");
    Raised e = raised([&] { run(c.member, {Variant(out), c.list}); });
    EXPECT_EQ(e.number, kErrComponent) << c.member;
    EXPECT_EQ(e.source, kComponentTitle) << c.member;
    EXPECT_EQ(e.description, c.description) << c.member;
    EXPECT_EQ(readFile(out), "an old file") << c.member << ": a failed merge leaves the old output as it was";
  }
  EXPECT_TRUE(fs::is_empty(temp_.path()));
}

}  // namespace pm::test
