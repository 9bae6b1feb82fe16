// Excel.Application and its Workbooks over LibreOffice Calc. An application
// object is announced in the running-object table while it lives, so a
// client of this process can attach to it instead of starting another.
#include <sys/stat.h>

#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>

#include "automation/surfaces/Office.h"
#include "servers/office/ExcelObjects.h"

namespace pm::office::excel {
namespace {

using css::uno::Reference;
using css::uno::UNO_QUERY;

class ExcelWorkbooks : public Dispatch {
 public:
  explicit ExcelWorkbooks(std::shared_ptr<ExcelApp> app) : app_(std::move(app)) {}
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable table("Workbooks");
      Members<ExcelWorkbooks> m(table);
      m.method("Open",
               {P("FileName").path(), P("UpdateLinks").opt(), P("ReadOnly").opt(), P("Format").opt(),
                P("Password").opt(), P("WriteResPassword").opt(), P("IgnoreReadOnlyRecommended").opt(),
                P("Origin").opt(), P("Delimiter").opt(), P("Editable").opt(), P("Notify").opt(), P("Converter").opt(),
                P("AddToMru").opt(), P("Local").opt(), P("CorruptLoad").opt()},
               &ExcelWorkbooks::Open)
          .get("Count", {}, &ExcelWorkbooks::Count);
      return table;
    }();
    return &t;
  }
  std::string typeName() const override { return "Workbooks"; }

  // The write-reservation password guards saving only; documents are
  // opened read-only and never saved, so it is not needed to read them.
  Variant Open(Frame& f) {
    app_->requireRunning();
    return Variant(ObjectRef(app_->open(CStr(f["FileName"]), f["Password"])));
  }
  Variant Count(Frame&) { return Variant(app_->openWorkbooks()); }

 private:
  std::shared_ptr<ExcelApp> app_;
};

}  // namespace

ExcelApp::~ExcelApp() {
  if (activeToken_) RevokeActiveObject(activeToken_);
  for (auto& w : books_)
    if (auto b = w.lock()) b->closeQuietly();
}

void ExcelApp::announce() {
  activeToken_ = RegisterActiveObject(kExcelProgId, shared_from_this());
}

Variant ExcelApp::Workbooks(Frame&) {
  requireRunning();
  return Variant(ObjectRef(std::make_shared<ExcelWorkbooks>(std::static_pointer_cast<ExcelApp>(shared_from_this()))));
}

// Quit closes what this application opened, without saving; the office
// process itself stays warm for the next client.
Variant ExcelApp::Quit(Frame&) {
  for (auto& w : books_)
    if (auto b = w.lock()) b->closeQuietly();
  books_.clear();
  quit_ = true;
  if (activeToken_) RevokeActiveObject(activeToken_);
  activeToken_ = 0;
  return {};
}

WorkbookRef ExcelApp::open(const std::string& path, const Variant& password) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    fail("'" + path +
         "' could not be found. Check the spelling of the file name, and verify that the file location is correct.");
  std::string pwd = password.isMissing() || password.isEmpty() ? std::string() : CStr(password);
  Reference<css::lang::XComponent> model;
  uint64_t gen = 0;
  LoadFailure why;
  OfficeBridge::instance().run("opening " + path, [&](Session& s) {
    model = loadHidden(s, path, pwd, why, true);
    gen = s.generation;
    if (model.is() && !Reference<css::sheet::XSpreadsheetDocument>(model, UNO_QUERY).is()) {
      closeModel(model);
      model.clear();
      why.why = "the file is not a workbook";
    }
  });
  if (!model.is()) {
    if (why.passwordAsked)
      fail(
          "The password you supplied is not correct. Verify that the CAPS LOCK key is off and be sure to use the "
          "correct capitalization. (" +
          path + ")");
    fail("Microsoft Excel cannot open the file '" + path + "'" + (why.why.empty() ? "." : ": " + why.why));
  }
  auto book = std::make_shared<ExcelWorkbook>(model, gen, path, std::static_pointer_cast<ExcelApp>(shared_from_this()));
  books_.push_back(book);
  return book;
}

const MemberTable* ExcelApp::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("Application");
    Members<ExcelApp> m(table);
    m.get("Workbooks", {}, &ExcelApp::Workbooks)
        .get("DisplayAlerts", {}, &ExcelApp::GetDisplayAlerts)
        .let("DisplayAlerts", {P("value").byVal()}, &ExcelApp::LetDisplayAlerts)
        .get("Visible", {}, &ExcelApp::GetVisible)
        .let("Visible", {P("value").byVal()}, &ExcelApp::LetVisible)
        .method("InchesToPoints", {P("Inches").byVal()}, &ExcelApp::InchesToPoints)
        .get("ActivePrinter", {}, &ExcelApp::GetActivePrinter)
        .method("Quit", {}, &ExcelApp::Quit)
        .get("Version", {}, &ExcelApp::Version)
        .get("Name", {}, &ExcelApp::Name);
    return table;
  }();
  return &t;
}

namespace {
const RegisterClass reg(
    kExcelProgId, "",
    [] {
      auto app = std::make_shared<ExcelApp>();
      app->announce();
      return app;
    },
    "Excel workbooks through LibreOffice Calc");
}  // namespace

}  // namespace pm::office::excel
