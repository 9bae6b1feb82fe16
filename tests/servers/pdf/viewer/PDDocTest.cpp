// AcroExch.PDDoc: opening, pages, information, saving and inserting; the
// files it must refuse without changing anything on disk; and the headless
// viewer: application, viewer documents, page views, the main window and the
// clipboard.
#include <sys/stat.h>

#include "support/PdfTest.h"

namespace pm::test {

class PDDoc : public PdfTest {
 protected:
  void SetUp() override {
    PdfTest::SetUp();
    d = openPDDoc(path);
  }
  std::pair<int32_t, int32_t> size(int page) {
    ObjectRef s = objectOf(call(objectOf(call(d, "AcquirePage", {page})), "GetSize"));
    return {CLng(get(s, "x")), CLng(get(s, "y"))};
  }
  ObjectRef d;
};

TEST_F(PDDoc, PagesAndTheirSizesHonourRotationAndCropBox) {
  EXPECT_EQ(CLng(call(d, "GetNumPages")), 3);
  EXPECT_EQ(CStr(call(d, "GetFileName")), path);
  EXPECT_EQ(size(0), std::make_pair(612, 792));
  EXPECT_EQ(size(1), std::make_pair(400, 300)) << "a page rotated by 90 degrees shows its height as width";
  EXPECT_EQ(size(2), std::make_pair(612 - 72, 792 - 72)) << "the crop box, not the media box";
  EXPECT_EQ(CLng(call(objectOf(call(d, "AcquirePage", {2})), "GetNumber")), 2);
  EXPECT_RAISES("Page 3 does not exist", call(d, "AcquirePage", {3}));
  EXPECT_TRUE(CBool(call(d, "Close")));
  EXPECT_EQ(raised([&] { call(d, "GetNumPages"); }).description, "The document is not open");
}

TEST_F(PDDoc, InfoIsReadAndWrittenAndSavedInFull) {
  EXPECT_EQ(CStr(call(d, "GetInfo", {"Title"})), "Standard fixture");
  EXPECT_TRUE(CBool(call(d, "SetInfo", {"Title", "Новое название"})));
  EXPECT_TRUE(CBool(call(d, "SetInfo", {"KeyWords", "alpha, beta"})));
  std::string out = dir.file("full.pdf");
  EXPECT_TRUE(CBool(call(d, "Save", {acrobat::kSaveFull, out})));
  ReadBack r = readBack(out);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.title, "Новое название");
  EXPECT_EQ(r.keywords, "alpha, beta");
  EXPECT_EQ(r.pages, 3);
  expectClean(out);
  // The original is untouched by a save elsewhere.
  EXPECT_EQ(readBack(path).title, "Standard fixture");
  // Saved files carry identifiers.
  ObjectRef again = openPDDoc(out);
  std::string id = CStr(call(again, "GetPermanentID"));
  EXPECT_EQ(id.size(), 32u);
  EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(CStr(call(again, "GetInstanceID")).size(), 32u);
}

// The XMP packet says what the information entries say, and the
// modification date moves with a save of changes.
TEST_F(PDDoc, SavedInfoKeepsTheXmpPacketAndModificationDateInStep) {
  DocSpec s = standardSpec();
  s.xmp =
      "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'>"
      "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
      "<rdf:Description rdf:about='' xmlns:pdf='http://ns.adobe.com/pdf/1.3/' pdf:Keywords='old words'"
      " xmlns:dc='http://purl.org/dc/elements/1.1/' xmlns:xmp='http://ns.adobe.com/xap/1.0/'>"
      "<dc:title><rdf:Alt><rdf:li xml:lang='x-default'>Old title</rdf:li></rdf:Alt></dc:title>"
      "<dc:creator><rdf:Seq><rdf:li>Old one</rdf:li><rdf:li>Old two</rdf:li></rdf:Seq></dc:creator>"
      "<xmp:ModifyDate>2001-01-01T00:00:00Z</xmp:ModifyDate>"
      "</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end='w'?>";
  makePdf(dir.file("x.pdf"), s);
  d = openPDDoc(dir.file("x.pdf"));
  call(d, "SetInfo", {"Title", "Tom & Jerry"});
  call(d, "SetInfo", {"Author", "Новый автор"});
  call(d, "SetInfo", {"Keywords", "new words"});
  std::string out = dir.file("xmp.pdf");
  EXPECT_TRUE(CBool(call(d, "Save", {acrobat::kSaveFull, out})));
  ReadBack r = readBack(out);
  for (const char* part : {"<rdf:li xml:lang='x-default'>Tom &amp; Jerry</rdf:li>",
                           "<rdf:Seq><rdf:li>Новый автор</rdf:li></rdf:Seq>", "pdf:Keywords='new words'"})
    EXPECT_THAT(r.xmp, HasSubstr(part));
  EXPECT_THAT(r.xmp, Not(HasSubstr("2001-01-01")));
  EXPECT_EQ(r.modDate.substr(0, 4), "D:20");
  EXPECT_THAT(r.xmp, HasSubstr("<xmp:ModifyDate>" + r.modDate.substr(2, 4) + "-"));
  expectClean(out);
}

