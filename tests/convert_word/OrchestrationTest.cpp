// The Word and text-file conversions against the recording server: the
// order of the automation calls and the values passed, compared as one
// transcript per case, and what the trap lets go after a failure.

// GCC 12 takes a member of std::regex's compiled states for uninitialised
// when the sanitizers instrument this file (a known false positive of its
// flow analysis); the warning says nothing about this code.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "automation/Automation.h"
#include "automation/surfaces/Distiller.h"
#include "component/frame/CreatePDF.h"
#include "component/frame/ModuleState.h"
#include "servers/recording/Recorder.h"
#include "support/TestSupport.h"

using namespace pm;
using namespace pm::test;
using pm::recording::Recorder;

namespace {

class WordOrchestration : public ::testing::Test {
 protected:
  void SetUp() override {
    rec = Recorder::create();
    rec->registerClass("Word.Application");
    rec->registerClass(distiller::kEventClsid, distiller::eventSpecs());
    rec->registerClass(distiller::kSecurityClsid);
    rec->on("Word.Application", "Documents").returnsObject("Documents");
    rec->on("Documents", "Open").returnsObject("Document");
    rec->on("Document", "PageSetup").returnsObject("PageSetup");
    rec->on("Document", "Content").returnsObject("Content");
    rec->on("Content", "Font").returnsObject("Font");
    rec->on("Document", "Sections").returnsObject("Section");
    rec->on("Section", "Footers").returnsObject("Footer");
    rec->on("Section", "Headers").returnsObject("Header");
    rec->on("*", "PageNumbers").returnsObject("PageNumbers");
    rec->on("Word.Application", "ActivePrinter").returns(Variant("Old Printer"));
    writeFile(dir.file("in.doc"), "a document");
    registerCreatePDF();
    pdf = CreateObject(kCreatePDFProgId);
    let(pdf, "TempFilePath", Variant(tmp()));
    rec->clear();
  }

  std::string tmp() const { return dir.path() + "/"; }

