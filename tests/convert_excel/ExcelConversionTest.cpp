// The Excel conversions against the recording server: the order of the
// automation calls and the values passed, the print-file wait, and what the
// trap lets go after a failure.

// GCC 12 takes a member of std::regex's compiled states for uninitialised
// when the sanitizers instrument this file (a known false positive of its
// flow analysis); the warning says nothing about this code.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>

#include "automation/Automation.h"
#include "automation/surfaces/Distiller.h"
#include "component/frame/CreatePDF.h"
#include "servers/recording/Recorder.h"
#include "support/TestSupport.h"

using namespace pm;
using namespace pm::test;
using pm::recording::Recorder;

namespace {

// The value of a named argument in a recorded call ("" when absent).
std::string namedArg(std::span<const Arg> args, const std::string& name) {
  for (const Arg& a : args)
    if (LCase(a.name) == LCase(name)) return CStr(a.get());
  return {};
}

class ExcelOrchestration : public ::testing::Test {
 protected:
  void SetUp() override {
    rec = Recorder::create();
    rec->registerClass("Excel.Application");
    rec->registerClass(distiller::kEventClsid, distiller::eventSpecs());
    rec->registerClass(distiller::kSecurityClsid);
    rec->on("Excel.Application", "Workbooks").returnsObject("Workbooks");
    rec->on("Workbooks", "Open").returnsObject("Workbook");
    rec->on("Workbook", "Worksheets").returnsObject("Worksheet");
    rec->on("Worksheet", "PageSetup").returnsObject("PageSetup");
    rec->on("Worksheet", "Range").returnsObject("Range");
    rec->on("Excel.Application", "InchesToPoints").does([](auto&, std::span<const Arg> a) {
      return Variant(CDbl(a[0].get()) * 72);
    });
    // The printer writes its file when asked, as a driver would.
    rec->on("Range", "PrintOut").does([this](auto&, std::span<const Arg> a) {
      printedAt = std::chrono::steady_clock::now();
      writeFile(namedArg(a, "PrToFilename"), "%!PS-Adobe-3.0\n%%EOF\n");
      return Variant();
    });
    writeFile(dir.file("book.xls"), "a workbook");
    registerCreatePDF();
    pdf = CreateObject(kCreatePDFProgId);
    let(pdf, "TempFilePath", Variant(tmp()));
    rec->clear();
  }

