// Excel ranges to arrays: ExcelToOneDArray and ExcelToTwoDArray. Both attach
// to a running Excel of this process when there is one, start one
// otherwise, report their outcome as a 16-bit code and quit Excel at the end.
#include "automation/surfaces/Office.h"
#include "component/frame/CreatePDF.h"

namespace pm {
namespace {

Variant code(int c) {
  return Variant(static_cast<int16_t>(c));
}

// A name of one character or more, or a 16- or 32-bit index above 0.
bool validWorksheet(const Variant& v) {
  if (v.isString()) return !v.asString().empty();
  if (v.type() == VT::Integer) return v.asInteger() > 0;
  if (v.type() == VT::Long) return v.asLong() > 0;
  return false;
}

struct Excel {
  ObjectRef app, book, sheet;
  void quit() {
    if (app) ignoreErrors([&] { call(app, "Quit"); });
    sheet.reset();
    book.reset();
    app.reset();
  }
};

// The common start; returns 0 when the sheet is ready, else the code.
int start(Excel& x, Frame& f, size_t array, size_t password, size_t writePassword) {
  if (!ignoreErrors([&] { x.app = GetActiveObject(office::kExcelProgId); }))
    if (!ignoreErrors([&] { x.app = CreateObject(office::kExcelProgId); })) return -1;
  if (f[array].vartype() != 0 && !f[array].isArray()) {
    x.quit();
    return -2;
  }
  if (!ignoreErrors([&] {
        ObjectRef books = objectOf(get(x.app, "Workbooks"));
        x.book = objectOf(
            call(books, "Open",
                 {Arg(f["strWorkbook"]), Named("WriteResPassword", f[writePassword]), Named("Password", f[password])}));
      })) {
    x.quit();
    return -3;
  }
  if (!validWorksheet(f["varWorksheet"]) ||
      !ignoreErrors([&] { x.sheet = objectOf(get(x.book, "Worksheets", {Arg(f["varWorksheet"])})); })) {
    ignoreErrors([&] { call(x.book, "Close"); });
    x.quit();
    return -4;
  }
  ignoreErrors([&] { call(x.sheet, "Activate"); });
  return 0;
}

// The grid of a worksheet: a block reaching past its last row or column
// cannot be read. Counters are wide, so an end at the largest column a
// 16-bit number holds ends the loop rather than wrapping it.
constexpr int64_t kLastRow = 1048576, kLastColumn = 16384;

// The block's corners, or false when it reaches out of the sheet's grid
// (an end before its start is no reach: nothing is read then).
bool blockOf(Frame& f, int64_t& r1, int64_t& c1, int64_t& r2, int64_t& c2) {
  r1 = CLng(f["lngStartRow"]);
  c1 = CLng(f["lngStartCol"]);
  r2 = CLng(f["lngEndRow"]);
  c2 = CLng(f["lngEndCol"]);
  return r1 >= 1 && c1 >= 1 && r2 <= kLastRow && c2 <= kLastColumn;
}

Variant cellOf(const ObjectRef& sheet, int64_t r, int64_t c, bool value) {
  ObjectRef cell = objectOf(get(sheet, "Cells", {Variant(static_cast<int32_t>(r)), Variant(static_cast<int16_t>(c))}));
  return get(cell, value ? "Value" : "text");
}

Variant ExcelToOneDArray(CreatePDF&, Frame& f) {
  Excel x;
  if (int c = start(x, f, 6, 8, 9)) return code(c);
  try {
    // Inside the trap: a flag that is no Boolean is a failure code too.
    bool value = CBool(f["blnCellValue"]);
    int32_t k = 0;
    int64_t r1, c1, r2, c2;
    if (!blockOf(f, r1, c1, r2, c2)) raise(basic::SubscriptOutOfRange);
    for (int64_t r = r1; r <= r2; ++r)
      for (int64_t c = c1; c <= c2; ++c) {
        // Enlarged one element at a time, keeping what is there.
        if (!f["varArray"].isArray())
          f["varArray"] = Variant(Array::vector({Variant()}));
        else
          f["varArray"].arrayMut().redimPreserve(k);
        f["varArray"].arrayMut().set({k}, Variant(Trim(CStr(cellOf(x.sheet, r, c, value)))));
        ++k;
      }
    call(x.book, "Close", {Variant(false)});
    x.quit();
    return code(1);
  } catch (...) {
    // Elements stored so far stay in the array.
    ignoreErrors([&] { call(x.book, "Close", {Variant(false)}); });
    x.quit();
    return code(-5);
  }
}

Variant ExcelToTwoDArray(CreatePDF&, Frame& f) {
  Excel x;
  if (int c = start(x, f, 6, 8, 9)) return code(c);
  // A block past the sheet's last row or column is refused with the code
  // of a block that cannot be read, before anything is read or sized.
  bool inGrid = true;
  ignoreErrors([&] {
    int64_t r1, c1, r2, c2;
    inGrid = blockOf(f, r1, c1, r2, c2);
  });
  if (!inGrid) {
    ignoreErrors([&] { call(x.book, "Close"); });
    x.quit();
    return code(-5);
  }
  // Errors are ignored from here on: a cell that cannot be read stays
  // empty, and a block whose end lies before its start leaves the array.
  ignoreErrors([&] {
    bool value = CBool(f["blnCellValue"]);
    int64_t r1, c1, r2, c2;
    blockOf(f, r1, c1, r2, c2);
    if (r2 < r1 || c2 < c1) return;
    Array a = Array::matrix(static_cast<int32_t>(r2 - r1 + 1), static_cast<int32_t>(c2 - c1 + 1), 0, 0);
    int32_t i = 0;
    for (int64_t r = r1; r <= r2; ++r, ++i) {
      int32_t j = 0;
      for (int64_t c = c1; c <= c2; ++c, ++j) ignoreErrors([&] { a.set({i, j}, cellOf(x.sheet, r, c, value)); });
    }
    f["varArray"] = Variant(std::move(a));
  });
  ignoreErrors([&] { call(x.book, "Close"); });
  x.quit();
  return code(1);
}

void describe(Members<CreatePDF>& m) {
  m.method(
       "ExcelToOneDArray",
       {P("strWorkbook").path(), P("varWorksheet"), P("lngStartRow"), P("lngStartCol"), P("lngEndRow"), P("lngEndCol"),
        P("varArray"), P("blnCellValue").opt(false), P("strPassword").opt(""), P("strWriteResPassword").opt("")},
       &ExcelToOneDArray, "Read a block of worksheet cells into a one-dimensional array of trimmed texts.")
      .method("ExcelToTwoDArray",
              {P("strWorkbook").path(), P("varWorksheet"), P("lngStartRow").byVal(), P("lngStartCol").byVal(),
               P("lngEndRow").byVal(), P("lngEndCol").byVal(), P("varArray"), P("blnCellValue").opt(false),
               P("strPassword").opt(""), P("strWriteResPassword").opt("")},
              &ExcelToTwoDArray, "Read a block of worksheet cells into a two-dimensional array (row, column).");
}

const CreatePDFMembers::Register reg("data_excel", &describe);

}  // namespace
}  // namespace pm