  // The transcript with the random temporary name made readable.
  std::vector<std::string> transcript() const {
    std::vector<std::string> out;
    std::regex temp(std::regex_replace(tmp(), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") + R"(\d+\.(ps|pdf))");
    for (const std::string& l : rec->transcript()) out.push_back(std::regex_replace(l, temp, "<temp>.$1"));
    return out;
  }

  bool tempLeft() const {
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      if (e.path().extension() == ".ps" || e.path().extension() == ".pdf") return true;
    return false;
  }

  TempDir dir;
  std::shared_ptr<Recorder> rec;
  ObjectRef pdf;
};

TEST_F(WordOrchestration, CreatePSfromWord2DefaultsToTheGenericPrinter) {
  writeFile(dir.file("out.ps"), "old");
  call(pdf, "CreatePSfromWord2", {Arg(dir.file("out.ps")), Arg(dir.file("in.doc"))});
  std::string in_ = dir.file("in.doc"), out_ = dir.file("out.ps");
  EXPECT_EQ(transcript(),
            (std::vector<std::string>{
                "create Word.Application",
                "Word.Application get Documents",
                "Documents call Open(\"" + in_ + "\", PasswordDocument:=\"\", WritePasswordDocument:=\"\")",
                "release Documents",
                "Word.Application let DisplayAlerts = 0%",
                "Document get PageSetup",
                "PageSetup let Orientation = 0%",
                "release PageSetup",
                "Word.Application get ActivePrinter",
                "Word.Application let ActivePrinter = \"Generic PostScript Printer\"",
                "Document call PrintOut(PrintToFile:=True, Background:=False, Outputfilename:=\"" + out_ + "\")",
                "Word.Application let ActivePrinter = \"Old Printer\"",
                "Word.Application let DisplayAlerts = -1%",
                "Document call Close(False)",
                "release Document",
                "Word.Application call Quit()",
                "release Word.Application",
            }));
  EXPECT_FALSE(std::filesystem::exists(out_)) << "the old PostScript file was deleted before printing";
}

TEST_F(WordOrchestration, NoVersionNeverTakesTheSecurityPathAndBlankPagesPrintAll) {
  Variant security(true);
  call(pdf, "CreatePDFfromWord2",
       {Arg(dir.file("out.pdf")), Arg(dir.file("in.doc")), Arg("My PS"), Arg(""), Arg(""), Arg("   "), Arg(false),
        Arg(false), Arg(false), Arg(int32_t{0}), Arg(false), Arg(true), Arg(false), Arg("opts.joboptions"),
        ByRef(security)});
  std::vector<std::string> t = transcript();
  // Version text empty: never the security path, whatever is asked.
  EXPECT_NE(std::find(t.begin(), t.end(), "Word.Application let ActivePrinter = \"My PS\""), t.end());
  // Nothing needs PostScript: the office's own PDF of every page goes to
  // the Distiller, job options and all.
  EXPECT_NE(std::find(t.begin(), t.end(),
                      "Document call ExportAsFixedFormat(OutputFileName:=\"<temp>.pdf\", ExportFormat:=17%)"),
            t.end())
      << "blank pages export the whole document";
  EXPECT_EQ(std::find_if(t.begin(), t.end(), [](const std::string& l) { return l.find("PrintOut") != l.npos; }),
            t.end());
  EXPECT_NE(std::find(t.begin(), t.end(), std::string(distiller::kEventClsid) + " let bShowWindow = -1&"), t.end());
  EXPECT_NE(std::find(t.begin(), t.end(),
                      std::string(distiller::kEventClsid) + " call FileToPDF(\"<temp>.pdf\", \"" + dir.file("out.pdf") +
                          "\", \"opts.joboptions\")"),
            t.end());
  // A page list, which the export cannot take, still prints PostScript.
  rec->clear();
  call(pdf, "CreatePDFfromWord", {Arg(dir.file("out.pdf")), Arg(dir.file("in.doc")), Arg(""), Arg(""), Arg("2-3")});
  t = transcript();
  EXPECT_NE(std::find(t.begin(), t.end(),
                      "Document call PrintOut(PrintToFile:=True, Background:=False, Pages:=\"2-3\", Range:=4%, "
                      "Outputfilename:=\"<temp>.ps\")"),
            t.end());
  const std::string distilled = " call FileToPDF(\"<temp>.ps\", \"" + dir.file("out.pdf") + "\", \"\")";
  EXPECT_NE(std::find_if(t.begin(), t.end(), [&](const std::string& l) { return l.ends_with(distilled); }), t.end());
}

TEST_F(WordOrchestration, SecurityPathOnlyAboveVersion5WithTrue) {
  std::string sec = distiller::kSecurityClsid, ev = distiller::kEventClsid;
  struct Case {
    const char* version;
    Variant apply;
    bool secure;
  } cases[] = {{"8.0", Variant(true), true},
               {"5.0", Variant(true), false},
               {"8.0", Variant(int32_t{1}), false},
               {"", Variant(true), false}};
  rec->on(sec, distiller::kFileToPDF2).returns(Variant(int32_t{1}));
  for (const Case& c : cases) {
    moduleState().strAcrobatVersion = c.version;
    rec->clear();
    Variant apply = c.apply;
    call(pdf, "CreatePDFfromWord",
         {Arg(dir.file("out.pdf")), Arg(dir.file("in.doc")), Arg(""), Arg(""), Arg(""), Arg(false), Arg(false),
          Arg(false), Arg(int32_t{0}), Arg(false), Arg(""), Arg(false), Arg(true), Arg(""), ByRef(apply)});
    std::vector<std::string> t = transcript();
    std::vector<std::string> tail(t.end() - 5, t.end());
    if (c.secure)
      EXPECT_EQ(tail, (std::vector<std::string>{
                          "create " + sec, sec + " let bShowWindow = 0&", sec + " let bSpoolJobs = -1&",
                          sec + " call FileToPDF2(\"<temp>.pdf\", \"" + dir.file("out.pdf") + "\", \"\", True)",
                          "release " + sec}))
          << c.version;
    else
      EXPECT_EQ(tail[0].rfind("create " + ev, 0), 0u) << c.version << ": " << tail[0];
  }
  moduleState().strAcrobatVersion.clear();
}

TEST_F(WordOrchestration, WrongPasswordGoesThroughTheTrapAndQuitsWord) {
  // A script of its own: the document never opens.
  rec.reset();
  rec = Recorder::create();
  rec->registerClass("Word.Application");
  rec->on("Word.Application", "Documents").returnsObject("Documents");
  rec->on("Documents", "Open").fails(5408, "The password is incorrect. Word cannot open the document.");
  try {
    call(pdf, "CreatePDFfromWord", {Arg(dir.file("out.pdf")), Arg(dir.file("in.doc")), Arg("bad")});
    FAIL() << "no error";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 5408);
    EXPECT_EQ(e.source(), "Pressmark");
    EXPECT_EQ(e.description(), "The password is incorrect. Word cannot open the document.");
  }
  std::string in_ = dir.file("in.doc");
  EXPECT_EQ(transcript(),
            (std::vector<std::string>{
                "create Word.Application",
                "Word.Application get Documents",
                "Documents call Open(\"" + in_ + "\", PasswordDocument:=\"bad\", WritePasswordDocument:=\"\")",
                "release Documents",
                "Word.Application call Quit()",
                "release Word.Application",
            }));
}

TEST_F(WordOrchestration, PrintFailureRemovesTheTemporaryFileAndClosesTheDocument) {
  rec->on("Document", "ExportAsFixedFormat").fails(5216, "There is a printer error.");
  rec->on("PageSetup", "Orientation").fails(4608, "Value out of range");  // ignored in this step
  EXPECT_THROW(call(pdf, "CreatePDFfromWord", {Arg(dir.file("out.pdf")), Arg(dir.file("in.doc"))}), AutomationError);
  std::vector<std::string> t = transcript();
  ASSERT_GE(t.size(), 4u);
  EXPECT_EQ(t[t.size() - 4], "Document call Close(False)");
  EXPECT_EQ(t[t.size() - 3], "release Document");
  EXPECT_EQ(t[t.size() - 2], "Word.Application call Quit()");
  EXPECT_EQ(t[t.size() - 1], "release Word.Application");
  EXPECT_FALSE(tempLeft()) << "the temporary PDF file goes with the failure";
}

TEST_F(WordOrchestration, MissingDocumentIsReportedBeforeWordStarts) {
  try {
    call(pdf, "CreatePSfromWord", {Arg(dir.file("out.ps")), Arg(dir.file("none.doc"))});
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), kErrComponent);
    EXPECT_EQ(e.description(), "File " + dir.file("none.doc") + " does not exist.");
  }
  try {
    call(pdf, "CreatePDFfromTextFile", {Arg(dir.file("out.pdf")), Arg(dir.file("none.txt"))});
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.description(), "File " + dir.file("none.txt") + " does not exist.");
  }
  EXPECT_TRUE(transcript().empty());
}

