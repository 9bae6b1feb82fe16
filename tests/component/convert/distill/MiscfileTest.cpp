// The three methods that print through Word, against the recording server:
// the Word sequence, the printer chosen, the temporary PostScript file, the
// distill step that follows, and the trap that closes and quits Word.
#include "component/convert/Orchestrated.h"

namespace pm::test {

namespace fs = std::filesystem;

namespace {

const std::string kEvent = distiller::kEventClsid;
const std::string kApp = "Word.Application";
const std::string kDoc = "Word.Document";

class MiscFileTest : public Orchestrated {
 protected:
  MiscFileTest() : Orchestrated({}) {
    freshRecorder();
    static_cast<CreatePDF&>(*pdf).strPrinterName = "Test Distiller Printer";
    moduleState().strAcrobatVersion = "8.0";
    fs::create_directories(dir.file("t"));
    moduleState().strTempFilePath = dir.file("t") + "/";
    writeFile(doc_, "a document");
  }

  // A new recording server (object names count from 1 again); Word opens
  // the document unless told otherwise.
  void freshRecorder(bool opens = true) {
    rec.reset();
    rec = Recorder::create();
    rec->registerClass(kApp);
    rec->registerClass(kEvent, distiller::eventSpecs());
    rec->registerClass(distiller::kSecurityClsid);
    rec->on(kApp, "Documents").returnsObject();
    if (opens) rec->on(kApp + ".Documents", "Open").returnsObject(kDoc);
    rec->on(kApp, "ActivePrinter").returns(Variant("Saved Printer"));
  }

  // The Word sequence of printing doc_ through printer to out.
  Lines wordSequence(const std::string& printer, const std::string& out) const {
    return Lines({"create " + kApp, kApp + " get Documents", kApp + ".Documents call Open(" + q(doc_) + ")",
                  "release " + kApp + ".Documents", kApp + " let DisplayAlerts = 0%", kApp + " get ActivePrinter",
                  kApp + " let ActivePrinter = " + q(printer),
                  kDoc + " call PrintOut(PrintToFile:=True, Background:=False, Outputfilename:=" + q(out) + ")",
                  kApp + " let ActivePrinter = \"Saved Printer\"", kApp + " let DisplayAlerts = -1%",
                  kDoc + " call Close(False)", "release " + kDoc, kApp + " call Quit()", "release " + kApp});
  }

