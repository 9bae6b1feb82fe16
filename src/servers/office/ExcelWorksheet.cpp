// A worksheet of Excel.Application: Activate, Cells, Range, PageSetup.
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>

#include "servers/office/ExcelObjects.h"

namespace pm::office::excel {

using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {
constexpr int32_t kMaxRows = 1048576;
constexpr int32_t kMaxCols = 16384;

// A column as a number or as letters ("A", "AB").
int32_t columnOf(const Variant& v) {
  if (v.isString()) {
    int32_t c = 0;
    for (char ch : UCase(v.asString())) {
      if (ch < 'A' || ch > 'Z' || c > kMaxCols)
        fail("Application-defined or object-defined error: column " + v.asString());
      c = c * 26 + (ch - 'A' + 1);
    }
    return c;
  }
  return CLng(v);
}
}  // namespace

// The view shows the sheet when the document has one; the workbook
// remembers it either way.
Variant ExcelWorksheet::Activate(Frame&) {
  book_->with("activating a sheet", [&](const Reference<css::lang::XComponent>& m) {
    Reference<css::frame::XModel> model(m, UNO_QUERY_THROW);
    Reference<css::sheet::XSpreadsheetView> view(model->getCurrentController(), UNO_QUERY);
    if (view.is()) view->setActiveSheet(sheetOf(m, index_));
  });
  book_->activeSheet = index_;
  return {};
}

Variant ExcelWorksheet::Cells(Frame& f) {
  if (f.missing("RowIndex") || f.missing("ColumnIndex")) fail("Cells needs a row and a column in this server.");
  int32_t row = CLng(f["RowIndex"]), col = columnOf(f["ColumnIndex"]);
  if (row < 1 || row > kMaxRows || col < 1 || col > kMaxCols)
    fail("Application-defined or object-defined error: Cells(" + std::to_string(row) + ", " + std::to_string(col) +
         ")");
  return Variant(ObjectRef(std::make_shared<ExcelRange>(std::static_pointer_cast<ExcelWorksheet>(shared_from_this()),
                                                        Block{row, col, row, col})));
}

Variant ExcelWorksheet::Range(Frame& f) {
  Block b = parseAddress(CStr(f["Cell1"]));
  if (!f.missing("Cell2")) {
    Block e = parseAddress(CStr(f["Cell2"]));
    b = Block{std::min(b.row1, e.row1), std::min(b.col1, e.col1), std::max(b.row2, e.row2), std::max(b.col2, e.col2)};
  }
  return Variant(
      ObjectRef(std::make_shared<ExcelRange>(std::static_pointer_cast<ExcelWorksheet>(shared_from_this()), b)));
}

Variant ExcelWorksheet::PageSetup(Frame&) {
  return Variant(
      ObjectRef(std::make_shared<ExcelPageSetup>(std::static_pointer_cast<ExcelWorksheet>(shared_from_this()))));
}

Variant ExcelWorksheet::Name(Frame&) {
  std::string n;
  book_->with("reading a sheet name", [&](const Reference<css::lang::XComponent>& m) {
    n = toUtf8(Reference<css::container::XNamed>(sheetOf(m, index_), UNO_QUERY_THROW)->getName());
  });
  return Variant(n);
}

Block parseAddress(const std::string& address) {
  auto bad = [&]() {
    fail("Method 'Range' of object '_Worksheet' failed: \"" + address + "\" is not a cell address.");
  };
  auto cell = [&](std::string s, int32_t& row, int32_t& col) {
    size_t i = 0;
    auto skipDollar = [&] {
      if (i < s.size() && s[i] == '$') ++i;
    };
    skipDollar();
    col = 0;
    size_t letters = i;
    while (i < s.size() && std::isalpha(static_cast<unsigned char>(s[i]))) {
      col = col * 26 + (std::toupper(static_cast<unsigned char>(s[i])) - 'A' + 1);
      if (col > kMaxCols) bad();
      ++i;
    }
    if (i == letters) bad();
    skipDollar();
    size_t digits = i;
    row = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
      row = row * 10 + (s[i] - '0');
      if (row > kMaxRows) bad();
      ++i;
    }
    if (i == digits || i != s.size() || row < 1) bad();
  };
  std::string a = Trim(address);
  size_t colon = a.find(':');
  Block b;
  if (colon == std::string::npos) {
    cell(a, b.row1, b.col1);
    b.row2 = b.row1;
    b.col2 = b.col1;
  } else {
    int32_t r1, c1, r2, c2;
    cell(a.substr(0, colon), r1, c1);
    cell(a.substr(colon + 1), r2, c2);
    b = Block{std::min(r1, r2), std::min(c1, c2), std::max(r1, r2), std::max(c1, c2)};
  }
  return b;
}

const MemberTable* ExcelWorksheet::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("Worksheet");
    Members<ExcelWorksheet> m(table);
    m.method("Activate", {}, &ExcelWorksheet::Activate)
        .get("Cells", {P("RowIndex").opt(), P("ColumnIndex").opt()}, &ExcelWorksheet::Cells)
        .get("Range", {P("Cell1"), P("Cell2").opt()}, &ExcelWorksheet::Range)
        .get("PageSetup", {}, &ExcelWorksheet::PageSetup)
        .get("Name", {}, &ExcelWorksheet::Name)
        .get("Index", {}, &ExcelWorksheet::Index);
    return table;
  }();
  return &t;
}

}  // namespace pm::office::excel
