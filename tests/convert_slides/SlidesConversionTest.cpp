// The PowerPoint and Publisher conversions against the recording server:
// calls in order, values passed, the print-file wait and the traps.

// GCC 12 takes a member of std::regex's compiled states for uninitialised
// when the sanitizers instrument this file (a known false positive of its
// flow analysis); the warning says nothing about this code.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "automation/Automation.h"
#include "automation/surfaces/Distiller.h"
#include "component/frame/CreatePDF.h"
#include "servers/recording/Recorder.h"
#include "support/TestSupport.h"

using namespace pm;
using namespace pm::test;
using pm::recording::Recorder;

namespace {

class SlidesOrchestration : public ::testing::Test {
 protected:
  void SetUp() override {
    rec = Recorder::create();
    rec->registerClass("Powerpoint.Application");
    rec->registerClass("Publisher.Application");
    rec->registerClass(distiller::kEventClsid, distiller::eventSpecs());
    rec->registerClass(distiller::kSecurityClsid);
    rec->on("Powerpoint.Application", "Presentations").returnsObject("Presentations");
    rec->on("Presentations", "Open").returnsObject("Presentation");
    rec->on("Presentation", "PrintOptions").returnsObject("PrintOptions");
    rec->on("Presentation", "PageSetup").returnsObject("PageSetup");
    rec->on("PrintOptions", "ActivePrinter").returns(Variant("Old Printer"));
    rec->on("Publisher.Application", "Open").returnsObject("Document");
    rec->on("Publisher.Application", "ActiveDocument").returnsObject("ActiveDocument");
    rec->on("ActiveDocument", "ActivePrinter").returns(Variant("Old Printer"));
    rec->on("ActiveDocument", "PrintOut").does([this](auto&, std::span<const Arg> a) {
      printedAt = std::chrono::steady_clock::now();
      writeFile(CStr(a[2].get()), "%!PS-Adobe-3.0\n");
      return Variant();
    });
    writeFile(dir.file("show.ppt"), "slides");
    writeFile(dir.file("leaflet.pub"), "pages");
    registerCreatePDF();
    pdf = CreateObject(kCreatePDFProgId);
    let(pdf, "TempFilePath", Variant(dir.path() + "/"));
    rec->clear();
  }
  std::vector<std::string> transcript() const {
    std::vector<std::string> out;
    std::regex temp(std::regex_replace(dir.path() + "/", std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                    R"(\d+\.ps)");
    for (const std::string& l : rec->transcript()) out.push_back(std::regex_replace(l, temp, "<temp>.ps"));
    return out;
  }
  bool tempLeft() const {
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      if (e.path().extension() == ".ps" && std::isdigit(static_cast<unsigned char>(e.path().filename().string()[0])))
        return true;
    return false;
  }
  TempDir dir;
  std::shared_ptr<Recorder> rec;
  ObjectRef pdf;
  std::chrono::steady_clock::time_point printedAt;
};

TEST_F(SlidesOrchestration, CreatePSfromPowerPointSlideRangeAndHorizontal) {
  writeFile(dir.file("out.ps"), "old");
  call(pdf, "CreatePSfromPowerPoint",
       {Arg(dir.file("out.ps")), Arg(dir.file("show.ppt")), Arg(int32_t{2}), Arg(int32_t{3}), Arg(true), Arg("My PS")});
  std::vector<std::string> t = transcript();
  auto has = [&](const std::string& l) { return std::find(t.begin(), t.end(), l) != t.end(); };
  EXPECT_TRUE(has("PageSetup let SlideOrientation = 1%"));
  EXPECT_TRUE(has("PrintOptions let ActivePrinter = \"My PS\""));
  EXPECT_TRUE(has("Presentation call PrintOut(PrintToFile:=\"" + dir.file("out.ps") + "\", From:=2&, To:=3&)"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.ps"))) << "deleted before printing; the recorder writes nothing";
  EXPECT_EQ(t.back(), "release Powerpoint.Application");
}

TEST_F(SlidesOrchestration, PrintOptionsAreSetBeforePrintingAndTheFileIsAwaited) {
  rec->on("Presentation", "PrintOut").does([this](auto&, std::span<const Arg> a) {
    printedAt = std::chrono::steady_clock::now();
    writeFile(CStr(a[0].get()), "%!PS-Adobe-3.0\n");
    return Variant();
  });
  call(pdf, "CreatePSfromPowerPoint2", {Arg(dir.file("out.ps")), Arg(dir.file("show.ppt"))});
  auto after = std::chrono::steady_clock::now();
  std::vector<std::string> t = transcript();
  std::vector<std::string> setup(t.begin() + 6, t.begin() + 16);
  EXPECT_EQ(setup, (std::vector<std::string>{
                       "Presentation get PrintOptions",
                       "Presentation get PageSetup",
                       "PageSetup let SlideOrientation = 2%",
                       "release PageSetup",
                       "PrintOptions get ActivePrinter",
                       "PrintOptions let ActivePrinter = \"Generic PostScript Printer\"",
                       "PrintOptions let PrintColorType = 1%",
                       "PrintOptions let PrintInBackground = 0%",
                       "Presentation call PrintOut(PrintToFile:=\"" + dir.file("out.ps") + "\", From:=-1%, To:=-1%)",
                       "PrintOptions let ActivePrinter = \"Old Printer\"",
                   }));
  EXPECT_GE(after - printedAt, std::chrono::milliseconds(2000)) << "the print-file wait of the PostScript \"2\" method";
  // Black and white sets no colour type.
  rec->clear();
  call(pdf, "CreatePSfromPowerPoint2",
       {Arg(dir.file("out.ps")), Arg(dir.file("show.ppt")), Arg("Q"), Arg(int32_t{1}), Arg(int32_t{1}), Arg(false),
        Arg(true)});
  for (const std::string& l : transcript()) EXPECT_EQ(l.find("PrintColorType"), std::string::npos) << l;
}

TEST_F(SlidesOrchestration, PowerPointFailureClosesAndQuits) {
  rec->on("Presentation", "PrintOut").fails(static_cast<int32_t>(0x80048240u), "Integer out of range.");
  try {
    call(pdf, "CreatePDFfromPowerPoint",
         {Arg(dir.file("out.pdf")), Arg(dir.file("show.ppt")), Arg(int32_t{9}), Arg(int32_t{12})});
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), static_cast<int32_t>(0x80048240u));
    EXPECT_EQ(e.source(), "Pressmark");
  }
  std::vector<std::string> t = transcript();
  std::vector<std::string> tail(t.end() - 5, t.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"release PrintOptions", "Presentation call Close()", "release Presentation",
                                            "Powerpoint.Application call Quit()", "release Powerpoint.Application"}))
      << "the printer is not restored after a failure";
  EXPECT_FALSE(tempLeft()) << "the temporary file goes with the failure";
  try {
    call(pdf, "CreatePDFfromPowerPoint", {Arg(dir.file("out.pdf")), Arg(dir.file("none.ppt"))});
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.description(), "File " + dir.file("none.ppt") + " does not exist.");
  }
}

