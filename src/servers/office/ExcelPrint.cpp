// Range.PrintOut to a file and Range.ExportAsFixedFormat: the block prints
// or exports with its sheet's page set-up (the office exports the block as
// PDF; for printing, Ghostscript makes PostScript of it). Both calls return
// when the file is complete.
#include <com/sun/star/sheet/XPrintAreas.hpp>
#include <com/sun/star/sheet/XSheetPageBreak.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/table/XCellRange.hpp>

#include "servers/office/ExcelObjects.h"

namespace pm::office::excel {

using css::uno::Reference;

Variant ExcelRange::PrintOut(Frame& f) {
  if (!f.missing("Copies") && CLng(f["Copies"]) != 1) fail("PrintOut: only one copy can be printed to a file.");
  if (!f.missing("Preview") && CBool(f["Preview"])) fail("PrintOut: a print preview cannot be shown by this server.");
  std::string printer = f.missing("ActivePrinter") ? std::string(kGenericPostScript) : CStr(f["ActivePrinter"]);
  if (!printerKnown(printer)) fail("PrintOut: the printer \"" + printer + "\" is not installed.");
  bool toFile = !f.missing("PrintToFile") && CBool(f["PrintToFile"]);
  std::string out = f.missing("PrToFileName") ? std::string() : CStr(f["PrToFileName"]);
  if (!toFile || Trim(out).empty())
    fail("PrintOut: this server prints to files only; give PrintToFile True and PrToFileName (printer \"" + printer +
         "\").");
  int32_t from = f.missing("From") ? 0 : CLng(f["From"]), to = f.missing("To") ? 0 : CLng(f["To"]);
  printBlock(from, to, out, false);
  return {};
}

// ExportAsFixedFormat(Type, Filename, Quality, IncludeDocProperties,
// IgnorePrintAreas, From, To, OpenAfterPublish): the block as the office's own
// PDF (xlTypePDF 0), the pages it prints on, written beside Filename and
// renamed into place when complete.
Variant ExcelRange::ExportAsFixedFormat(Frame& f) {
  constexpr int32_t kTypePdf = 0;
  if (CLng(f["Type"]) != kTypePdf) fail("ExportAsFixedFormat: only PDF (Type 0) can be written by this server.");
  std::string out = f.missing("Filename") ? std::string() : CStr(f["Filename"]);
  if (Trim(out).empty()) fail("ExportAsFixedFormat: give Filename.");
  if (!f.missing("OpenAfterPublish") && CBool(f["OpenAfterPublish"]))
    fail("ExportAsFixedFormat: this server cannot open the exported file.");
  int32_t from = f.missing("From") ? 0 : CLng(f["From"]), to = f.missing("To") ? 0 : CLng(f["To"]);
  printBlock(from, to, out, true);
  return {};
}

void ExcelRange::printBlock(int32_t from, int32_t to, const std::string& out, bool pdf) {
  PrintJob job;
  css::uno::Sequence<css::table::CellRangeAddress> saved;
  job.filter = "calc_pdf_Export";
  const char* member = pdf ? "ExportAsFixedFormat" : "PrintOut";
  if (from < 0 || to < 0 || (from && to && to < from)) fail(std::string(member) + ": the pages From/To are not valid.");
  if (from || to) job.pageRange = std::to_string(from ? from : 1) + "-" + (to ? std::to_string(to) : std::string());
  sheet_->book()->with("choosing the cells to print", [&](const Reference<css::lang::XComponent>& m) {
    Reference<css::sheet::XSpreadsheet> sheet = sheetOf(m, sheet_->index());
    Reference<css::table::XCellRange> block =
        sheet->getCellRangeByPosition(block_.col1 - 1, block_.row1 - 1, block_.col2 - 1, block_.row2 - 1);
    job.selection <<= block;
    // Rows read from a file without stored heights get theirs only when
    // the sheet is first laid out; until then the export can cut the block
    // into one page per cell. Asking for optimal heights lays them out.
    Reference<css::table::XColumnRowRange> rowsCols(block, css::uno::UNO_QUERY_THROW);
    Reference<css::beans::XPropertySet>(rowsCols->getRows(), css::uno::UNO_QUERY_THROW)
        ->setPropertyValue("OptimalHeight", css::uno::Any(sal_Bool(true)));
    // Reading the row breaks is what makes the office lay the rows out now;
    // the interface is marked deprecated but has no successor that does so.
    Reference<css::sheet::XSheetPageBreak> breaks(sheet, css::uno::UNO_QUERY_THROW);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    (void)breaks->getRowPageBreaks();
#pragma GCC diagnostic pop
    // The block is the sheet's print area while it prints, so the layout
    // the office makes of it has the block's own page breaks.
    Reference<css::sheet::XPrintAreas> areas(sheet, css::uno::UNO_QUERY_THROW);
    saved = areas->getPrintAreas();
    css::table::CellRangeAddress a;
    a.Sheet = static_cast<sal_Int16>(sheet_->index());
    a.StartColumn = block_.col1 - 1;
    a.StartRow = block_.row1 - 1;
    a.EndColumn = block_.col2 - 1;
    a.EndRow = block_.row2 - 1;
    areas->setPrintAreas(css::uno::Sequence<css::table::CellRangeAddress>(&a, 1));
  });
  struct Restore {
    ExcelRange& self;
    css::uno::Sequence<css::table::CellRangeAddress>& areas;
    ~Restore() {
      ignoreErrors([&] { self.restoreAreas(areas); });
    }
  } restore{*this, saved};
  if (pdf)
    exportToPdf(sheet_->book()->model(), job, out, kErrExcel, kSource);
  else
    printToPostScript(sheet_->book()->model(), job, out, kErrExcel, kSource);
}

void ExcelRange::restoreAreas(const css::uno::Sequence<css::table::CellRangeAddress>& areas) {
  sheet_->book()->with("restoring the print area", [&](const Reference<css::lang::XComponent>& m) {
    Reference<css::sheet::XPrintAreas>(sheetOf(m, sheet_->index()), css::uno::UNO_QUERY_THROW)->setPrintAreas(areas);
  });
}

}  // namespace pm::office::excel
