// saveAs in the file types MuPDF can write.
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "pdfserver_js/Read.h"

namespace fs = std::filesystem;

namespace pm::test {

using Export = JsTest;

// Each type: the file asked for, the file it gives (pictures one per page)
// and what that file must hold; a PDF moves the document to the new file.
TEST_F(Export, EveryTypeWritesItsFormat) {
  let(js, "title", "Saved as");
  call(js, "saveAs", {dir.file("as.pdf")});
  EXPECT_EQ(readBack(dir.file("as.pdf")).title, "Saved as");
  EXPECT_EQ(CStr(get(js, "path")), dir.file("as.pdf"));
  const std::tuple<const char*, const char*, const char*, std::string> cases[] = {
      {"as2.pdf", "pdf", "as2.pdf", "%PDF"},
      {"t.txt", "plain-text", "t.txt", "日本語"},
      {"h.html", "html-4-01-css-1-00", "h.html", "<html"},
      {"x.xml", "xml-1-00", "x.xml", "<page"},
      {"p.ps", "ps", "p.ps", "%!PS"},
      {"pic.png", "png", "pic_Page_3.png", "\x89PNG"},
      {"pic.jpg", "jpeg", "pic_Page_2.jpg", "\xFF\xD8\xFF"},
      {"pic.tif", "tiff", "pic_Page_3.tif", std::string("II*\0", 4)},
  };
  for (const auto& [asked, type, written, holds] : cases) {
    SCOPED_TRACE(written);
    call(js, "saveAs", {dir.file(asked), std::string("com.adobe.acrobat.") + type});
    EXPECT_THAT(readFile(dir.file(written)), HasSubstr(holds));
  }
  EXPECT_EQ(readBack(dir.file("as2.pdf")).pages, 3);
}

TEST_F(Export, EpsThroughGhostscriptOneFilePerPage) {
  let(js, "title", "unsaved change");  // the pages come from the document as it is now
  call(js, "saveAs", {dir.file("e.eps"), "com.adobe.acrobat.eps"});
  for (int i = 1; i <= 3; ++i) {
    std::string eps = readFile(dir.file("e_Page_" + std::to_string(i) + ".eps"));
    EXPECT_EQ(eps.substr(0, 23), "%!PS-Adobe-3.0 EPSF-3.0") << i;
    EXPECT_THAT(eps, HasSubstr("%%BoundingBox"));
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
  // A writer: the member of the JavaScript object called with these
  // arguments and then the target (saveAs: the target, then the type).
  using Write = std::function<void(const std::string&)>;
  auto writer = [&](const char* member, std::vector<Variant> args) -> Write {
    return [this, member, args](const std::string& t) {
      std::vector<Arg> a(args.begin(), args.end());
      a.insert(std::string(member) == "saveAs" ? a.begin() : a.end(), Arg(t));
      call(js, member, std::span<const Arg>(a));
    };
  };
  auto saveAs = [&](const char* type) { return writer("saveAs", {std::string("com.adobe.acrobat.") + type}); };
  struct Row {
    std::string target;
    int pages;  // 0: the target alone, else target's stem + "_Page_<n>" + ext
    Write write;
  } rows[] = {
      {"a.png", 3, saveAs("png")},
      {"a.jpg", 3, saveAs("jpeg")},
      {"a.tif", 3, saveAs("tiff")},
      {"a%d.eps", 3, saveAs("eps")},  // "%d" would be a page-number format to Ghostscript
      {"a.txt", 0, saveAs("plain-text")},
      {"a.pdf", 0, saveAs("pdf")},
      {"blob.pdf", 0, writer("exportDataObject", {"blob"})},
      {"a.fdf", 0, writer("exportAsFDF", {true, true, Variant::missing(), false})},
      {"a.xfdf", 0, writer("exportAsXFDF", {true, true, Variant::missing()})},
  };
  const std::string pid = std::to_string(::getpid());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.target);
    std::vector<std::string> made;
    size_t dot = row.target.rfind('.');
    for (int i = 1; i <= row.pages; ++i)
      made.push_back(dir.file(row.target.substr(0, dot) + "_Page_" + std::to_string(i) + row.target.substr(dot)));
    if (!row.pages) made.push_back(dir.file(row.target));
    for (const std::string& t : made)
      for (const std::string& suffix : {".part" + pid, ".part-" + pid, std::string(".part"), std::string(".tmp")})
        fs::create_symlink(victim, t + suffix);
    row.write(dir.file(row.target));
    for (const std::string& t : made) EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(t))) << t;
    EXPECT_EQ(readFile(victim), "untouched");
  }
}

TEST_F(Export, UnsupportedTypesWriteNothing) {
  std::vector<std::string> before = dir.names();
  for (const char* id : {"com.adobe.acrobat.rtf", "com.adobe.acrobat.doc", "com.adobe.acrobat.jp2k",
                         "com.adobe.acrobat.xdp", "com.callas.preflight.pdfa", "com.example.nothing"})
    EXPECT_RAISES("not supported", call(js, "saveAs", {dir.file("out.bin"), id})) << id;
  EXPECT_EQ(dir.names(), before);
}

}  // namespace pm::test
