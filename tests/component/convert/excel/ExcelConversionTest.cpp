// The Excel conversions against the recording server, where the calls show
// what the real office hides: the argument types Excel gets, the print-file
// wait, the per-sheet page set-up of the multi-sheet methods, and what the
// traps let go.
#include "component/convert/Orchestrated.h"

namespace pm::test {

namespace {

const std::string kDistiller = distiller::kEventClsid;

class ExcelOrchestration : public Orchestrated {
 protected:
  ExcelOrchestration() : Orchestrated({"Excel.Application"}) {
    rec->on("Excel.Application", "Workbooks").returnsObject("Workbooks");
    writeFile(dir.file("book.xls"), "a workbook");
  }
  // The workbook opens; the printer writes its file when asked, as a driver
  // would, unless silent.
  void opens(bool printerWrites = true) {
    rec->on("Workbooks", "Open").returnsObject("Workbook");
    rec->on("Workbook", "Worksheets").returnsObject("Worksheet");
    rec->on("Worksheet", "PageSetup").returnsObject("PageSetup");
    rec->on("Worksheet", "Range").returnsObject("Range");
    if (!printerWrites) return;
    rec->on("Range", "PrintOut").does([this](auto&, std::span<const Arg> a) {
      for (const Arg& x : a)
        if (LCase(x.name) == "prtofilename") writeFile(CStr(x.get()), "%!PS-Adobe-3.0\n%%EOF\n");
      return Variant();
    });
  }
};

TEST_F(ExcelOrchestration, CreatePSfromExcel2ConvertsItsArgumentsAndWaitsForTheFile) {
  opens();
  writeFile(dir.file("out.ps"), "old");
  call(
      pdf, "CreatePSfromExcel2",
      {Arg(dir.file("out.ps")), Arg(dir.file("book.xls")), Arg(Variant(int16_t{1})), Arg("B2"), Arg(Variant::missing()),
       Arg(""), Arg(""), Arg(false), Arg(false), Arg("  "), Arg(int32_t{1}), Arg("Page &P"), Arg(int32_t{0})});
  EXPECT_EQ(
      starting({"Workbook get", "PageSetup let", "Worksheet get Range", "Range call"}),
      (Lines{"Workbook get Worksheets(1%)", "PageSetup let PrintGridlines = False", "PageSetup let Orientation = 1%",
             "PageSetup let LeftFooter = \"Page &P\"", "PageSetup let FirstPageNumber = 1&",
             "Worksheet get Range(\"B2\")",
             "Range call PrintOut(Copies:=1%, preview:=False, PrintToFile:=True, Collate:=True, PrToFilename:=\"" +
                 dir.file("out.ps") + "\", ActivePrinter:=\"Generic PostScript Printer\")"}));
  EXPECT_EQ(readFile(dir.file("out.ps")), "%!PS-Adobe-3.0\n%%EOF\n") << "the old file deleted, the printed one kept";
  EXPECT_EQ(pauses, (std::vector<std::chrono::milliseconds>{std::chrono::seconds(1), std::chrono::seconds(1)}))
      << "one second before looking, one across the check";
}

TEST_F(ExcelOrchestration, APdfMethodExportsTheRangeAndNeedsNoWait) {
  opens(false);
  std::string exported;
  rec->on("Range", "ExportAsFixedFormat").does([&](auto&, std::span<const Arg> a) {
    exported = CStr(a[1].get());
    writeFile(exported, "%PDF-1.7\n%%EOF\n");
    return Variant();
  });
  call(pdf, "CreatePDFfromExcel", {Arg(dir.file("out.pdf")), Arg(dir.file("book.xls")), Arg("S"), Arg("A1:B2")});
  EXPECT_TRUE(pauses.empty()) << "the export is complete";
  ASSERT_EQ(exported.rfind(dir.path() + "/", 0), 0u) << exported;
  EXPECT_TRUE(exported.ends_with(".pdf")) << exported;
  EXPECT_EQ(starting({"Range call", kDistiller + " call"}),
            (Lines{"Range call ExportAsFixedFormat(Type:=0&, Filename:=\"" + exported + "\")",
                   kDistiller + " call FileToPDF(\"" + exported + "\", \"" + dir.file("out.pdf") + "\", \"\")"}));
  EXPECT_FALSE(std::filesystem::exists(exported));
}

TEST_F(ExcelOrchestration, AFileThatNeverAppearsEndsTheWaitWithAnErrorAndClosesExcel) {
  ScopedEnv limit("PRESSMARK_PRINT_WAIT_TIMEOUT", "1.5");
  opens(false);
  // Only PostScript is waited for: the PDF methods take the office's export.
  Raised r = raised([&] {
    call(pdf, "CreatePSfromExcel2", {Arg(dir.file("out.ps")), Arg(dir.file("book.xls")), Arg("S"), Arg("A1")});
  });
  EXPECT_EQ(r.number, kErrComponent);
  EXPECT_EQ(r.source, "Pressmark");
  EXPECT_NE(r.description.find("was not complete within 1 seconds"), std::string::npos) << r.description;
  Lines t = rec->transcript();
  EXPECT_EQ(Lines(t.end() - 4, t.end()), (Lines{"Workbook call Close(False)", "release Workbook",
                                                "Excel.Application call Quit()", "release Excel.Application"}));
  EXPECT_FALSE(tempLeft());
}

TEST_F(ExcelOrchestration, MultiSheetTakesOneBasedListsAndQuitsExcelBeforeJoining) {
  opens();
  Variant sheets(Array::vector({Variant("A"), Variant("B")}, 1)),
      ranges(Array::vector({Variant("A1:B2"), Variant("C3")}, 1)), distillerName("");
  std::vector<Arg> args({Arg(dir.file("out.pdf")), Arg(dir.file("book.xls")), ByRef(sheets), ByRef(ranges), Arg(""),
                         Arg(""), Arg(false), Arg(Variant::missing()), Arg(""), Arg(int32_t{1}), Arg(""),
                         Arg(int32_t{0})});
  for (int i = 0; i < 6; ++i) args.push_back(Arg(0.0));
  args.push_back(Arg(int32_t{3}));
  args.push_back(ByRef(distillerName));
  call(pdf, "CreatePDFfromMultiExcel", args);
  Lines printed = starting({"Range call"});
  ASSERT_EQ(printed.size(), 2u);
  EXPECT_NE(printed[0], printed[1]) << "each sheet prints to a file of its own";
  EXPECT_EQ(starting({"Workbook get", "PageSetup let"}),
            (Lines{"Workbook get Worksheets(\"A\")", "PageSetup let PrintGridlines = False",
                   "PageSetup let FirstPageNumber = 3&", "Workbook get Worksheets(\"B\")",
                   "PageSetup let PrintGridlines = False", "PageSetup let FirstPageNumber = 3&"}))
      << "no orientation without varLandscape";
  Lines t = rec->transcript();
  auto quit = std::find(t.begin(), t.end(), "Excel.Application call Quit()");
  auto distilled =
      std::find(t.begin(), t.end(),
                kDistiller + " call FileToPDF(\"" + dir.file("out.ps") + "\", \"" + dir.file("out.pdf") + "\", \"\")");
  ASSERT_NE(distilled, t.end());
  EXPECT_LT(quit, distilled) << "Excel is quit before the files are joined";
  EXPECT_EQ(distillerName, Variant("Acrobat Distiller"));
  EXPECT_FALSE(tempLeft()) << "every temporary file was deleted";
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.ps"))) << "the driver file is gone";
}

TEST_F(ExcelOrchestration, MultiSheet2TakesOrientationsAndFirstPagesFromArrays) {
  opens();
  Variant sheets(V({Variant(int16_t{1}), Variant(int16_t{2})})), ranges(V({Variant("A1"), Variant("B1")}));
  Variant landscape(V({Variant(true), Variant(false)})), first(V({Variant(int32_t{4}), Variant("9")}));
  std::vector<Arg> args({Arg(dir.file("out.pdf")), Arg(dir.file("book.xls")), ByRef(sheets), ByRef(ranges),
                         Arg("PS Queue"), Arg(""), Arg(""), Arg(true), ByRef(landscape), Arg(""), Arg(int32_t{1}),
                         Arg(""), Arg(int32_t{0})});
  for (int i = 0; i < 6; ++i) args.push_back(Arg(0.0));
  for (Arg a : {ByRef(first), Arg(""), Arg(false), Arg(false), Arg("my.joboptions")}) args.push_back(a);
  call(pdf, "CreatePDFfromMultiExcel2", args);
  EXPECT_EQ(starting({"PageSetup let Orientation", "PageSetup let FirstPageNumber"}),
            (Lines{"PageSetup let Orientation = 2%", "PageSetup let FirstPageNumber = 4&",
                   "PageSetup let Orientation = 1%", "PageSetup let FirstPageNumber = 9&"}));
  for (const std::string& l : starting({"Range call"}))
    EXPECT_NE(l.find("ActivePrinter:=\"PS Queue\")"), std::string::npos) << l;
  EXPECT_EQ(starting({kDistiller + " call"}), (Lines{kDistiller + " call FileToPDF(\"" + dir.file("out.ps") + "\", \"" +
                                                     dir.file("out.pdf") + "\", \"my.joboptions\")"}));
}

TEST_F(ExcelOrchestration, AWrongPasswordQuitsExcelWithoutClosingAWorkbook) {
  rec->on("Workbooks", "Open").fails(1004, "The password you supplied is not correct.");
  EXPECT_EQ(raised([&] {
              call(pdf, "CreatePDFfromMultiExcel",
                   {Arg(dir.file("out.pdf")), Arg(dir.file("book.xls")), Arg(V({Variant("S")})),
                    Arg(V({Variant("A1")})), Arg("bad")});
            }),
            (Raised{1004, "The password you supplied is not correct.", "Pressmark"}));
  EXPECT_EQ(rec->transcript(),
            (Lines{"create Excel.Application", "Excel.Application get Workbooks",
                   "Workbooks call Open(\"" + dir.file("book.xls") + "\", WriteResPassword:=\"\", Password:=\"bad\")",
                   "release Workbooks", "Excel.Application call Quit()", "release Excel.Application"}));
}

}  // namespace

}  // namespace pm::test