TEST_F(SlidesOrchestration, CreatePDFfromPubWaitsAndWritesThePrinterBack) {
  Variant distillerName("");
  call(pdf, "CreatePDFfromPub", {Arg(dir.file("out.pdf")), Arg(dir.file("leaflet.pub")), ByRef(distillerName)});
  std::string ev = distiller::kEventClsid;
  EXPECT_EQ(transcript(), (std::vector<std::string>{
                              "create Publisher.Application",
                              "Publisher.Application call Open(\"" + dir.file("leaflet.pub") + "\")",
                              "release Document",
                              "Publisher.Application get ActiveDocument",
                              "ActiveDocument get ActivePrinter",
                              "release ActiveDocument",
                              "Publisher.Application get ActiveDocument",
                              "ActiveDocument let ActivePrinter = \"Acrobat Distiller\"",
                              "release ActiveDocument",
                              "Publisher.Application get ActiveDocument",
                              "ActiveDocument call PrintOut(Missing, Missing, \"<temp>.ps\")",
                              "release ActiveDocument",
                              "Publisher.Application get ActiveDocument",
                              "ActiveDocument let ActivePrinter = \"Old Printer\"",
                              "release ActiveDocument",
                              "Publisher.Application get ActiveDocument",
                              "ActiveDocument call Close()",
                              "release ActiveDocument",
                              "Publisher.Application call Quit()",
                              "release Publisher.Application",
                              "create " + ev,
                              ev + " let bShowWindow = 0&",
                              ev + " let bSpoolJobs = 0&",
                              ev + " call FileToPDF(\"<temp>.ps\", \"" + dir.file("out.pdf") + "\", \"\")",
                              "release " + ev,
                          }));
  EXPECT_EQ(distillerName, Variant("Acrobat Distiller"));
  EXPECT_FALSE(tempLeft()) << "no temporary file after success";
}

