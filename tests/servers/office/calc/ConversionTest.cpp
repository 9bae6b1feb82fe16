// The spreadsheet, presentation and publication conversions end to end with
// LibreOffice and the Ghostscript Distiller, on documents the tests write;
// and the array readers read a comma-separated workbook through the shell.

// GCC 12 takes a member of std::regex's compiled states for uninitialised
// when the sanitizers instrument this file (a known false positive of its
// flow analysis); the warning says nothing about this code.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <regex>

#include "support/RealConversion.h"
#include "support/DrawDocs.h"
#include "support/Raised.h"
#include "support/SheetDocs.h"

namespace pm::test {

namespace {

// Width and height of every page.
std::vector<std::pair<double, double>> pageSizes(const std::string& pdf) {
  std::string info = commandOutput("pdfinfo -f 1 -l 999 " + shellQuote(pdf));
  std::vector<std::pair<double, double>> out;
  std::regex re(R"(Page\s+\d+ size:\s+([\d.]+) x ([\d.]+))");
  for (auto it = std::sregex_iterator(info.begin(), info.end(), re); it != std::sregex_iterator(); ++it)
    out.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]));
  return out;
}

class OfficeConversion : public RealConversion {
 protected:
  void SetUp() override {
    RealConversion::SetUp();
    if (IsSkipped() || HasFailure()) return;
    Sheet data;
    data.name = "Data";
    data.rows = {{SheetCell::str("Item"), SheetCell::str("Price"), SheetCell::str("Sold")},
                 {SheetCell::str("  Pen "), SheetCell::num(2.5, "0.00"), SheetCell::date("2023-01-02")},
                 {SheetCell::str("Ink"), SheetCell::num(12345.678, "#,##0.00"), SheetCell::date("2023-12-31")}};
    Sheet wide = numberGrid("Wide", 4, 6);
    wide.landscape = true;
    writeFile(dir.file("book.fods"), makeFods({data, wide}));
    events = EventConnection(pdf, std::make_shared<FunctionSink>([this](const EventCall& e) {
                               if (e.event.name != "LogMessage" && e.event.name != "PercentDone")
                                 seen.push_back(e.event.name + (e.args.empty() ? "" : " " + CStr(*e.args[0])));
                             }));
  }
  // The Distiller's events of the last job: its start, every page in order,
  // its end.
  void expectJob(int pages) {
    ASSERT_EQ(seen.size(), static_cast<size_t>(pages) + 2) << ::testing::PrintToString(seen);
    EXPECT_EQ(seen.front().rfind("JobStart ", 0), 0u) << seen.front();
    for (int i = 1; i <= pages; ++i) EXPECT_EQ(seen[static_cast<size_t>(i)], "PageNumber " + std::to_string(i));
    EXPECT_EQ(seen.back().rfind("JobDone ", 0), 0u) << seen.back();
    seen.clear();
  }
  EventConnection events;
  std::vector<std::string> seen;
};

TEST_F(OfficeConversion, MultiSheetWorkbookKeepsEachSheetsOrientation) {
  call(pdf, "CreatePDFfromMultiExcel",
       {Arg(dir.file("multi.pdf")), Arg(dir.file("book.fods")), Arg(V({Variant("Data"), Variant(int16_t{2})})),
        Arg(V({Variant("A1:C3"), Variant("A1:F4")}))});
  auto sizes = pageSizes(dir.file("multi.pdf"));
  ASSERT_EQ(sizes.size(), 2u);
  EXPECT_LT(sizes[0].first, sizes[0].second) << "the portrait sheet";
  EXPECT_GT(sizes[1].first, sizes[1].second) << "the landscape sheet";
  EXPECT_FALSE(tempLeft());
}

TEST_F(OfficeConversion, PasswordWorkbookToLandscapePdf) {
  ObjectRef app = CreateObject("Excel.Application");
  ObjectRef wb = objectOf(call(objectOf(get(app, "Workbooks")), "Open", {Arg(dir.file("book.fods"))}));
  call(wb, "SaveAs", {Arg(dir.file("locked.ods")), Named("Password", Variant("pw"))});
  call(app, "Quit");
  call(pdf, "CreatePDFfromExcel",
       {Arg(dir.file("locked.pdf")), Arg(dir.file("locked.ods")), Arg("Data"), Arg("A1:C3"), Arg("pw"), Arg(""),
        Arg(true), Arg(true), Arg("Prices &P"), Arg(int32_t{1})});
  auto sizes = pageSizes(dir.file("locked.pdf"));
  ASSERT_EQ(sizes.size(), 1u);
  EXPECT_GT(sizes[0].first, sizes[0].second);
  expectJob(1);
  Raised r = raised([&] {
    call(pdf, "CreatePSfromExcel",
         {Arg(dir.file("x.ps")), Arg(dir.file("locked.ods")), Arg("Data"), Arg("A1"), Arg("nope")});
  });
  EXPECT_EQ(std::make_pair(r.number, r.source), std::make_pair(1004, std::string("Pressmark")));
  EXPECT_NE(r.description.find("password"), std::string::npos) << r.description;
}