TEST_F(WordOrchestration, TextFileDefaultsKeepFontAndColour) {
  writeFile(dir.file("in.txt"), "text\r\n");
  call(pdf, "CreatePDFfromTextFile", {Arg(dir.file("out.pdf")), Arg(dir.file("in.txt"))});
  std::vector<std::string> t = transcript();
  auto has = [&](const std::string& l) { return std::find(t.begin(), t.end(), l) != t.end(); };
  EXPECT_TRUE(has("Font let Size = 8%")) << "size 8 without intFontSize";
  EXPECT_FALSE(has("Font let Name = \"\"")) << "a blank font keeps the document's font";
  for (const std::string& l : t) {
    EXPECT_EQ(l.find("Font let Color"), std::string::npos) << "colour 0 keeps the document's colour";
    EXPECT_EQ(l.find("Margin"), std::string::npos) << "margins of 0 keep Word's";
    EXPECT_EQ(l.find("PageNumbers"), std::string::npos);
  }
  EXPECT_TRUE(has("PageSetup let Orientation = 0%"));
  EXPECT_FALSE(tempLeft());
}

TEST_F(WordOrchestration, TextOrientationFailureIsNotIgnored) {
  writeFile(dir.file("in.txt"), "text\r\n");
  rec->on("PageSetup", "Orientation").fails(4608, "Value out of range");
  try {
    call(pdf, "CreatePSfromTextFile", {Arg(dir.file("out.ps")), Arg(dir.file("in.txt"))});
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 4608);
    EXPECT_EQ(e.source(), "Pressmark");
  }
  std::vector<std::string> t = transcript();
  EXPECT_EQ(t.back(), "release Word.Application");
  EXPECT_NE(std::find(t.begin(), t.end(), "Document call Close(False)"), t.end());
}

}  // namespace