TEST_F(PDDoc, IncrementalSaveOntoTheOpenFileAppendsAndCanRepeat) {
  std::string before = readFile(path);
  call(d, "SetInfo", {"Title", "First change"});
  EXPECT_TRUE(CBool(call(d, "Save", {acrobat::kSaveIncremental, path})));
  std::string after1 = readFile(path);
  ASSERT_GT(after1.size(), before.size());
  EXPECT_EQ(after1.substr(0, before.size()), before) << "an incremental save keeps the original bytes";
  EXPECT_EQ(readBack(path).title, "First change");
  // The document now stands on the file written: a second increment
  // appends to it, not to the bytes that were replaced.
  call(d, "SetInfo", {"Title", "Second change"});
  EXPECT_TRUE(CBool(call(d, "Save", {0, path})));
  EXPECT_EQ(readFile(path).substr(0, after1.size()), after1);
  EXPECT_EQ(readBack(path).title, "Second change");
  expectClean(path);
  EXPECT_EQ(dir.names(), std::vector<std::string>{"doc.pdf"}) << "no temporary file is left behind";
  EXPECT_EQ(CLng(call(d, "GetNumPages")), 3);
}

TEST_F(PDDoc, SavingOverAFileKeepsItsModeAndAMissingFolderGetsNothing) {
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  call(d, "SetInfo", {"Author", "Kept mode"});
  for (int32_t flags : {acrobat::kSaveFull, int32_t{0}}) {
    EXPECT_TRUE(CBool(call(d, "Save", {flags, path})));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "save flags " << flags;
  }
  EXPECT_EQ(readBack(path).author, "Kept mode");
  EXPECT_THROW(call(d, "Save", {1, dir.file("no/such/folder/x.pdf")}), AutomationError);
  EXPECT_EQ(dir.names(), std::vector<std::string>{"doc.pdf"});
}

// A copy leaves the document on its file; page mode and flags are kept;
// an insertion out of range changes nothing.
TEST_F(PDDoc, SaveCopyPageModeFlagsAndInsertionRange) {
  call(d, "SetInfo", {"Title", "Copy title"});
  EXPECT_TRUE(CBool(call(d, "SetPageMode", {acrobat::kPageModeUseBookmarks})));
  EXPECT_TRUE(CBool(call(d, "SetFlags", {256})));
  EXPECT_EQ(CLng(call(d, "GetFlags")) & 256, 256);
  EXPECT_THROW(call(d, "SetPageMode", {9}), AutomationError);
  std::string out = dir.file("copy.pdf");
  EXPECT_TRUE(CBool(call(d, "Save", {acrobat::kSaveFull | acrobat::kSaveCopy, out})));
  EXPECT_EQ(readBack(out).title, "Copy title");
  EXPECT_EQ(CStr(call(d, "GetFileName")), path);
  EXPECT_EQ(CLng(call(openPDDoc(out), "GetPageMode")), 3);
  ObjectRef src = openPDDoc(path);
  EXPECT_THROW(call(d, "InsertPages", {2, Variant(src), 2, 5, 0}), AutomationError);
  EXPECT_THROW(call(d, "InsertPages", {7, Variant(src), 0, 1, 0}), AutomationError);
  EXPECT_EQ(CLng(call(d, "GetNumPages")), 3);
}

// Each bad file in turn: missing, a folder, text, empty, a bare header, and
// an encrypted file without its password. Open answers False, a save
// attempt raises, and the folder and the file stay exactly as they were.
TEST_F(PdfTest, UnreadableFilesAreRefusedAndLeftAlone) {
  writeFile(dir.file("note.pdf"), "This is not a PDF at all.\n1 0 obj\n<<>>\nendobj\n");
  writeFile(dir.file("empty.pdf"), "");
  writeFile(dir.file("head.pdf"), "%PDF-1.7\n%garbage\n");
  DocSpec s = standardSpec();
  s.userPassword = "secret";
  makePdf(dir.file("locked.pdf"), s);
  for (std::string name : {"missing.pdf", "", "note.pdf", "empty.pdf", "head.pdf", "locked.pdf"}) {
    SCOPED_TRACE(name);
    std::string file = name.empty() ? dir.path() : dir.file(name);
    std::vector<std::string> before = dir.names();
    std::string bytes = name.empty() || !exists(file) ? "" : readFile(file);
    ObjectRef d = CreateObject(acrobat::kPDDoc);
    EXPECT_FALSE(CBool(call(d, "Open", {file})));
    EXPECT_THROW(call(d, "Save", {1, file}), AutomationError);
    EXPECT_THROW(call(d, "GetNumPages"), AutomationError) << "the object stays usable and holds no document";
    EXPECT_EQ(dir.names(), before);
    EXPECT_EQ(bytes.empty() ? "" : readFile(file), bytes);
  }
}

