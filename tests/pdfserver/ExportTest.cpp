// saveAs in the file types MuPDF can write.
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "Common.h"

namespace fs = std::filesystem;

namespace pm::test {

class Export : public PdfTest {
 protected:
  void SetUp() override {
    PdfTest::SetUp();
    pd = openPDDoc(path);
    js = objectOf(call(pd, "GetJSObject"));
  }
  ObjectRef pd, js;
};

TEST_F(Export, PdfMovesTheDocumentToTheNewFile) {
  let(js, "title", "Saved as");
  std::string out = dir.file("as.pdf");
  call(js, "saveAs", {out});
  EXPECT_EQ(readBack(out).title, "Saved as");
  EXPECT_EQ(CStr(get(js, "path")), out);
  call(js, "saveAs", {dir.file("as2.pdf"), "com.adobe.acrobat.pdf"});
  EXPECT_EQ(readBack(dir.file("as2.pdf")).pages, 3);
}

// Each type: the file asked for, the file it gives (pictures one per page)
// and what that file must hold.
TEST_F(Export, EveryTypeWritesItsFormat) {
  struct Case {
    const char *asked, *type, *written;
    std::string holds;
  } cases[] = {
      {"t.txt", "plain-text", "t.txt", "Hello world, first page."},
      {"t.txt", "plain-text", "t.txt", "Third page, world again"},
      {"t.txt", "plain-text", "t.txt", "日本語"},
      {"h.html", "html-4-01-css-1-00", "h.html", "<html"},
      {"x.xml", "xml-1-00", "x.xml", "<page"},
      {"p.ps", "ps", "p.ps", "%!PS"},
      {"pic.png", "png", "pic_Page_1.png", "\x89PNG"},
      {"pic.png", "png", "pic_Page_3.png", "\x89PNG"},
      {"pic.jpg", "jpeg", "pic_Page_2.jpg", "\xFF\xD8\xFF"},
      {"pic.tif", "tiff", "pic_Page_3.tif", std::string("II*\0", 4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written);
    call(js, "saveAs", {dir.file(c.asked), std::string("com.adobe.acrobat.") + c.type});
    EXPECT_NE(readFile(dir.file(c.written)).find(c.holds), std::string::npos);
  }
}

TEST_F(Export, EpsThroughGhostscriptOneFilePerPage) {
  let(js, "title", "unsaved change");  // the pages come from the document as it is now
  call(js, "saveAs", {dir.file("e.eps"), "com.adobe.acrobat.eps"});
  for (int i = 1; i <= 3; ++i) {
    std::string eps = readFile(dir.file("e_Page_" + std::to_string(i) + ".eps"));
    EXPECT_EQ(eps.substr(0, 23), "%!PS-Adobe-3.0 EPSF-3.0") << i;
    EXPECT_NE(eps.find("%%BoundingBox"), std::string::npos);
  }
  std::vector<std::string> want = {"doc.pdf", "e_Page_1.eps", "e_Page_2.eps", "e_Page_3.eps"};
  EXPECT_EQ(dir.names(), want) << "no temporary file is left beside the output";
}

// Links another user could plant at the names writers once used beside
// their targets ("<target>.part<pid>", ".part-<pid>", ".part", ".tmp"):
// none is followed, the file they point to stays as it was.
TEST_F(Export, LinksPlantedBesideTargetsAreNotFollowed) {
  std::string victim = dir.file("victim");
  writeFile(victim, "untouched");
  call(js, "importDataObject", {"blob", path});
  struct Row {
    std::vector<std::string> targets;  // the files the writer makes
    std::function<void(const std::string&)> write;
  };
  auto saveAs = [&](const char* type) { return [this, type](const std::string& t) { call(js, "saveAs", {t, type}); }; };
  auto pages = [&](const std::string& stem, const std::string& ext) {
    std::vector<std::string> out;
    for (int i = 1; i <= 3; ++i) out.push_back(dir.file(stem + "_Page_" + std::to_string(i) + ext));
    return out;
  };
  std::vector<std::pair<std::string, Row>> rows = {
      {dir.file("a.png"), {pages("a", ".png"), saveAs("com.adobe.acrobat.png")}},
      {dir.file("a.jpg"), {pages("a", ".jpg"), saveAs("com.adobe.acrobat.jpeg")}},
      {dir.file("a.tif"), {pages("a", ".tif"), saveAs("com.adobe.acrobat.tiff")}},
      // "%d" would be a page-number format to Ghostscript.
      {dir.file("a%d.eps"), {pages("a%d", ".eps"), saveAs("com.adobe.acrobat.eps")}},
      {dir.file("a.txt"), {{dir.file("a.txt")}, saveAs("com.adobe.acrobat.plain-text")}},
      {dir.file("a.pdf"), {{dir.file("a.pdf")}, saveAs("com.adobe.acrobat.pdf")}},
      {dir.file("blob.pdf"),
       {{dir.file("blob.pdf")},
        [&](const std::string& t) {
          call(js, "exportDataObject", {"blob", t});
        }}},
      {dir.file("a.fdf"),
       {{dir.file("a.fdf")},
        [&](const std::string& t) {
          call(js, "exportAsFDF", {true, true, Variant::missing(), false, t});
        }}},
      {dir.file("a.xfdf"),
       {{dir.file("a.xfdf")},
        [&](const std::string& t) {
          call(js, "exportAsXFDF", {true, true, Variant::missing(), t});
        }}},
  };
  const std::string pid = std::to_string(::getpid());
  for (auto& [target, row] : rows) {
    for (const std::string& t : row.targets)
      for (const std::string& suffix : {".part" + pid, ".part-" + pid, std::string(".part"), std::string(".tmp")})
        fs::create_symlink(victim, t + suffix);
    row.write(target);
    for (const std::string& t : row.targets) EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(t))) << t;
    EXPECT_EQ(readFile(victim), "untouched") << target;
  }
}

TEST_F(Export, UnsupportedTypesWriteNothing) {
  std::vector<std::string> before = dir.names();
  for (const char* id : {"com.adobe.acrobat.rtf", "com.adobe.acrobat.doc", "com.adobe.acrobat.jp2k",
                         "com.adobe.acrobat.xdp", "com.callas.preflight.pdfa", "com.example.nothing"}) {
    try {
      call(js, "saveAs", {dir.file("out.bin"), id});
      ADD_FAILURE() << id;
    } catch (const AutomationError& e) {
      EXPECT_NE(e.description().find("not supported"), std::string::npos) << e.description();
    }
  }
  EXPECT_EQ(dir.names(), before);
}

}  // namespace pm::test