TEST_F(SlidesOrchestration, CreatePSfromPub2ReturnsOnlyOnceTheFileIsStable) {
  // The driver writes the file in two steps after PrintOut has returned.
  auto own = Recorder::create();
  rec.swap(own);
  rec->registerClass("Publisher.Application");
  rec->on("Publisher.Application", "Open").returnsObject("Document");
  rec->on("Publisher.Application", "ActiveDocument").returnsObject("ActiveDocument");
  rec->on("ActiveDocument", "ActivePrinter").returns(Variant("Old Printer"));
  std::thread writer;
  rec->on("ActiveDocument", "PrintOut").does([&](auto&, std::span<const Arg> a) {
    printedAt = std::chrono::steady_clock::now();
    std::string path = CStr(a[2].get());
    writer = std::thread([path] {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      writeFile(path, "%!PS");
      std::this_thread::sleep_for(std::chrono::milliseconds(600));
      writeFile(path, "%!PS-Adobe-3.0\n%%EOF\n");
    });
    return Variant();
  });
  std::vector<std::string> t;
  call(pdf, "CreatePSfromPub2", {Arg(dir.file("out.ps")), Arg(dir.file("leaflet.pub"))});
  auto after = std::chrono::steady_clock::now();
  if (writer.joinable()) writer.join();
  EXPECT_GE(after - printedAt, std::chrono::milliseconds(2000));
  EXPECT_EQ(readFile(dir.file("out.ps")), "%!PS-Adobe-3.0\n%%EOF\n") << "the wait saw the file grow and waited again";
  t = transcript();
  EXPECT_NE(std::find(t.begin(), t.end(), "ActiveDocument let ActivePrinter = \"Generic PostScript Printer\""),
            t.end());
}

TEST_F(SlidesOrchestration, Pub2TrapIgnoresCleanUpErrors) {
  auto own = Recorder::create();
  rec.swap(own);
  rec->registerClass("Publisher.Application");
  rec->on("Publisher.Application", "Open").fails(static_cast<int32_t>(0x80004005u), "Publisher cannot open the file.");
  rec->on("Publisher.Application", "ActiveDocument").fails(91, "no document");
  try {
    call(pdf, "CreatePDFfromPub2", {Arg(dir.file("out.pdf")), Arg(dir.file("leaflet.pub"))});
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), static_cast<int32_t>(0x80004005u));
    EXPECT_EQ(e.description(), "Publisher cannot open the file.");
  }
  EXPECT_EQ(transcript(), (std::vector<std::string>{
                              "create Publisher.Application",
                              "Publisher.Application call Open(\"" + dir.file("leaflet.pub") + "\")",
                              "Publisher.Application get ActiveDocument",
                              "Publisher.Application call Quit()",
                              "release Publisher.Application",
                          }));
}

}  // namespace
