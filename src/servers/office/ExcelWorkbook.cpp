// A workbook of Excel.Application: its Worksheets by name or 1-based index,
// and Close, which never saves.
#include <filesystem>
#include <memory>

#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>

#include "servers/office/ExcelObjects.h"
#include "servers/office/UnoUtil.h"

namespace pm::office::excel {

using css::uno::Reference;
using css::uno::UNO_QUERY_THROW;

namespace {

class ExcelWorksheets : public Dispatch {
 public:
  explicit ExcelWorksheets(WorkbookRef book) : book_(std::move(book)) {}
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable table("Sheets");
      Members<ExcelWorksheets> m(table);
      m.method("Item", {P("Index")}, &ExcelWorksheets::Item).get("Count", {}, &ExcelWorksheets::Count);
      return table;
    }();
    return &t;
  }
  std::string typeName() const override { return "Sheets"; }
  Variant Item(Frame& f) {
    return Variant(ObjectRef(std::make_shared<ExcelWorksheet>(book_, book_->sheetIndex(f["Index"]))));
  }
  Variant Count(Frame&) {
    int32_t n = 0;
    book_->with("counting the sheets", [&](const Reference<css::lang::XComponent>& m) {
      Reference<css::sheet::XSpreadsheetDocument> doc(m, UNO_QUERY_THROW);
      n = Reference<css::container::XIndexAccess>(doc->getSheets(), UNO_QUERY_THROW)->getCount();
    });
    return Variant(n);
  }

 private:
  WorkbookRef book_;
};

}  // namespace

Reference<css::sheet::XSpreadsheet> sheetOf(const Reference<css::lang::XComponent>& m, int32_t index) {
  Reference<css::sheet::XSpreadsheetDocument> doc(m, UNO_QUERY_THROW);
  Reference<css::container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
  return Reference<css::sheet::XSpreadsheet>(sheets->getByIndex(index), UNO_QUERY_THROW);
}

ExcelWorkbook::ExcelWorkbook(Reference<css::lang::XComponent> model, uint64_t generation, std::string path,
                             std::weak_ptr<ExcelApp> app)
    : model_(std::move(model), generation, std::move(path)), app_(std::move(app)) {}

int32_t ExcelWorkbook::sheetIndex(const Variant& which) {
  int32_t found = -1;
  bool byName = which.isString();
  std::string name;
  int32_t number = 0;
  if (byName) {
    name = which.asString();
  } else {
    if (which.isMissing() || which.isEmpty() || which.isNull() || which.isObject() || which.isArray())
      fail(basicDescription(basic::TypeMismatch), basic::TypeMismatch);
    number = CLng(which);
  }
  with("finding a sheet", [&](const Reference<css::lang::XComponent>& m) {
    Reference<css::sheet::XSpreadsheetDocument> doc(m, UNO_QUERY_THROW);
    Reference<css::container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
    if (!byName) {
      if (number >= 1 && number <= sheets->getCount()) found = number - 1;
      return;
    }
    // Excel finds sheet names without regard to case.
    Reference<css::container::XNameAccess> names(sheets, UNO_QUERY_THROW);
    css::uno::Sequence<::rtl::OUString> all = names->getElementNames();
    for (sal_Int32 i = 0; i < all.getLength(); ++i)
      if (LCase(toUtf8(all[i])) == LCase(name)) {
        found = i;
        break;
      }
  });
  if (found < 0) fail(basicDescription(basic::SubscriptOutOfRange), basic::SubscriptOutOfRange);
  return found;
}

Variant ExcelWorkbook::Worksheets(Frame& f) {
  auto coll = std::make_shared<ExcelWorksheets>(std::static_pointer_cast<ExcelWorkbook>(shared_from_this()));
  if (f.missing("Index")) return Variant(ObjectRef(coll));
  return coll->Item(f);
}

// Close(SaveChanges): nothing is ever saved; asking to save is refused
// rather than dropped.
Variant ExcelWorkbook::Close(Frame& f) {
  if (!f.missing("SaveChanges") && CBool(f["SaveChanges"]))
    fail("Close with SaveChanges True is not supported: workbooks are never saved.");
  model_.close();
  return {};
}

// SaveAs(Filename, FileFormat, Password, WriteResPassword, ...): the format
// follows the extension (.ods, .xlsx, .xls, .csv); a password encrypts the
// saved file, which the office does reliably for its own format only.
Variant ExcelWorkbook::SaveAs(Frame& f) {
  std::string target = CStr(f["Filename"]);
  std::string ext = LCase(std::filesystem::path(target).extension().string());
  const char* filter = ext == ".ods"    ? "calc8"
                       : ext == ".xlsx" ? "Calc MS Excel 2007 XML"
                       : ext == ".xls"  ? "MS Excel 97"
                       : ext == ".csv"  ? "Text - txt - csv (StarCalc)"
                                        : nullptr;
  if (!filter) fail("SaveAs: no file format for the extension of " + target + ".");
  if (!f.missing("FileFormat")) fail("SaveAs: FileFormat is not supported; the format follows the extension.");
  std::string pwd = f.missing("Password") ? std::string() : CStr(f["Password"]);
  if (!f.missing("WriteResPassword") && !CStr(f["WriteResPassword"]).empty())
    fail("SaveAs: a write-reservation password is not supported.");
  if (!pwd.empty() && ext != ".ods") fail("SaveAs: a password can protect .ods files only.");
  std::unique_ptr<WorkFile> work;
  with("saving", [&](const Reference<css::lang::XComponent>& m) {
    std::vector<css::beans::PropertyValue> md = {prop("FilterName", ::rtl::OUString::createFromAscii(filter)),
                                                 prop("Overwrite", true)};
    if (!pwd.empty()) md.push_back(prop("Password", fromUtf8(pwd)));
    work = std::make_unique<WorkFile>(target);
    Reference<css::frame::XStorable>(m, UNO_QUERY_THROW)->storeToURL(fileUrl(work->path()), props(md));
  });
  deliverWorkFile(work->path(), target, "SaveAs", kErrExcel, kSource);
  return {};
}

Variant ExcelWorkbook::Name(Frame&) {
  return Variant(std::filesystem::path(model_.path()).filename().string());
}

const MemberTable* ExcelWorkbook::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("Workbook");
    Members<ExcelWorkbook> m(table);
    m.get("Worksheets", {P("Index").opt()}, &ExcelWorkbook::Worksheets)
        .get("Sheets", {P("Index").opt()}, &ExcelWorkbook::Worksheets)
        .method("Close", {P("SaveChanges").opt(), P("Filename").path().opt(), P("RouteWorkbook").opt()},
                &ExcelWorkbook::Close)
        .method("SaveAs",
                {P("Filename").path(), P("FileFormat").opt(), P("Password").opt(), P("WriteResPassword").opt()},
                &ExcelWorkbook::SaveAs)
        .get("Name", {}, &ExcelWorkbook::Name)
        .get("FullName", {}, &ExcelWorkbook::FullName);
    return table;
  }();
  return &t;
}

}  // namespace pm::office::excel