// Found by fuzzing: siblings linked into a loop made reading the children
// run for minutes, and a child pointing at its ancestor made copying the
// outline recurse without end.
TEST_F(PdfTest, LoopedOutlineIsReadOnceAndCopiedOnce) {
  DocSpec s = standardSpec();
  s.loopOutline = true;
  std::string looped = dir.file("looped.pdf");
  makePdf(looped, s);
  ObjectRef d = openPDDoc(looped);
  Variant kids = get(objectOf(get(objectOf(call(d, "GetJSObject")), "bookmarkRoot")), "children");
  ASSERT_TRUE(kids.isArray());
  EXPECT_EQ(kids.array().size(), 2u);
  ObjectRef target = CreateObject(acrobat::kPDDoc);
  call(target, "Create");
  EXPECT_TRUE(CBool(call(target, "InsertPages", {-1, Variant(d), 0, 3, true})));
  call(target, "Save", {1, dir.file("copied.pdf")});
  EXPECT_EQ(readBack(dir.file("copied.pdf")).outline.size(), 2u);
}

class Viewer : public PDDoc {
 protected:
  void SetUp() override {
    PDDoc::SetUp();
    app = CreateObject(acrobat::kApp);
  }
  void TearDown() override { call(app, "Exit"); }
  ObjectRef app;
};

TEST_F(Viewer, ActiveDocumentIsTheFrontOne) {
  EXPECT_FALSE(call(app, "GetActiveDoc").asObject()) << "Nothing while no document is open";
  ObjectRef a = objectOf(call(d, "OpenAVDoc", {"A"}));
  ObjectRef b = CreateObject(acrobat::kAVDoc);
  ASSERT_TRUE(CBool(call(b, "Open", {path, "B"})));
  EXPECT_EQ(CStr(call(objectOf(call(app, "GetActiveDoc")), "GetTitle")), "B");
  EXPECT_EQ(CLng(call(app, "GetNumAVDocs")), 2);
  call(a, "BringToFront");
  EXPECT_EQ(CStr(call(objectOf(call(app, "GetActiveDoc")), "GetTitle")), "A");
  // The viewer document and the PDDoc speak of one document.
  call(objectOf(call(a, "GetPDDoc")), "SetInfo", {"Title", "Seen by both"});
  EXPECT_EQ(CStr(call(d, "GetInfo", {"Title"})), "Seen by both");
  EXPECT_TRUE(CBool(call(a, "Close", {true})));
  EXPECT_FALSE(CBool(call(a, "IsValid")));
  EXPECT_EQ(CLng(call(d, "GetNumPages")), 3) << "the PDDoc keeps its document";
  // A viewer document whose Open fails: RealViewer.AViewerDocumentWhoseOpenFailedShowsNoDocument.
}

TEST_F(Viewer, MenuCommandsAndPrintingPagesThatDoNotExist) {
  EXPECT_THROW(call(app, "MenuItemExecute", {"NewBookmark"}), AutomationError) << "no document in the viewer";
  ObjectRef av = objectOf(call(d, "OpenAVDoc", {"m"}));
  ObjectRef pv = objectOf(call(av, "GetAVPageView"));
  call(app, "MenuItemExecute", {"LastPage"});
  EXPECT_EQ(CLng(call(pv, "GetPageNum")), 2);
  call(app, "MenuItemExecute", {"PrevPage"});
  EXPECT_EQ(CLng(call(pv, "GetPageNum")), 1);
  EXPECT_EQ(raised([&] { call(app, "MenuItemExecute", {"NoSuchCommand"}); }).description,
            "The viewer has no menu command \"NoSuchCommand\"");
  EXPECT_EQ(raised([&] {
              call(av, "PrintPagesSilent", {1, 3, 2, false, true});
            }).description,
            "Cannot print pages 1 to 3 of a document of 3 pages (page numbers start at 0)");
  // Reading aloud needs the speech synthesizer; without it, a clear error.
  TempDir noPrograms;
  ScopedEnv noPath("PATH", noPrograms.path());
  EXPECT_RAISES("espeak-ng", call(app, "MenuItemExecute", {"ADBE:ReadAloudStart"}));
}

}  // namespace pm::test