TEST_F(OfficeConversion, PresentationSlidesAndOrientation) {
  writeFile(dir.file("show.fodp"), makeFodp(4));
  call(pdf, "CreatePDFfromPowerPoint",
       {Arg(dir.file("part.pdf")), Arg(dir.file("show.fodp")), Arg(int32_t{2}), Arg(int32_t{3}), Arg(true)});
  auto part = pageSizes(dir.file("part.pdf"));
  ASSERT_EQ(part.size(), 2u);
  EXPECT_GT(part[0].first, part[0].second) << "horizontal slides";
  expectJob(2);
  call(pdf, "CreatePDFfromPowerPoint2", {Arg(dir.file("all.pdf")), Arg(dir.file("show.fodp"))});
  auto all = pageSizes(dir.file("all.pdf"));
  ASSERT_EQ(all.size(), 4u) << "-1 to -1 exports every slide";
  EXPECT_LT(all[0].first, all[0].second) << "orientation 2 when not asked for horizontal";
  expectJob(4);
  // Black and white prints every slide (no export): the grey is made before
  // PostScript, and the text stays.
  call(pdf, "CreatePDFfromPowerPoint2",
       {Arg(dir.file("grey.pdf")), Arg(dir.file("show.fodp")), Arg(Variant::missing()), Arg(Variant(int16_t{-1})),
        Arg(Variant(int16_t{-1})), Arg(true), Arg(true)});
  EXPECT_NE(commandOutput("pdftotext " + shellQuote(dir.file("grey.pdf")) + " -").find("Slide 4 marker"),
            std::string::npos);
  expectJob(4);
  EXPECT_FALSE(tempLeft());
  Raised r = raised([&] {
    call(pdf, "CreatePSfromPowerPoint",
         {Arg(dir.file("x.ps")), Arg(dir.file("show.fodp")), Arg(int32_t{3}), Arg(int32_t{9})});
  });
  EXPECT_EQ(r.source, "Pressmark") << "a slide range beyond the presentation printed";
  EXPECT_NE(r.description.find("out of range"), std::string::npos) << r.description;
}

TEST_F(OfficeConversion, PublicationsPrintWholeAndUnreadableOnesFailClearly) {
  writeFile(dir.file("leaflet.fodg"), makeFodg(3));
  Variant distillerName("");
  call(pdf, "CreatePDFfromPub", {Arg(dir.file("leaflet.pdf")), Arg(dir.file("leaflet.fodg")), ByRef(distillerName)});
  auto sizes = pageSizes(dir.file("leaflet.pdf"));
  EXPECT_EQ(sizes.size(), 3u);
  expectJob(3);
  std::string text = commandOutput("pdftotext -enc UTF-8 " + shellQuote(dir.file("leaflet.pdf")) + " -");
  for (const char* page : {"Page 1 marker", "Page 2 marker", "Page 3 marker"})
    EXPECT_NE(text.find(page), std::string::npos) << text;
  EXPECT_EQ(distillerName, Variant("Acrobat Distiller"));
  EXPECT_FALSE(tempLeft());
  // A publisher file is a compound document the tests cannot write; a file
  // that only carries the name is refused with the reason.
  writeFile(dir.file("fake.pub"), "not a publication");
  Raised r = raised([&] { call(pdf, "CreatePSfromPub2", {Arg(dir.file("fake.ps")), Arg(dir.file("fake.pub"))}); });
  EXPECT_EQ(std::make_pair(r.number, r.source),
            std::make_pair(static_cast<int32_t>(0x80004005u), std::string("Pressmark")));
  EXPECT_NE(r.description.find("Publisher cannot open the file " + dir.file("fake.pub")), std::string::npos)
      << r.description;
}

// A comma-separated workbook read through the shell in a child process: the
// office reads it with fixed text-import options (comma, UTF-8, the first
// line is data), both readers return their success code, and the process
// that used the office ends with status 0 (its bridge is closed before the
// runtime goes).
TEST(CsvWorkbook, ReadThroughTheShellAndTheProcessExitsCleanly) {
  PM_REQUIRE_OR_SKIP(officeServed() && ClassRegistry::instance().has("Excel.Application"),
                     "the office server is not built (no LibreOffice SDK)");
  TempDir dir, registry;
  writeFile(dir.file("prices.csv"), "Item,Price\ncaf\xC3\xA9,2.5\n\"a, b\",7\n");
  std::string book = "\"" + dir.file("prices.csv") + "\"";
  std::string script = "ExcelToTwoDArray " + book + " 1 1 1 3 2 @grid true\n@grid\n" + "ExcelToOneDArray " + book +
                       " 1 2 1 2 2 @row\n@row\n";
  CommandResult r = runPressmark({"shell"}, script, {"PRESSMARK_REGISTRY=" + registry.path(), "LC_ALL=C"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out,
            "1\n[[\"Item\",\"Price\"],[\"caf\xC3\xA9\",2.5],[\"a, b\",7]]\n"
            "1\n[\"caf\xC3\xA9\",\"2.5\"]\n")
      << r.err;
}

}  // namespace

}  // namespace pm::test
