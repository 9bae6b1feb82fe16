// Pages, labels, thumbnails, links, flattening, templates and annotations
// through the JavaScript object, read back from the saved file; annotations
// are added in the two passes of getProps and setProps the component uses;
// and saveAs in the file types MuPDF can write.
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "support/PdfRead.h"

namespace fs = std::filesystem;

namespace pm::test {

using Pages = JsTest;

TEST_F(Pages, ThumbnailsAndWebLinks) {
  call(js, "addThumbnails");
  std::string out = save();
  for (int p = 0; p < 3; ++p) EXPECT_NE(at(out, "Root/Pages/Kids/" + std::to_string(p) + "/Thumb/Subtype"), "") << p;
  EXPECT_EQ(at(out, "Root/Pages/Kids/0/Thumb/Subtype"), "/Image");
  call(js, "removeThumbnails", {0, 1});
  out = save("out2.pdf");
  EXPECT_EQ(at(out, "Root/Pages/Kids/0/Thumb"), "");
  EXPECT_NE(at(out, "Root/Pages/Kids/2/Thumb"), "");

  std::string linked = dir.file("links.pdf");
  makePdf(linked, textPages({{"Visit https://example.org/ or www.example.com today"}}));
  ObjectRef d2 = openPDDoc(linked);
  ObjectRef js2 = objectOf(call(d2, "GetJSObject"));
  EXPECT_EQ(CLng(call(js2, "addWebLinks")), 2);
  EXPECT_EQ(CLng(call(js2, "removeWebLinks", {0})), 2);
  EXPECT_EQ(CLng(call(js2, "removeWebLinks")), 0);
  call(d2, "Save", {1, linked});
  EXPECT_TRUE(annots(linked, 0).empty());
}

TEST_F(Pages, FlatteningDrawsAnnotationsIntoThePage) {
  addAnnot(js, {{"type", "FreeText", "contents", "Flat text", "rect", V({72, 500, 300, 540})}});
  ObjectRef f = objectOf(call(js, "addField", {"kept", "text", 1, V({72, 300, 200, 280})}));
  ObjectRef g = objectOf(call(js, "addField", {"gone", "text", 0, V({72, 300, 200, 280})}));
  let(g, "value", "Typed in");
  call(js, "flattenPages", {0, 0});
  EXPECT_EQ(call(js, "getAnnots", {0}).array().size(), 0u);
  EXPECT_EQ(CLng(get(js, "numFields")), 1) << "the field on the flattened page left the form";
  std::string out = save();
  EXPECT_TRUE(annots(out, 0).empty());
  std::string text = pageText(out, 0);
  EXPECT_THAT(text, HoldsAll({"Flat text", "Typed in"}));
  EXPECT_EQ(fieldNames(out), std::vector<std::string>{"kept"});
  expectClean(out);
}

class Templates : public JsTest {};

TEST_F(Templates, CreateListSpawnAndRemove) {
  objectOf(call(js, "addField", {"sig", "text", 2, V({72, 100, 200, 80})}));
  ObjectRef t = objectOf(call(js, "createTemplate", {"form", 2}));
  call(js, "createTemplate", {0});  // a page number alone
  EXPECT_EQ(CLng(get(js, "numTemplates")), 2);
  EXPECT_EQ(CStr(call(js, "getNthTemplate", {0})), "0");
  EXPECT_EQ(CStr(call(js, "getNthTemplate", {1})), "form");
  EXPECT_FALSE(CBool(get(t, "hidden")));
  EXPECT_RAISES("already has a template", call(js, "createTemplate", {"form", 1}));

  call(js, "spawnPageFromTemplate", {"form", 0, true, false});  // a new page after the first
  call(t, "spawn", {0, false, true});                           // drawn over the first page
  EXPECT_EQ(CLng(get(js, "numPages")), 4);
  std::string out = save();
  EXPECT_THAT(pageText(out, 1), HasSubstr("Third page"));
  EXPECT_THAT(pageText(out, 0), HasSubstr("Third page")) << "the overlay draws the template";
  EXPECT_THAT(pageText(out, 0), HasSubstr("Hello world")) << "over the page's own text";
  std::vector<std::string> names = fieldNames(out);
  EXPECT_NE(std::find(names.begin(), names.end(), "P1.form.sig"), names.end());
  EXPECT_EQ(fieldEntry(out, "sig", "Kids/1/Rect"), "[72 80 200 100]") << "the overlay shares the field";
  EXPECT_EQ(at(out, "Root/Names/Templates/Names/0"), "(0)");

  call(js, "removeTemplate", {"form"});
  EXPECT_EQ(CLng(get(js, "numTemplates")), 1);
  EXPECT_TRUE(call(js, "getTemplate", {"form"}).isNull());
  EXPECT_RAISES("no template named", call(js, "spawnPageFromTemplate", {"form"}));
}

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

}  // namespace pm::test