  std::string doc_ = dir.file("letter.doc");
};

TEST_F(MiscFileTest, PSfromMiscFilePrintsThroughTheDistillerPrinterWhenNoneIsNamedAndTheOtherTakesItAsPassed) {
  std::string out = dir.file("out.ps");
  writeFile(out, "old");
  bool oldGone = false;
  rec->on(kDoc, "PrintOut").does([&](auto&, auto) {
    oldGone = !fs::exists(out);
    return Variant();
  });
  Variant vPs(out), vDoc(doc_), vDistiller(" ");
  call(pdf, "CreatePSfromMiscFile", {ByRef(vPs), ByRef(vDoc), ByRef(vDistiller)});
  EXPECT_EQ(rec->transcript(), wordSequence("Test Distiller Printer", out));
  EXPECT_EQ(vDistiller, Variant("Test Distiller Printer")) << "written back into the caller's strDistiller";
  EXPECT_TRUE(oldGone) << "an existing output is deleted before printing";

  freshRecorder();
  Variant named("Office PS");
  call(pdf, "CreatePSfromMiscFile", {ByRef(vPs), ByRef(vDoc), ByRef(named)});
  EXPECT_EQ(rec->transcript(), wordSequence("Office PS", out));
  EXPECT_EQ(named, Variant("Office PS"));
  // The "2" method takes the printer as passed, with no blank test.
  freshRecorder();
  call(pdf, "CreatePSfromMiscFile2", {ByRef(vPs), ByRef(vDoc)});
  EXPECT_EQ(rec->transcript(), wordSequence("Generic PostScript Printer", out));
  freshRecorder();
  Variant blank("");
  call(pdf, "CreatePSfromMiscFile2", {ByRef(vPs), ByRef(vDoc), ByRef(blank)});
  EXPECT_EQ(rec->transcript(), wordSequence("", out)) << "no blank test";
}

TEST_F(MiscFileTest, PDFfromMiscFileKeepsTheOldPdfUntilDistilledAndLeavesNoTemporaryFile) {
  std::string out = dir.file("out.pdf");
  writeFile(out, "old pdf");
  std::string printed;
  rec->on(kDoc, "PrintOut").does([&](auto&, std::span<const Arg> args) {
    printed = CStr(args[2].get());
    writeFile(printed, "%!PS printed\n");
    return Variant();
  });
  bool pdfKeptWhileDistilling = false;
  rec->on(kEvent, distiller::kFileToPDF).does([&](auto&, auto) {
    pdfKeptWhileDistilling = fs::exists(out);
    return Variant(int32_t{1});
  });
  Variant vPdf(out), vDoc(doc_), printer("PS Printer"), show(false), spool(false), opts(""), secure(false);
  call(pdf, "CreatePDFfromMiscFile",
       {ByRef(vPdf), ByRef(vDoc), ByRef(printer), ByRef(show), ByRef(spool), ByRef(opts), ByRef(secure)});

  // strTempFilePath & a random number & ".ps".
  ASSERT_EQ(fs::path(printed).parent_path().string() + "/", moduleState().strTempFilePath);
  std::string stem = fs::path(printed).stem().string();
  EXPECT_EQ(fs::path(printed).extension(), ".ps");
  EXPECT_FALSE(stem.empty());
  EXPECT_EQ(stem.find_first_not_of("0123456789"), std::string::npos) << stem;

  Lines expected = wordSequence("PS Printer", printed);
  for (const std::string& l :
       {"create " + kEvent, kEvent + " let bShowWindow = 0&", kEvent + " let bSpoolJobs = 0&",
        kEvent + " call FileToPDF(" + q(printed) + ", " + q(out) + ", \"\")", "release " + kEvent})
    expected.push_back(l);
  EXPECT_EQ(rec->transcript(), expected);
  EXPECT_TRUE(pdfKeptWhileDistilling) << "the old PDF stays until the Distiller replaces it";
  EXPECT_FALSE(fs::exists(printed)) << "no temporary PostScript file is left after success";
  EXPECT_TRUE(fs::is_empty(moduleState().strTempFilePath));
}

TEST_F(MiscFileTest, TheTrapClosesTheDocumentAndQuitsWord) {
  rec->on(kDoc, "PrintOut").fails(5152, "The printer is not installed");
  Variant vPs(dir.file("o.ps")), vDoc(doc_);
  EXPECT_EQ(raised([&] {
              call(pdf, "CreatePSfromMiscFile2", {ByRef(vPs), ByRef(vDoc), Variant("Nowhere")});
            }),
            (Raised{5152, "The printer is not installed", "Pressmark"}));
  Lines expected = wordSequence("Nowhere", dir.file("o.ps"));
  expected.resize(8);  // up to the PrintOut that failed; ActivePrinter is not restored
  for (const std::string& l :
       {kDoc + " call Close(False)", "release " + kDoc, kApp + " call Quit()", "release " + kApp})
    expected.push_back(l);
  EXPECT_EQ(rec->transcript(), expected);
}

TEST_F(MiscFileTest, TheTrapBeforeTheDocumentIsOpenOnlyQuitsWord) {
  freshRecorder(false);
  rec->on(kApp + ".Documents", "Open").fails(5408, "Word could not open the document");
  Variant vPs(dir.file("o.ps")), vDoc(doc_);
  EXPECT_THROW(call(pdf, "CreatePSfromMiscFile", {ByRef(vPs), ByRef(vDoc)}), AutomationError);
  EXPECT_EQ(rec->transcript(),
            (Lines{"create " + kApp, kApp + " get Documents", kApp + ".Documents call Open(" + q(doc_) + ")",
                   "release " + kApp + ".Documents", kApp + " call Quit()", "release " + kApp}));
}

TEST_F(MiscFileTest, AFailedDistillRemovesTheTemporaryFile) {
  moduleState().strAcrobatVersion = "5.0";
  rec->on(kEvent, distiller::kFileToPDF).fails(440, "Automation error");
  Variant vPdf(dir.file("f.pdf")), vDoc(doc_);
  EXPECT_EQ(raised([&] {
              call(pdf, "CreatePDFfromMiscFile", {ByRef(vPdf), ByRef(vDoc)});
            }),
            (Raised{440, "Automation error", "Pressmark"}));
  std::string left;
  for (const auto& e : fs::directory_iterator(moduleState().strTempFilePath))
    left += e.path().filename().string() + " ";
  EXPECT_EQ(left, "") << "no temporary PostScript file is left after a failure";
  // A failed job lets its Distiller go too, so the object is not left busy.
  EXPECT_FALSE(static_cast<CreatePDF&>(*pdf).distiller());
}

}  // namespace

}  // namespace pm::test
