// The three methods that print through Word, against the recording server:
// the Word sequence, the printer chosen, the temporary PostScript file, the
// distill step that follows, and the trap that closes and quits Word.
#include <gtest/gtest.h>

#include <filesystem>

#include "automation/surfaces/Distiller.h"
#include "component/frame/CreatePDF.h"
#include "component/frame/ModuleState.h"
#include "servers/recording/Recorder.h"
#include "support/Raised.h"
#include "support/TestSupport.h"

namespace pm::test {

using pm::recording::Recorder;
namespace fs = std::filesystem;

namespace {

const std::string kEvent = distiller::kEventClsid;
const std::string kSecure = distiller::kSecurityClsid;
const std::string kApp = "Word.Application";
const std::string kDoc = "Word.Document";

std::string q(const std::string& s) {
  return recording::Describe(Variant(s));
}

class MiscFileTest : public ::testing::Test {
 protected:
  MiscFileTest() : registry_("PRESSMARK_REGISTRY", registryDir_.path()) {
    freshRecorder();
    registerCreatePDF();
    pdf_ = CreateObject(kCreatePDFProgId);
    static_cast<CreatePDF&>(*pdf_).strPrinterName = "Test Distiller Printer";
    moduleState().strAcrobatVersion = "8.0";
    fs::create_directories(temp_.file("t"));
    moduleState().strTempFilePath = temp_.file("t") + "/";
    writeFile(doc_, "a document");
  }

  // A new recording server (object names count from 1 again); Word opens
  // the document unless told otherwise.
  void freshRecorder(bool opens = true) {
    rec_.reset();
    rec_ = Recorder::create();
    rec_->registerClass(kApp);
    rec_->registerClass(kEvent, distiller::eventSpecs());
    rec_->registerClass(kSecure);
    rec_->on(kApp, "Documents").returnsObject();
    if (opens) rec_->on(kApp + ".Documents", "Open").returnsObject(kDoc);
    rec_->on(kApp, "ActivePrinter").returns(Variant("Saved Printer"));
  }

  // The Word sequence of printing doc_ through printer to out.
  std::vector<std::string> wordSequence(const std::string& printer, const std::string& out) const {
    return std::vector<std::string>(
        {"create " + kApp, kApp + " get Documents", kApp + ".Documents call Open(" + q(doc_) + ")",
         "release " + kApp + ".Documents", kApp + " let DisplayAlerts = 0%", kApp + " get ActivePrinter",
         kApp + " let ActivePrinter = " + q(printer),
         kDoc + " call PrintOut(PrintToFile:=True, Background:=False, Outputfilename:=" + q(out) + ")",
         kApp + " let ActivePrinter = \"Saved Printer\"", kApp + " let DisplayAlerts = -1%",
         kDoc + " call Close(False)", "release " + kDoc, kApp + " call Quit()", "release " + kApp});
  }

