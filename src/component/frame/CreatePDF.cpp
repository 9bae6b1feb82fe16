#include "component/frame/CreatePDF.h"

#include "automation/ClassTables.h"
#include "component/frame/ModuleState.h"
#include "system/Files.h"
#include "system/clsRegistry.h"

namespace pm {

namespace {

const char* const kDistillerKeys[] = {
    "SOFTWARE\\Adobe\\Acrobat Distiller\\5.0\\PrinterName", "SOFTWARE\\Adobe\\Acrobat Distiller\\6.0\\PrinterName",
    "SOFTWARE\\Adobe\\Acrobat Distiller\\7.0\\PrinterName", "SOFTWARE\\Adobe\\Acrobat Distiller\\8.0\\PrinterName",
    "SOFTWARE\\Adobe\\Acrobat Distiller\\9.0\\PrinterName", "SOFTWARE\\Adobe\\Acrobat Distiller\\10.0\\PrinterName",
};

// The relay: a sink on the Distiller that raises the matching event of the
// CreatePDF that holds it. It holds the CreatePDF weakly so the pair does not
// keep itself alive.
class DistillerRelay : public EventSink {
 public:
  explicit DistillerRelay(std::weak_ptr<Dispatch> owner) : owner_(std::move(owner)) {}
  void onEvent(const EventCall& e) override {
    if (auto o = owner_.lock()) static_cast<CreatePDF&>(*o).relayEvent(e);
  }

 private:
  std::weak_ptr<Dispatch> owner_;
};

// Distiller event name → the CreatePDF event it becomes.
struct RelayName {
  const char* from;
  const char* to;
};
const RelayName kRelay[] = {{"OnJobStart", "JobStart"},       {"OnJobDone", "JobDone"},
                            {"OnJobFail", "JobFail"},         {"OnLogMessage", "LogMessage"},
                            {"OnPercentDone", "PercentDone"}, {"OnPageNumber", "PageNumber"}};

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace

const MemberTable& CreatePDF::table() {
  static const MemberTable t = [] {
    MemberTable table("CreatePDF");
    Members<CreatePDF> m(table);
    m.event("JobStart", 1, {P("strInputPostScript").path().as(VT::String), P("strOutputPDF").path().as(VT::String)})
        .event("JobDone", 2, {P("strInputPostScript").path().as(VT::String), P("strOutputPDF").path().as(VT::String)})
        .event("JobFail", 3, {P("strInputPostScript").path().as(VT::String), P("strOutputPDF").path().as(VT::String)})
        .event("LogMessage", 4, {P("strMessage").as(VT::String)})
        .event("PercentDone", 5, {P("nPercentDone").as(VT::Long)})
        .event("PageNumber", 6, {P("nPageNumber").as(VT::Long)});
    CreatePDFMembers::applyAll(
        table, {"frame", "printer", "convert_distill", "convert_word", "convert_text", "convert_excel",
                "convert_powerpoint", "convert_publisher", "convert_miscfile", "pdffiles_assembly", "pdffiles_viewer",
                "pdffiles_window", "pdffiles_search", "pdffiles_bookmarks", "pdffiles_thumbnails", "pdffiles_text",
                "data_arrays", "data_database", "data_excel"});
    return table;
  }();
  return t;
}

const MemberTable* CreatePDF::memberTable() const {
  return &table();
}

CreatePDF::CreatePDF() : events_(table().events()) {
  initialise();
}

CreatePDF::~CreatePDF() = default;

void CreatePDF::initialise() {
  ModuleState& state = moduleState();
  strPrinterName = "Acrobat Distiller";
  // One registry object serves every step; each step's failure is
  // ignored and the next one runs.
  clsRegistry reg;
  ignoreErrors([&] { reg.OpenRegistry(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\AcroExch.App\\AcrobatVersion"); });
  state.strAcrobatVersion.clear();
  ignoreErrors([&] {
    bool raw = false;
    state.strAcrobatVersion = CStr(reg.GetValue("", raw));
  });
  ignoreErrors([&] {
    if (Val(state.strAcrobatVersion) > 5.0) strPrinterName = "Adobe PDF";
  });
  // Later versions override earlier ones.
  for (const char* key : kDistillerKeys) {
    ignoreErrors([&] {
      if (reg.OpenRegistry(HKEY_LOCAL_MACHINE, key) != 0) {
        bool raw = false;
        strPrinterName = CStr(reg.GetValue("", raw));
      }
    });
  }
  // The private temporary folder of the user takes the place of
  // the fixed folder; the default stands even when it cannot be made.
  std::string temp;
  ignoreErrors([&] { temp = privateTempDir(); });
  if (temp.empty())
    temp = withTrailingSlash(
        std::string(std::getenv("TMPDIR") && *std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp"));
  state.strTempFilePath = temp;
}

void CreatePDF::setDistiller(ObjectRef distiller) {
  distillerEvents_.reset();
  objAdobeDistiller_ = std::move(distiller);
  if (objAdobeDistiller_ && objAdobeDistiller_->connectionPoint()) {
    std::weak_ptr<Dispatch> self = weak_from_this();
    distillerEvents_ = EventConnection(objAdobeDistiller_, std::make_shared<DistillerRelay>(self));
  }
}

void CreatePDF::relayEvent(const EventCall& e) {
  for (const RelayName& r : kRelay) {
    if (!iequals(e.event.name, r.from)) continue;
    const EventSpec* out = table().findEvent(r.to);
    // Copies: a client that changes an argument in its handler changes
    // nothing in the Distiller or here.
    std::vector<Variant> copies;
    copies.reserve(out->params.size());
    for (size_t i = 0; i < out->params.size(); ++i) {
      Variant v = i < e.args.size() && e.args[i] ? *e.args[i] : Variant();
      copies.push_back(coerce(v, out->params[i].type));
    }
    std::vector<Variant*> refs;
    for (Variant& c : copies) refs.push_back(&c);
    events_.raise(out->dispid, std::span<Variant* const>(refs.data(), refs.size()));
    return;
  }
}

void registerCreatePDF() {
  static const bool once = [] {
    ClassRegistry::instance().add(
        kCreatePDFProgId, kCreatePDFClsid, [] { return std::make_shared<CreatePDF>(); },
        "Pressmark PDF and PostScript conversion component");
    return true;
  }();
  (void)once;
}

namespace {
const bool registered = (registerCreatePDF(), true);
const RegisterClassTable listed(&CreatePDF::table);
}  // namespace

}  // namespace pm
