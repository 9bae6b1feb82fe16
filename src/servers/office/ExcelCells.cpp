// The cells of a worksheet: Value (typed: numbers, dates, Booleans, texts)
// and Text (as displayed, with the cell's number format).
//
// A sheet's used area is read in one go on the first cell asked for: the
// values in one call, which cells hold anything and their number formats
// in a few more, and the displayed texts through the office's own CSV
// export "as shown", which formats every cell the way the sheet shows it.
// Asking the office cell by cell would cost a round trip per cell, which
// makes reading a large block slower than starting a fresh office.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/XCellFormatRangesSupplier.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XCellRangesQuery.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XSheetCellRanges.hpp>
#include <com/sun/star/sheet/XUsedAreaCursor.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/util/NumberFormat.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>

#include "servers/office/ExcelObjects.h"
#include "servers/office/UnoUtil.h"
#include "system/SystemServices.h"

namespace pm::office::excel {

using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY_THROW;

namespace {

// RFC 4180 records as the office writes them: fields split by commas,
// quoted when they hold a comma, a quote or a line break.
std::vector<std::vector<std::string>> parseCsv(const std::string& s) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, any = false;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < s.size() && s[i + 1] == '"') {
          field += '"';
          ++i;
        } else {
          quoted = false;
        }
      } else {
        field += c;
      }
      continue;
    }
    if (c == '"') {
      quoted = true;
      any = true;
    } else if (c == ',') {
      row.push_back(std::move(field));
      field.clear();
      any = true;
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
      row.push_back(std::move(field));
      field.clear();
      rows.push_back(std::move(row));
      row.clear();
      any = false;
    } else {
      field += c;
      any = true;
    }
  }
  if (any || !field.empty()) {
    row.push_back(std::move(field));
    rows.push_back(std::move(row));
  }
  return rows;
}

// Visits each cell of the ranges that lies inside rows x cols.
template <class Fn>
void eachCell(const Sequence<css::table::CellRangeAddress>& ranges, int32_t rows, int32_t cols, Fn&& fn) {
  for (const css::table::CellRangeAddress& a : ranges)
    for (int32_t r = a.StartRow; r <= a.EndRow && r < rows; ++r)
      for (int32_t c = a.StartColumn; c <= a.EndColumn && c < cols; ++c) fn(r, c);
}

}  // namespace