  TempDir registryDir_;
  test::ScopedEnv registry_;
  TempDir temp_;
  std::string doc_ = temp_.file("letter.doc");
  std::shared_ptr<Recorder> rec_;
  ObjectRef pdf_;
};

TEST_F(MiscFileTest, PSfromMiscFilePrintsThroughTheDistillerPrinterWhenNoneIsNamed) {
  std::string out = temp_.file("out.ps");
  writeFile(out, "old");
  bool oldGone = false;
  rec_->on(kDoc, "PrintOut").does([&](auto&, auto) {
    oldGone = !fs::exists(out);
    return Variant();
  });
  Variant vPs(out), vDoc(doc_), vDistiller(" ");
  call(pdf_, "CreatePSfromMiscFile", {ByRef(vPs), ByRef(vDoc), ByRef(vDistiller)});
  EXPECT_EQ(rec_->transcript(), wordSequence("Test Distiller Printer", out));
  EXPECT_EQ(vDistiller, Variant("Test Distiller Printer")) << "written back into the caller's strDistiller";
  EXPECT_TRUE(oldGone) << "an existing output is deleted before printing";

  freshRecorder();
  Variant named("Office PS");
  call(pdf_, "CreatePSfromMiscFile", {ByRef(vPs), ByRef(vDoc), ByRef(named)});
  EXPECT_EQ(rec_->transcript(), wordSequence("Office PS", out));
  EXPECT_EQ(named, Variant("Office PS"));
}

TEST_F(MiscFileTest, PSfromMiscFile2UsesThePrinterAsPassed) {
  std::string out = temp_.file("out.ps");
  Variant vPs(out), vDoc(doc_);
  call(pdf_, "CreatePSfromMiscFile2", {ByRef(vPs), ByRef(vDoc)});
  EXPECT_EQ(rec_->transcript(), wordSequence("Generic PostScript Printer", out));

  freshRecorder();
  Variant blank("");
  call(pdf_, "CreatePSfromMiscFile2", {ByRef(vPs), ByRef(vDoc), ByRef(blank)});
  EXPECT_EQ(rec_->transcript(), wordSequence("", out)) << "no blank test";
}

TEST_F(MiscFileTest, PDFfromMiscFileKeepsTheOldPdfUntilDistilledAndLeavesNoTemporaryFile) {
  std::string out = temp_.file("out.pdf");
  writeFile(out, "old pdf");
  std::string printed;
  rec_->on(kDoc, "PrintOut").does([&](auto&, std::span<const Arg> args) {
    printed = CStr(args[2].get());
    writeFile(printed, "%!PS printed\n");
    return Variant();
  });
  bool pdfKeptWhileDistilling = false;
  rec_->on(kEvent, distiller::kFileToPDF).does([&](auto&, auto) {
    pdfKeptWhileDistilling = fs::exists(out);
    return Variant(int32_t{1});
  });
  Variant vPdf(out), vDoc(doc_), printer("PS Printer"), show(false), spool(false), opts(""), secure(false);
  call(pdf_, "CreatePDFfromMiscFile",
       {ByRef(vPdf), ByRef(vDoc), ByRef(printer), ByRef(show), ByRef(spool), ByRef(opts), ByRef(secure)});

  // strTempFilePath & a random number & ".ps".
  ASSERT_EQ(fs::path(printed).parent_path().string() + "/", moduleState().strTempFilePath);
  std::string stem = fs::path(printed).stem().string();
  EXPECT_EQ(fs::path(printed).extension(), ".ps");
  EXPECT_FALSE(stem.empty());
  EXPECT_EQ(stem.find_first_not_of("0123456789"), std::string::npos) << stem;

  std::vector<std::string> expected = wordSequence("PS Printer", printed);
  for (const std::string& l :
       {"create " + kEvent, kEvent + " let bShowWindow = 0&", kEvent + " let bSpoolJobs = 0&",
        kEvent + " call FileToPDF(" + q(printed) + ", " + q(out) + ", \"\")", "release " + kEvent})
    expected.push_back(l);
  EXPECT_EQ(rec_->transcript(), expected);
  EXPECT_TRUE(pdfKeptWhileDistilling) << "the old PDF stays until the Distiller replaces it";
  EXPECT_FALSE(fs::exists(printed)) << "no temporary PostScript file is left after success";
  EXPECT_TRUE(fs::is_empty(moduleState().strTempFilePath));
}

TEST_F(MiscFileTest, AMissingDocumentIsReportedBeforeWordStarts) {
  for (const char* method : {"CreatePSfromMiscFile", "CreatePSfromMiscFile2", "CreatePDFfromMiscFile"}) {
    std::string missing = temp_.file("gone.doc");
    Variant out(temp_.file("x.out")), vDoc(missing);
    EXPECT_EQ(raised([&] {
                call(pdf_, method, {ByRef(out), ByRef(vDoc)});
              }),
              (Raised{-2147467008, "File " + missing + " does not exist.", "Pressmark"}))
        << method;
  }
  EXPECT_TRUE(rec_->transcript().empty());
}

TEST_F(MiscFileTest, TheTrapClosesTheDocumentAndQuitsWord) {
  rec_->on(kDoc, "PrintOut").fails(5152, "The printer is not installed");
  Variant vPs(temp_.file("o.ps")), vDoc(doc_);
  EXPECT_EQ(raised([&] {
              call(pdf_, "CreatePSfromMiscFile2", {ByRef(vPs), ByRef(vDoc), Variant("Nowhere")});
            }),
            (Raised{5152, "The printer is not installed", "Pressmark"}));
  std::vector<std::string> expected = wordSequence("Nowhere", temp_.file("o.ps"));
  expected.resize(8);  // up to the PrintOut that failed; ActivePrinter is not restored
  for (const std::string& l :
       {kDoc + " call Close(False)", "release " + kDoc, kApp + " call Quit()", "release " + kApp})
    expected.push_back(l);
  EXPECT_EQ(rec_->transcript(), expected);
}

TEST_F(MiscFileTest, TheTrapBeforeTheDocumentIsOpenOnlyQuitsWord) {
  freshRecorder(false);
  rec_->on(kApp + ".Documents", "Open").fails(5408, "Word could not open the document");
  Variant vPs(temp_.file("o.ps")), vDoc(doc_);
  EXPECT_THROW(call(pdf_, "CreatePSfromMiscFile", {ByRef(vPs), ByRef(vDoc)}), AutomationError);
  EXPECT_EQ(rec_->transcript(),
            (std::vector<std::string>{"create " + kApp, kApp + " get Documents",
                                      kApp + ".Documents call Open(" + q(doc_) + ")", "release " + kApp + ".Documents",
                                      kApp + " call Quit()", "release " + kApp}));
}

TEST_F(MiscFileTest, AFailedDistillRemovesTheTemporaryFile) {
  moduleState().strAcrobatVersion = "5.0";
  rec_->on(kEvent, distiller::kFileToPDF).fails(440, "Automation error");
  Variant vPdf(temp_.file("f.pdf")), vDoc(doc_);
  EXPECT_EQ(raised([&] {
              call(pdf_, "CreatePDFfromMiscFile", {ByRef(vPdf), ByRef(vDoc)});
            }),
            (Raised{440, "Automation error", "Pressmark"}));
  std::string left;
  for (const auto& e : fs::directory_iterator(moduleState().strTempFilePath))
    left += e.path().filename().string() + " ";
  EXPECT_EQ(left, "") << "no temporary PostScript file is left after a failure";
  // A failed job lets its Distiller go too, so the object is not left busy.
  EXPECT_FALSE(static_cast<CreatePDF&>(*pdf_).distiller());
}

}  // namespace

}  // namespace pm::test
