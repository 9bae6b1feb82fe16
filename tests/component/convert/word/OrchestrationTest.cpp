// The Word and text-file conversions against the recording server, where the
// calls show what the real office hides: the printer set and given back,
// the steps a blank argument leaves out, and what the traps let go.
#include "component/convert/Orchestrated.h"

namespace pm::test {

namespace {

class WordOrchestration : public Orchestrated {
 protected:
  WordOrchestration() : Orchestrated({"Word.Application"}) {
    rec->on("Word.Application", "Documents").returnsObject("Documents");
    writeFile(dir.file("in.doc"), "a document");
    writeFile(dir.file("in.txt"), "text\r\n");
  }
  // The document opens (after the rules a test adds first).
  void opens() {
    for (auto [object, member, result] : {std::tuple{"Documents", "Open", "Document"},
                                          {"Document", "PageSetup", "PageSetup"},
                                          {"Document", "Content", "Content"},
                                          {"Content", "Font", "Font"},
                                          {"Document", "Sections", "Section"},
                                          {"Section", "Footers", "Footer"},
                                          {"Section", "Headers", "Header"}})
      rec->on(object, member).returnsObject(result);
    rec->on("Word.Application", "ActivePrinter").returns(Variant("Old Printer"));
  }
};

TEST_F(WordOrchestration, PrinterIsSetForThePrintAndTheOldOneGivenBack) {
  opens();
  writeFile(dir.file("out.ps"), "old");
  call(pdf, "CreatePSfromWord2", {Arg(dir.file("out.ps")), Arg(dir.file("in.doc"))});
  Lines t = rec->transcript();
  EXPECT_EQ(Lines(t.begin() + 9, t.end()),
            (Lines{"Word.Application let ActivePrinter = \"Generic PostScript Printer\"",
                   "Document call PrintOut(PrintToFile:=True, Background:=False, Outputfilename:=\"" +
                       dir.file("out.ps") + "\")",
                   "Word.Application let ActivePrinter = \"Old Printer\"", "Word.Application let DisplayAlerts = -1%",
                   "Document call Close(False)", "release Document", "Word.Application call Quit()",
                   "release Word.Application"}));
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.ps"))) << "the old PostScript file was deleted before printing";
}

// With every page wanted, the printer member exports too: nothing prints.
TEST_F(WordOrchestration, ThePrinterMemberExportsAWholeDocumentWithoutPrinting) {
  opens();
  call(pdf, "CreatePDFfromWord2", {Arg(dir.file("out.pdf")), Arg(dir.file("in.doc")), Arg("My PS")});
  Lines t = rec->transcript();
  EXPECT_TRUE(std::any_of(t.begin(), t.end(), [](auto& l) { return l.find("ExportAsFixedFormat(") != l.npos; }));
  EXPECT_FALSE(std::any_of(t.begin(), t.end(), [](auto& l) { return l.find("PrintOut") != l.npos; }));
}

TEST_F(WordOrchestration, WrongPasswordQuitsWordWithoutClosingADocument) {
  rec->on("Documents", "Open").fails(5408, "The password is incorrect. Word cannot open the document.");
  EXPECT_EQ(raised([&] {
              call(pdf, "CreatePDFfromWord", {Arg(dir.file("out.pdf")), Arg(dir.file("in.doc")), Arg("bad")});
            }),
            (Raised{5408, "The password is incorrect. Word cannot open the document.", "Pressmark"}));
  EXPECT_EQ(rec->transcript(),
            (Lines({"create Word.Application", "Word.Application get Documents",
                    "Documents call Open(\"" + dir.file("in.doc") +
                        "\", PasswordDocument:=\"bad\", WritePasswordDocument:=\"\")",
                    "release Documents", "Word.Application call Quit()", "release Word.Application"})));
}

// An orientation the office refuses is ignored for a Word document (its
// export fails later here) but not for a text file; either way Word closes
// and quits and no temporary file is left.
TEST_F(WordOrchestration, AnOrientationFailureIsIgnoredForAWordDocumentButNotForATextFile) {
  rec->on("Document", "ExportAsFixedFormat").fails(5216, "There is a printer error.");
  rec->on("PageSetup", "Orientation").fails(4608, "Value out of range");
  opens();
  // The recorder numbers the second Word it starts.
  for (auto [member, out, in, error, word] :
       {std::tuple{"CreatePDFfromWord", "out.pdf", "in.doc", Raised{5216, "There is a printer error.", "Pressmark"},
                   ""},
        {"CreatePSfromTextFile", "out.ps", "in.txt", Raised{4608, "Value out of range", "Pressmark"}, "#2"}}) {
    rec->clear();
    EXPECT_EQ(raised([&] { call(pdf, member, {Arg(dir.file(out)), Arg(dir.file(in))}); }), error) << member;
    EXPECT_EQ(tail(4), (Lines{"Document call Close(False)", "release Document",
                              "Word.Application" + std::string(word) + " call Quit()",
                              "release Word.Application" + std::string(word)}))
        << member;
    EXPECT_FALSE(tempLeft()) << member;
  }
}

TEST_F(WordOrchestration, TextFileDefaultsLeaveFontColourMarginsAndNumbersAlone) {
  opens();
  call(pdf, "CreatePDFfromTextFile", {Arg(dir.file("out.pdf")), Arg(dir.file("in.txt"))});
  EXPECT_TRUE(has("Font let Size = 8%")) << "size 8 without intFontSize";
  for (const std::string& l : rec->transcript())
    for (const char* untouched : {"Font let Name", "Font let Color", "Margin", "PageNumbers"})
      EXPECT_EQ(l.find(untouched), std::string::npos) << l;
  EXPECT_FALSE(tempLeft());
}

}  // namespace

}  // namespace pm::test