const SheetCells& ExcelWorksheet::cells() {
  SheetState& state = book_->state(index_);
  if (state.cells) return *state.cells;
  auto cells = std::make_unique<SheetCells>();
  std::string csvPath;
  struct RemoveCsv {
    std::string& p;
    ~RemoveCsv() {
      if (!p.empty()) ::unlink(p.c_str());
    }
  } removeCsv{csvPath};
  book_->with("reading the cells", [&](const Reference<css::lang::XComponent>& m) {
    Reference<css::sheet::XSpreadsheet> sheet = sheetOf(m, index_);
    Reference<css::sheet::XSheetCellCursor> cursor = sheet->createCursor();
    Reference<css::sheet::XUsedAreaCursor>(cursor, UNO_QUERY_THROW)->gotoEndOfUsedArea(false);
    css::table::CellRangeAddress end =
        Reference<css::sheet::XCellRangeAddressable>(cursor, UNO_QUERY_THROW)->getRangeAddress();
    const int32_t rows = end.EndRow + 1, cols = end.EndColumn + 1;
    cells->rows = rows;
    cells->cols = cols;
    cells->values.assign(static_cast<size_t>(rows) * cols, Variant());
    cells->texts.assign(static_cast<size_t>(rows) * cols, std::string());
    Reference<css::table::XCellRange> all = sheet->getCellRangeByPosition(0, 0, end.EndColumn, end.EndRow);

    // Which cells hold anything, and the number format kinds of the rest.
    std::vector<uint8_t> filled(cells->values.size(), 0);
    Reference<css::sheet::XCellRangesQuery> query(all, UNO_QUERY_THROW);
    using namespace css::sheet::CellFlags;
    eachCell(query->queryContentCells(sal_Int16(VALUE | DATETIME | STRING | FORMULA))->getRangeAddresses(), rows, cols,
             [&](int32_t r, int32_t c) { filled[static_cast<size_t>(r) * cols + c] = 1; });
    enum : uint8_t { kNumber = 1, kDate = 2, kBool = 3 };
    std::vector<uint8_t> kind(cells->values.size(), kNumber);
    Reference<css::util::XNumberFormats> formats =
        Reference<css::util::XNumberFormatsSupplier>(m, UNO_QUERY_THROW)->getNumberFormats();
    std::map<sal_Int32, uint8_t> kindOfKey;
    Reference<css::container::XIndexAccess> byFormat =
        Reference<css::sheet::XCellFormatRangesSupplier>(all, UNO_QUERY_THROW)->getCellFormatRanges();
    for (sal_Int32 i = 0, n = byFormat->getCount(); i < n; ++i) {
      Reference<css::beans::XPropertySet> range(byFormat->getByIndex(i), UNO_QUERY_THROW);
      sal_Int32 key = getProp<sal_Int32>(range, "NumberFormat");
      auto k = kindOfKey.find(key);
      if (k == kindOfKey.end()) {
        sal_Int16 type = getProp<sal_Int16>(formats->getByKey(key), "Type");
        uint8_t what = (type & css::util::NumberFormat::LOGICAL)                                  ? kBool
                       : (type & (css::util::NumberFormat::DATE | css::util::NumberFormat::TIME)) ? kDate
                                                                                                  : kNumber;
        k = kindOfKey.emplace(key, what).first;
      }
      if (k->second == kNumber) continue;
      css::table::CellRangeAddress a =
          Reference<css::sheet::XCellRangeAddressable>(range, UNO_QUERY_THROW)->getRangeAddress();
      eachCell(Sequence<css::table::CellRangeAddress>(&a, 1), rows, cols,
               [&](int32_t r, int32_t c) { kind[static_cast<size_t>(r) * cols + c] = k->second; });
    }

    Sequence<Sequence<Any>> data = Reference<css::sheet::XCellRangeData>(all, UNO_QUERY_THROW)->getDataArray();
    for (int32_t r = 0; r < rows && r < data.getLength(); ++r) {
      const Sequence<Any>& line = data[r];
      for (int32_t c = 0; c < cols && c < line.getLength(); ++c) {
        size_t at = static_cast<size_t>(r) * cols + c;
        if (!filled[at]) continue;
        double d = 0;
        ::rtl::OUString s;
        if (line[c] >>= d) {
          cells->values[at] = kind[at] == kDate   ? Variant(pm::Date{d})
                              : kind[at] == kBool ? Variant(d != 0)
                                                  : Variant(d);
        } else if (line[c] >>= s) {
          cells->values[at] = Variant(toUtf8(s));
        }
      }
    }

    // The texts as shown: the CSV export of this one sheet (the twelfth
    // option is the 1-based sheet number), UTF-8, formatted as displayed.
    csvPath = OfficeBridge::instance().workDir() + "/cells-" + GetRandomFileName() + ".csv";
    std::string options = "44,34,76,1,,0,false,true,true,false,false," + std::to_string(index_ + 1);
    std::vector<css::beans::PropertyValue> md = {prop("FilterName", ::rtl::OUString("Text - txt - csv (StarCalc)")),
                                                 prop("FilterOptions", fromUtf8(options))};
    Reference<css::frame::XStorable>(m, UNO_QUERY_THROW)->storeToURL(fileUrl(csvPath), props(md));
  });
  // The export names its file after the sheet ("<name>-<sheet>.csv"); the
  // random stem is unique in the private folder.
  std::string stem = std::filesystem::path(csvPath).stem().string() + "-";
  for (const auto& e : std::filesystem::directory_iterator(OfficeBridge::instance().workDir()))
    if (e.path().filename().string().rfind(stem, 0) == 0) {
      std::string written = e.path().string();
      std::error_code ec;
      std::filesystem::rename(written, csvPath, ec);
      break;
    }
  std::ifstream in(csvPath, std::ios::binary);
  if (!in) fail("The displayed texts of the sheet could not be read back from the office.");
  std::string csv((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::vector<std::string>> rows = parseCsv(csv);
  for (int32_t r = 0; r < cells->rows && r < static_cast<int32_t>(rows.size()); ++r)
    for (int32_t c = 0; c < cells->cols && c < static_cast<int32_t>(rows[r].size()); ++c)
      cells->texts[static_cast<size_t>(r) * cells->cols + c] = std::move(rows[r][c]);
  state.cells = std::move(cells);
  return *state.cells;
}

namespace {

std::string columnLetters(int32_t c) {
  std::string s;
  while (c > 0) {
    s.insert(s.begin(), static_cast<char>('A' + (c - 1) % 26));
    c = (c - 1) / 26;
  }
  return s;
}

}  // namespace

// One cell gives its value; a block gives an array (1 To rows, 1 To columns).
Variant ExcelRange::Value(Frame&) {
  const SheetCells& cells = sheet_->cells();
  auto at = [&](int32_t r, int32_t c) -> Variant {
    if (r > cells.rows || c > cells.cols) return Variant();
    return cells.values[static_cast<size_t>(r - 1) * cells.cols + (c - 1)];
  };
  if (block_.row1 == block_.row2 && block_.col1 == block_.col2) return at(block_.row1, block_.col1);
  int32_t rows = block_.row2 - block_.row1 + 1, cols = block_.col2 - block_.col1 + 1;
  Array a = Array::matrix(rows, cols, 1, 1);
  for (int32_t i = 0; i < rows; ++i)
    for (int32_t j = 0; j < cols; ++j) a.set({i + 1, j + 1}, at(block_.row1 + i, block_.col1 + j));
  return Variant(std::move(a));
}

// A block whose cells show different texts has no one text: Null.
Variant ExcelRange::Text(Frame&) {
  const SheetCells& cells = sheet_->cells();
  auto at = [&](int32_t r, int32_t c) -> std::string {
    if (r > cells.rows || c > cells.cols) return {};
    return cells.texts[static_cast<size_t>(r - 1) * cells.cols + (c - 1)];
  };
  std::string first = at(block_.row1, block_.col1);
  for (int32_t r = block_.row1; r <= block_.row2; ++r)
    for (int32_t c = block_.col1; c <= block_.col2; ++c)
      if (at(r, c) != first) return Variant::null();
  return Variant(first);
}

Variant ExcelRange::Address(Frame&) {
  std::string a = "$" + columnLetters(block_.col1) + "$" + std::to_string(block_.row1);
  if (block_.row1 != block_.row2 || block_.col1 != block_.col2)
    a += ":$" + columnLetters(block_.col2) + "$" + std::to_string(block_.row2);
  return Variant(a);
}

const MemberTable* ExcelRange::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("Range");
    Members<ExcelRange> m(table);
    m.get("Value", {P("RangeValueDataType").opt()}, &ExcelRange::Value)
        .get("Text", {}, &ExcelRange::Text)
        .get("Address",
             {P("RowAbsolute").opt(), P("ColumnAbsolute").opt(), P("ReferenceStyle").opt(), P("External").opt(),
              P("RelativeTo").opt()},
             &ExcelRange::Address)
        .get("Row", {}, &ExcelRange::Row)
        .get("Column", {}, &ExcelRange::Column)
        .get("Count", {}, &ExcelRange::Count)
        .method(
            "PrintOut",
            {P("From").opt(), P("To").opt(), P("Copies").opt(), P("Preview").opt(), P("ActivePrinter").path().opt(),
             P("PrintToFile").opt(), P("Collate").opt(), P("PrToFileName").path().opt(), P("IgnorePrintAreas").opt()},
            &ExcelRange::PrintOut)
        .method("ExportAsFixedFormat",
                {P("Type"), P("Filename").path().opt(), P("Quality").opt(), P("IncludeDocProperties").opt(),
                 P("IgnorePrintAreas").opt(), P("From").opt(), P("To").opt(), P("OpenAfterPublish").opt()},
                &ExcelRange::ExportAsFixedFormat);
    return table;
  }();
  return &t;
}

}  // namespace pm::office::excel