  std::string tmp() const { return dir.path() + "/"; }
  std::vector<std::string> transcript() const {
    std::vector<std::string> out;
    std::regex temp(std::regex_replace(tmp(), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") + R"(\d+\.ps)");
    for (const std::string& l : rec->transcript()) out.push_back(std::regex_replace(l, temp, "<temp>.ps"));
    return out;
  }
  bool tempLeft() const {
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      if (e.path().extension() == ".ps" &&
          e.path().filename().string().find_first_not_of("0123456789.ps") == std::string::npos)
        return true;
    return false;
  }

  TempDir dir;
  std::shared_ptr<Recorder> rec;
  ObjectRef pdf;
  std::chrono::steady_clock::time_point printedAt;
};

TEST_F(ExcelOrchestration, CreatePSfromExcel2DefaultsAndWaitsForTheFile) {
  writeFile(dir.file("out.ps"), "old");
  auto before = std::chrono::steady_clock::now();
  call(
      pdf, "CreatePSfromExcel2",
      {Arg(dir.file("out.ps")), Arg(dir.file("book.xls")), Arg(Variant(int16_t{1})), Arg("B2"), Arg(Variant::missing()),
       Arg(""), Arg(""), Arg(false), Arg(false), Arg("  "), Arg(int32_t{1}), Arg("Page &P"), Arg(int32_t{0})});
  auto after = std::chrono::steady_clock::now();
  std::string in_ = dir.file("book.xls"), out_ = dir.file("out.ps");
  EXPECT_EQ(transcript(), (std::vector<std::string>{
                              "create Excel.Application",
                              "Excel.Application get Workbooks",
                              "Workbooks call Open(\"" + in_ + "\", WriteResPassword:=\"\", Password:=\"\")",
                              "release Workbooks",
                              "Excel.Application let DisplayAlerts = False",
                              "Workbook get Worksheets(1%)",
                              "Worksheet get PageSetup",
                              "PageSetup let PrintGridlines = False",
                              "PageSetup let Orientation = 1%",
                              "PageSetup let LeftFooter = \"Page &P\"",
                              "PageSetup let FirstPageNumber = 1&",
                              "release PageSetup",
                              "Worksheet get Range(\"B2\")",
                              "Range call PrintOut(Copies:=1%, preview:=False, PrintToFile:=True, Collate:=True, "
                              "PrToFilename:=\"" +
                                  out_ + "\", ActivePrinter:=\"Generic PostScript Printer\")",
                              "release Range",
                              "release Worksheet",
                              "Excel.Application let DisplayAlerts = True",
                              "Workbook call Close(False)",
                              "release Workbook",
                              "Excel.Application call Quit()",
                              "release Excel.Application",
                          }));
  EXPECT_EQ(readFile(out_), "%!PS-Adobe-3.0\n%%EOF\n") << "the old file was deleted and the printed one kept";
  EXPECT_GE(after - printedAt, std::chrono::milliseconds(2000)) << "one second before looking, one across the check";
  EXPECT_LT(after - before, std::chrono::seconds(5));
}

TEST_F(ExcelOrchestration, AFileThatNeverAppearsEndsTheWaitWithAnError) {
  ScopedEnv limit("PRESSMARK_PRINT_WAIT_TIMEOUT", "1.5");
  // A script of its own, in which the printer writes nothing.
  auto old = Recorder::create();
  rec.swap(old);
  rec->registerClass("Excel.Application");
  rec->on("Excel.Application", "Workbooks").returnsObject("Workbooks");
  rec->on("Workbooks", "Open").returnsObject("Workbook");
  rec->on("Workbook", "Worksheets").returnsObject("Worksheet");
  rec->on("Worksheet", "PageSetup").returnsObject("PageSetup");
  rec->on("Worksheet", "Range").returnsObject("Range");
  try {
    call(pdf, "CreatePDFfromExcel2", {Arg(dir.file("out.pdf")), Arg(dir.file("book.xls")), Arg("S"), Arg("A1")});
    FAIL() << "no error";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), kErrComponent);
    EXPECT_EQ(e.source(), "Pressmark");
    EXPECT_NE(e.description().find("was not complete within 1 seconds"), std::string::npos) << e.description();
  }
  std::vector<std::string> t = transcript();
  ASSERT_GE(t.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(t.end() - 4, t.end()),
            (std::vector<std::string>{"Workbook call Close(False)", "release Workbook", "Excel.Application call Quit()",
                                      "release Excel.Application"}));
  EXPECT_FALSE(tempLeft()) << "the temporary file goes with the failure";
}

TEST_F(ExcelOrchestration, MultiSheetWithOneBasedListsAndOneFirstPage) {
  Variant sheets(Array::vector({Variant("A"), Variant("B")}, 1)),
      ranges(Array::vector({Variant("A1:B2"), Variant("C3")}, 1));
  Variant distillerName("");
  call(pdf, "CreatePDFfromMultiExcel",
       {Arg(dir.file("out.pdf")),
        Arg(dir.file("book.xls")),
        ByRef(sheets),
        ByRef(ranges),
        Arg(""),
        Arg(""),
        Arg(false),
        Arg(Variant::missing()),
        Arg(""),
        Arg(int32_t{1}),
        Arg(""),
        Arg(int32_t{0}),
        Arg(0.0),
        Arg(0.0),
        Arg(0.0),
        Arg(0.0),
        Arg(0.0),
        Arg(0.0),
        Arg(int32_t{3}),
        ByRef(distillerName)});
  std::vector<std::string> t = transcript();
  std::vector<std::string> setups;
  for (const std::string& l : t)
    if (l.rfind("PageSetup let", 0) == 0 || l.rfind("Workbook get", 0) == 0 || l.rfind("Range call", 0) == 0)
      setups.push_back(l);
  EXPECT_EQ(setups, (std::vector<std::string>{
                        "Workbook get Worksheets(\"A\")",
                        "PageSetup let PrintGridlines = False",
                        "PageSetup let FirstPageNumber = 3&",
                        "Range call PrintOut(Copies:=1%, preview:=False, PrintToFile:=True, Collate:=True, "
                        "PrToFilename:=\"<temp>.ps\", ActivePrinter:=\"Acrobat Distiller\")",
                        "Workbook get Worksheets(\"B\")",
                        "PageSetup let PrintGridlines = False",
                        "PageSetup let FirstPageNumber = 3&",
                        "Range call PrintOut(Copies:=1%, preview:=False, PrintToFile:=True, Collate:=True, "
                        "PrToFilename:=\"<temp>.ps\", ActivePrinter:=\"Acrobat Distiller\")",
                    }))
      << "no orientation without varLandscape";
  std::string ev = distiller::kEventClsid;
  auto quit = std::find(t.begin(), t.end(), "Excel.Application call Quit()");
  auto distilled = std::find_if(t.begin(), t.end(),
                                [&](const std::string& l) { return l.find(" call FileToPDF(") != std::string::npos; });
  ASSERT_NE(distilled, t.end());
  EXPECT_LT(quit, distilled) << "Excel is quit before the files are joined";
  EXPECT_EQ(*distilled, ev + " call FileToPDF(\"" + dir.file("out.ps") + "\", \"" + dir.file("out.pdf") + "\", \"\")");
  EXPECT_EQ(distillerName, Variant("Acrobat Distiller"));
  EXPECT_FALSE(tempLeft()) << "every temporary file was deleted";
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.ps"))) << "the driver file is gone";
}

TEST_F(ExcelOrchestration, MultiSheet2TakesOrientationsAndFirstPagesFromArrays) {
  Variant sheets(V({Variant(int16_t{1}), Variant(int16_t{2})})), ranges(V({Variant("A1"), Variant("B1")}));
  Variant landscape(V({Variant(true), Variant(false)})), first(V({Variant(int32_t{4}), Variant("9")}));
  Variant opts("my.joboptions");
  call(pdf, "CreatePDFfromMultiExcel2",
       {Arg(dir.file("out.pdf")),
        Arg(dir.file("book.xls")),
        ByRef(sheets),
        ByRef(ranges),
        Arg("PS Queue"),
        Arg(""),
        Arg(""),
        Arg(true),
        ByRef(landscape),
        Arg(""),
        Arg(int32_t{1}),
        Arg(""),
        Arg(int32_t{0}),
        Arg(0.0),
        Arg(0.0),
        Arg(0.0),
        Arg(0.0),
        Arg(0.0),
        Arg(0.0),
        ByRef(first),
        Arg(""),
        Arg(false),
        Arg(false),
        ByRef(opts)});
  std::vector<std::string> t = transcript();
  std::vector<std::string> lets;
  for (const std::string& l : t)
    if (l.rfind("PageSetup let Orientation", 0) == 0 || l.rfind("PageSetup let FirstPageNumber", 0) == 0 ||
        l.find("ActivePrinter:=") != std::string::npos || l.find("FileToPDF") != std::string::npos)
      lets.push_back(std::regex_replace(l, std::regex(R"(, PrToFilename:=\"<temp>\.ps\")"), ""));
  std::string ev = distiller::kEventClsid;
  EXPECT_EQ(lets, (std::vector<std::string>{
                      "PageSetup let Orientation = 2%",
                      "PageSetup let FirstPageNumber = 4&",
                      "Range call PrintOut(Copies:=1%, preview:=False, PrintToFile:=True, Collate:=True, "
                      "ActivePrinter:=\"PS Queue\")",
                      "PageSetup let Orientation = 1%",
                      "PageSetup let FirstPageNumber = 9&",
                      "Range call PrintOut(Copies:=1%, preview:=False, PrintToFile:=True, Collate:=True, "
                      "ActivePrinter:=\"PS Queue\")",
                      ev + " call FileToPDF(\"" + dir.file("out.ps") + "\", \"" + dir.file("out.pdf") +
                          "\", \"my.joboptions\")",
                  }));
}

TEST_F(ExcelOrchestration, AMissingWorkbookOrWrongPasswordFailsBeforeAnyPrinting) {
  try {
    call(pdf, "CreatePSfromExcel", {Arg(dir.file("out.ps")), Arg(dir.file("none.xls")), Arg("S"), Arg("A1")});
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), kErrComponent);
    EXPECT_EQ(e.description(), "File " + dir.file("none.xls") + " does not exist.");
  }
  EXPECT_TRUE(transcript().empty()) << "Excel is not started";
  // A script of its own: the workbook never opens.
  auto fresh = Recorder::create();
  rec.swap(fresh);
  fresh.reset();
  rec->registerClass("Excel.Application");
  rec->on("Excel.Application", "Workbooks").returnsObject("Workbooks");
  rec->on("Workbooks", "Open").fails(1004, "The password you supplied is not correct.");
  try {
    call(pdf, "CreatePDFfromMultiExcel",
         {Arg(dir.file("out.pdf")), Arg(dir.file("book.xls")), Arg(V({Variant("S")})), Arg(V({Variant("A1")})),
          Arg("bad")});
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 1004);
    EXPECT_EQ(e.source(), "Pressmark");
    EXPECT_EQ(e.description(), "The password you supplied is not correct.");
  }
  EXPECT_EQ(transcript(),
            (std::vector<std::string>{
                "create Excel.Application",
                "Excel.Application get Workbooks",
                "Workbooks call Open(\"" + dir.file("book.xls") + "\", WriteResPassword:=\"\", Password:=\"bad\")",
                "release Workbooks",
                "Excel.Application call Quit()",
                "release Excel.Application",
            }));
}

}  // namespace
