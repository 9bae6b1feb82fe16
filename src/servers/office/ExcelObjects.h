// "Excel.Application" over LibreOffice Calc: the objects of the server and
// the state they share. Each object's members live in the file named after
// it (ExcelApplication.cpp, ExcelWorkbook.cpp, ExcelWorksheet.cpp,
// ExcelCells.cpp, ExcelPageSetup.cpp, ExcelPrint.cpp).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/table/CellRangeAddress.hpp>

#include "automation/Automation.h"
#include "servers/office/OpenModel.h"

namespace pm::office::excel {

inline constexpr const char* kSource = "Pressmark Excel server";
// Excel's own numbers: most faults are 1004; a sheet that is not there is
// a subscript out of range.
inline constexpr int32_t kErrExcel = 1004;

[[noreturn]] inline void fail(const std::string& description, int32_t number = kErrExcel) {
  raise(number, description, kSource);
}

// The cells of a sheet's used area, read in bulk the first time any cell is
// asked for: typed values, and the texts as the sheet shows them.
struct SheetCells {
  int32_t rows = 0, cols = 0;   // from A1 to the end of the used area
  std::vector<Variant> values;  // row-major
  std::vector<std::string> texts;
};

// The page set-up of one sheet as Excel describes it. Excel keeps the
// header and footer distances apart from the page margins; Calc measures
// differently, so the Excel values are kept here and the Calc ones follow.
struct SheetPage {
  bool known = false;                                  // read from the sheet's page style yet
  std::string headers[3], footers[3];                  // left, center, right (with codes)
  double top = 0, bottom = 0, header = 0, footer = 0;  // points
  bool zoomOff = false;                                // Zoom = False: fit to pages
  int32_t fitWide = 1, fitTall = 1;
};

struct SheetState {
  std::unique_ptr<SheetCells> cells;
  SheetPage page;
  bool ownStyle = false;  // the page style is this sheet's alone
};

class ExcelApp;

class ExcelWorkbook : public Dispatch {
 public:
  ExcelWorkbook(css::uno::Reference<css::lang::XComponent> model, uint64_t generation, std::string path,
                std::weak_ptr<ExcelApp> app);
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return "Workbook"; }

  Variant Worksheets(Frame&);
  Variant Close(Frame&);
  Variant SaveAs(Frame&);
  Variant Name(Frame&);
  Variant FullName(Frame&) { return Variant(model_.path()); }

  // Runs body on the document model.
  void with(const std::string& what,
            const std::function<void(const css::uno::Reference<css::lang::XComponent>&)>& body) {
    model_.with(what, body, kErrExcel, kSource);
  }
  const OpenModel& model() const { return model_; }
  void closeQuietly() { model_.close(); }
  bool isOpen() const { return model_.isOpen(); }

  // The 0-based index of a sheet by name or 1-based index (error 9 when
  // there is none).
  int32_t sheetIndex(const Variant& nameOrIndex);
  SheetState& state(int32_t sheet) { return states_[sheet]; }
  int32_t activeSheet = 0;

 private:
  OpenModel model_;
  std::weak_ptr<ExcelApp> app_;
  std::map<int32_t, SheetState> states_;
};
using WorkbookRef = std::shared_ptr<ExcelWorkbook>;

// The sheet of a workbook by index, on the office side.
css::uno::Reference<css::sheet::XSpreadsheet> sheetOf(const css::uno::Reference<css::lang::XComponent>& m,
                                                      int32_t index);
// The page style of a sheet; with own set, a style used by other sheets
// too is first copied so that the change stays on this sheet.
css::uno::Reference<css::beans::XPropertySet> pageStyleOf(const css::uno::Reference<css::lang::XComponent>& m,
                                                          int32_t index, bool own);

