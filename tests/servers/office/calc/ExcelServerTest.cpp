// The Excel.Application server against a real LibreOffice Calc: workbooks
// the tests write, read back cell by cell, printed with page set-up.
#include <gtest/gtest.h>

#include <cmath>

#include "automation/Automation.h"
#include "support/OfficeDocs.h"
#include "support/SheetDocs.h"
#include "support/TestSupport.h"

namespace pm::test {

namespace {

class ExcelServer : public ::testing::Test {
 protected:
  void SetUp() override {
    PM_REQUIRE_OR_SKIP(officeServed(), "the office server is not built (no LibreOffice SDK)");
    // Two sheets: typed cells with formats on "Data", a landscape "Wide".
    Sheet data;
    data.name = "Data";
    data.rows = {
        {SheetCell::str("Name"), SheetCell::str("Amount"), SheetCell::str("When"), SheetCell::str("Paid"),
         SheetCell::str("Share")},
        {SheetCell::str("  Alpha  "), SheetCell::num(1234.5, "#,##0.00"), SheetCell::date("2024-03-15"),
         SheetCell::boolean(true), SheetCell::num(0.125, "0.0%")},
        {SheetCell::str("Beta"), SheetCell::num(7, "0.00"), SheetCell::date("1999-12-31"), SheetCell::boolean(false),
         SheetCell::num(42)},
    };
    Sheet wide = numberGrid("Wide", 3, 4);
    wide.landscape = true;
    writeFile(dir.file("book.fods"), makeFods({data, wide}));
    app = CreateObject("Excel.Application");
  }
  void TearDown() override {
    if (app) call(app, "Quit");
  }
  ObjectRef open(const std::string& path, const Variant& password = Variant("")) {
    return objectOf(call(objectOf(get(app, "Workbooks")), "Open",
                         {Arg(path), Named("WriteResPassword", Variant("")), Named("Password", password)}));
  }
  static Variant cell(const ObjectRef& ws, int r, int c, const char* what) {
    return get(objectOf(get(ws, "Cells", {Variant(int32_t{r}), Variant(int32_t{c})})), what);
  }
  TempDir dir;
  ObjectRef app;
};

TEST_F(ExcelServer, ValuesKeepTheirTypesAndTextsShowTheirFormats) {
  ObjectRef wb = open(dir.file("book.fods"));
  ObjectRef ws = objectOf(get(wb, "Worksheets", {Variant("data")}));  // names without regard to case
  call(ws, "Activate");
  EXPECT_EQ(cell(ws, 1, 1, "Value"), Variant("Name"));
  EXPECT_EQ(cell(ws, 2, 1, "Value"), Variant("  Alpha  ")) << "values are not trimmed";
  EXPECT_EQ(cell(ws, 2, 2, "Value"), Variant(1234.5));
  EXPECT_EQ(cell(ws, 2, 2, "Text"), Variant("1,234.50"));
  Variant when = cell(ws, 2, 3, "Value");
  ASSERT_EQ(when.type(), VT::Date);
  EXPECT_EQ(when.asDate(), MakeDate(2024, 3, 15));
  EXPECT_EQ(cell(ws, 2, 3, "Text"), Variant("2024-03-15"));
  EXPECT_EQ(cell(ws, 2, 4, "Value"), Variant(true));
  EXPECT_EQ(cell(ws, 3, 4, "Value"), Variant(false));
  EXPECT_EQ(cell(ws, 2, 5, "Text"), Variant("12.5%"));
  EXPECT_EQ(cell(ws, 3, 2, "Text"), Variant("7.00"));
  EXPECT_EQ(cell(ws, 3, 5, "Value"), Variant(42.0));
  EXPECT_TRUE(cell(ws, 9, 9, "Value").isEmpty()) << "beyond the used area";
  EXPECT_EQ(cell(ws, 9, 9, "Text"), Variant(""));
  ObjectRef second = objectOf(get(wb, "Worksheets", {Variant(int16_t{2})}));
  EXPECT_EQ(get(second, "Name"), Variant("Wide"));
  EXPECT_EQ(cell(second, 3, 4, "Value"), Variant(3004.0));
  EXPECT_EQ(errorOf([&] { get(wb, "Worksheets", {Variant("Nope")}); }), 9);
  EXPECT_EQ(errorOf([&] { get(wb, "Worksheets", {Variant(int32_t{3})}); }), 9);
  EXPECT_EQ(errorOf([&] { get(ws, "Cells", {Variant(int32_t{0}), Variant(int32_t{1})}); }), 1004);
  EXPECT_EQ(CLng(get(objectOf(get(app, "Workbooks")), "Count")), 1);
  call(wb, "Close", {Variant(false)});
}

TEST_F(ExcelServer, PageSetupAndPrintingARange) {
  ObjectRef wb = open(dir.file("book.fods"));
  ObjectRef wide = objectOf(get(wb, "Worksheets", {Variant("Wide")}));
  ObjectRef setup = objectOf(get(wide, "PageSetup"));
  EXPECT_EQ(CLng(get(setup, "Orientation")), 2) << "the sheet is landscape";
  let(setup, "PrintGridlines", Variant(true));
  EXPECT_EQ(get(setup, "PrintGridlines"), Variant(true));
  let(setup, "CenterHeader", Variant("Report &A page &P of &N"));
  EXPECT_EQ(get(setup, "CenterHeader"), Variant("Report &A page &P of &N"));
  let(setup, "TopMargin", Variant(CDbl(call(app, "InchesToPoints", {Variant(1.5)}))));
  EXPECT_DOUBLE_EQ(CDbl(get(setup, "TopMargin")), 108.0);
  let(setup, "FirstPageNumber", Variant(int32_t{5}));
  EXPECT_EQ(CLng(get(setup, "FirstPageNumber")), 5);
  call(objectOf(get(wide, "Range", {Variant("A1:D3")})), "PrintOut",
       {Named("Copies", Variant(int32_t{1})), Named("preview", Variant(false)), Named("PrintToFile", Variant(true)),
        Named("Collate", Variant(true)), Named("PrToFilename", Variant(dir.file("wide.ps"))),
        Named("ActivePrinter", Variant("Generic PostScript Printer"))});
  EXPECT_EQ(fileHead(dir.file("wide.ps"), 11), "%!PS-Adobe-");
  std::string pdf = psToPdf(dir.file("wide.ps"), dir.file("wide.pdf"));
  PdfFacts facts = pdfFacts(pdf);
  EXPECT_EQ(facts.pages, 1);
  EXPECT_GT(facts.width, facts.height);
  // The text itself cannot be read back: the office's font subsets lose
  // their Unicode mapping on the way through PostScript. The ink shows the
  // header near the top edge and the block below the 1.5 inch margin.
  std::vector<Ink> ink = pageInk(pdf);
  ASSERT_EQ(ink.size(), 1u);
  EXPECT_GT(ink[0].top, facts.height - 100) << "the header above the body that starts 1.5 inch down";

  // The other sheet shares no page style change: it stays portrait.
  ObjectRef data = objectOf(get(wb, "Worksheets", {Variant("Data")}));
  ObjectRef dsetup = objectOf(get(data, "PageSetup"));
  EXPECT_EQ(CLng(get(dsetup, "Orientation")), 1);
  EXPECT_EQ(get(dsetup, "CenterHeader"), Variant(""));
  let(dsetup, "Orientation", Variant(int16_t{2}));
  EXPECT_EQ(CLng(get(dsetup, "Orientation")), 2);
  EXPECT_EQ(errorOf([&] { let(dsetup, "Orientation", Variant(int16_t{3})); }), 1004);
  EXPECT_EQ(errorOf([&] {
              call(objectOf(get(data, "Range", {Variant("A1:B2")})), "PrintOut",
                   {Named("PrintToFile", Variant(true)), Named("PrToFilename", Variant(dir.file("x.ps"))),
                    Named("ActivePrinter", Variant("No Such Printer"))});
            }),
            1004);
}

}  // namespace

}  // namespace pm::test
