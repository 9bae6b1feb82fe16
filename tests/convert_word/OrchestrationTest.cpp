// The Word and text-file conversions against the recording server, where the
// calls show what the real office hides: the printer set and given back,
// the steps a blank argument leaves out, and what the traps let go.
#include "convert_distill/Orchestrated.h"

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
  const Lines closeAndQuit = {"Document call Close(False)", "release Document", "Word.Application call Quit()",
                              "release Word.Application"};
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

TEST_F(WordOrchestration, ExportFailureClosesQuitsAndRemovesTheTemporaryFileButAWordOrientationFailureIsIgnored) {
  rec->on("Document", "ExportAsFixedFormat").fails(5216, "There is a printer error.");
  rec->on("PageSetup", "Orientation").fails(4608, "Value out of range");
  opens();
  EXPECT_EQ(raised([&] {
              call(pdf, "CreatePDFfromWord", {Arg(dir.file("out.pdf")), Arg(dir.file("in.doc"))});
            }).number,
            5216);
  EXPECT_EQ(tail(4), closeAndQuit);
  EXPECT_FALSE(tempLeft());
}

TEST_F(WordOrchestration, TextFileOrientationFailureIsNotIgnored) {
  rec->on("PageSetup", "Orientation").fails(4608, "Value out of range");
  opens();
  EXPECT_EQ(raised([&] {
              call(pdf, "CreatePSfromTextFile", {Arg(dir.file("out.ps")), Arg(dir.file("in.txt"))});
            }),
            (Raised{4608, "Value out of range", "Pressmark"}));
  EXPECT_EQ(tail(4), closeAndQuit);
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