class ExcelWorksheet : public Dispatch {
 public:
  ExcelWorksheet(WorkbookRef book, int32_t index) : book_(std::move(book)), index_(index) {}
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return "Worksheet"; }

  Variant Activate(Frame&);
  Variant Cells(Frame&);
  Variant Range(Frame&);
  Variant PageSetup(Frame&);
  Variant Name(Frame&);
  Variant Index(Frame&) { return Variant(index_ + 1); }

  const WorkbookRef& book() const { return book_; }
  int32_t index() const { return index_; }
  // The sheet's cells, read in bulk on first use.
  const SheetCells& cells();

 private:
  WorkbookRef book_;
  int32_t index_;
};
using WorksheetRef = std::shared_ptr<ExcelWorksheet>;

// A block of cells, 1-based and inclusive.
struct Block {
  int32_t row1 = 1, col1 = 1, row2 = 1, col2 = 1;
};
// "A1", "B2:D10", "$A$1:$C$3", "C:C" is not supported; error 1004 otherwise.
Block parseAddress(const std::string& address);

class ExcelRange : public Dispatch {
 public:
  ExcelRange(WorksheetRef sheet, Block block) : sheet_(std::move(sheet)), block_(block) {}
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return "Range"; }

  Variant Value(Frame&);
  Variant Text(Frame&);
  Variant Address(Frame&);
  Variant Row(Frame&) { return Variant(block_.row1); }
  Variant Column(Frame&) { return Variant(block_.col1); }
  Variant Count(Frame&) {
    return Variant(static_cast<double>(block_.row2 - block_.row1 + 1) * (block_.col2 - block_.col1 + 1));
  }
  Variant PrintOut(Frame&);
  Variant ExportAsFixedFormat(Frame&);
  void restoreAreas(const css::uno::Sequence<css::table::CellRangeAddress>& areas);

 private:
  // The block alone as its sheet's print area, pages from to to (0: the
  // first or the last), printed to PostScript or, with pdf, exported.
  void printBlock(int32_t from, int32_t to, const std::string& out, bool pdf);

  WorksheetRef sheet_;
  Block block_;
};

class ExcelPageSetup : public Dispatch {
 public:
  explicit ExcelPageSetup(WorksheetRef sheet) : sheet_(std::move(sheet)) {}
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return "PageSetup"; }
  int32_t sheetIndex() const { return sheet_->index(); }

  // Runs body on this sheet's own page style, with the Excel view of it.
  void onStyle(const std::string& what, bool change,
               const std::function<void(const css::uno::Reference<css::lang::XComponent>&,
                                        const css::uno::Reference<css::beans::XPropertySet>&, SheetPage&)>& body);

 private:
  WorksheetRef sheet_;
};

class ExcelApp : public Dispatch {
 public:
  ExcelApp() = default;
  ~ExcelApp() override;
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return "Excel.Application"; }

  Variant Workbooks(Frame&);
  Variant GetDisplayAlerts(Frame&) { return Variant(displayAlerts_); }
  Variant LetDisplayAlerts(Frame& f) {
    displayAlerts_ = CBool(f["value"]);
    return {};
  }
  Variant GetVisible(Frame&) { return Variant(false); }
  Variant LetVisible(Frame&) { return {}; }
  Variant InchesToPoints(Frame& f) { return Variant(CDbl(f["Inches"]) * 72.0); }
  Variant GetActivePrinter(Frame&) { return Variant(std::string(kGenericPostScript) + " on FILE:"); }
  Variant Quit(Frame&);
  Variant Version(Frame&) { return Variant("16.0"); }
  Variant Name(Frame&) { return Variant("Microsoft Excel"); }

  // Announces the new application to the running-object table.
  void announce();
  void requireRunning() const {
    if (quit_) fail("The application has quit.", kErrServerDied);
  }
  WorkbookRef open(const std::string& path, const Variant& password);
  bool displayAlerts() const { return displayAlerts_; }
  int32_t openWorkbooks() const {
    int32_t n = 0;
    for (auto& w : books_)
      if (auto b = w.lock(); b && b->isOpen()) ++n;
    return n;
  }

 private:
  std::vector<std::weak_ptr<ExcelWorkbook>> books_;
  bool displayAlerts_ = true;
  bool quit_ = false;
  uint64_t activeToken_ = 0;
};

}  // namespace pm::office::excel
