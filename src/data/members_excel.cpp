// Excel ranges to arrays: ExcelToOneDArray and ExcelToTwoDArray. Both attach
// to a running Excel of this process when there is one, start one
// otherwise, report their outcome as a 16-bit code and quit Excel at the end.
#include "automation/surfaces/Office.h"
#include "component/CreatePDF.h"

namespace pm {
namespace {

Variant code(int c) { return Variant(static_cast<int16_t>(c)); }

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
  // 1.
  if (!ignoreErrors([&] { x.app = GetActiveObject(office::kExcelProgId); }))
    if (!ignoreErrors([&] { x.app = CreateObject(office::kExcelProgId); })) return -1;
  // 2.
  if (f[array].vartype() != 0 && !f[array].isArray()) {
    x.quit();
    return -2;
  }
  // 3.
  if (!ignoreErrors([&] {
        ObjectRef books = objectOf(get(x.app, "Workbooks"));
        x.book = objectOf(call(books, "Open",
                               {Arg(f[0]), Named("WriteResPassword", f[writePassword]), Named("Password", f[password])}));
      })) {
    x.quit();
    return -3;
  }
  // 4.
  if (!validWorksheet(f[1]) || !ignoreErrors([&] { x.sheet = objectOf(get(x.book, "Worksheets", {Arg(f[1])})); })) {
    ignoreErrors([&] { call(x.book, "Close"); });
    x.quit();
    return -4;
  }
  // 5.
  ignoreErrors([&] { call(x.sheet, "Activate"); });
  return 0;
}

Variant cellOf(const ObjectRef& sheet, int32_t r, int16_t c, bool value) {
  ObjectRef cell = objectOf(get(sheet, "Cells", {Variant(r), Variant(c)}));
  return get(cell, value ? "Value" : "text");
}

Variant ExcelToOneDArray(CreatePDF&, Frame& f) {
  Excel x;
  if (int c = start(x, f, 6, 8, 9)) return code(c);
  bool value = CBool(f[7]);
  try {
    int32_t k = 0;
    const int32_t r1 = CLng(f[2]), r2 = CLng(f[4]);
    const int16_t c1 = CInt(f[3]), c2 = CInt(f[5]);
    for (int32_t r = r1; r <= r2; ++r)
      for (int16_t c = c1; c <= c2; ++c) {
        // Enlarged one element at a time, keeping what is there.
        if (!f[6].isArray()) f[6] = Variant(Array::vector({Variant()}));
        else f[6].arrayMut().redimPreserve(k);
        f[6].arrayMut().set({k}, Variant(Trim(CStr(cellOf(x.sheet, r, c, value)))));
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
  // Errors are ignored from here on: a cell that cannot be read stays
  // empty, and a block whose end lies before its start leaves the array.
  ignoreErrors([&] {
    bool value = CBool(f[7]);
    const int32_t r1 = CLng(f[2]), r2 = CLng(f[4]);
    const int16_t c1 = CInt(f[3]), c2 = CInt(f[5]);
    if (r2 < r1 || c2 < c1) return;
    Array a = Array::matrix(r2 - r1 + 1, c2 - c1 + 1, 0, 0);
    int32_t i = 0;
    for (int32_t r = r1; r <= r2; ++r, ++i) {
      int32_t j = 0;
      for (int16_t c = c1; c <= c2; ++c, ++j) ignoreErrors([&] { a.set({i, j}, cellOf(x.sheet, r, c, value)); });
    }
    f[6] = Variant(std::move(a));
  });
  ignoreErrors([&] { call(x.book, "Close"); });
  x.quit();
  return code(1);
}

void describe(Members<CreatePDF>& m) {
  m.method("ExcelToOneDArray",
           {P("strWorkbook"), P("varWorksheet"), P("lngStartRow"), P("lngStartCol"), P("lngEndRow"), P("lngEndCol"),
            P("varArray"), P("blnCellValue").opt(false), P("strPassword").opt(""), P("strWriteResPassword").opt("")},
           &ExcelToOneDArray, "Read a block of worksheet cells into a one-dimensional array of trimmed texts.")
      .method("ExcelToTwoDArray",
              {P("strWorkbook"), P("varWorksheet"), P("lngStartRow").byVal(), P("lngStartCol").byVal(), P("lngEndRow").byVal(),
               P("lngEndCol").byVal(), P("varArray"), P("blnCellValue").opt(false), P("strPassword").opt(""),
               P("strWriteResPassword").opt("")},
              &ExcelToTwoDArray, "Read a block of worksheet cells into a two-dimensional array (row, column).");
}

const CreatePDFMembers::Register reg("data_excel", &describe);

}  // namespace
}  // namespace pm
