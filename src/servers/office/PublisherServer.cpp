// "Publisher.Application" over LibreOffice Draw, which reads publications
// through its own import filter (and opens drawings as well). The
// publication prints whole with the printer's settings; PrintOut returns
// when the file is complete, and so does the fixed-format export, which
// hands on the office's PDF as it is.
#include <sys/stat.h>

#include <com/sun/star/drawing/XDrawPagesSupplier.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>

#include "automation/Automation.h"
#include "automation/surfaces/Office.h"
#include "servers/office/OpenModel.h"

namespace pm::office {
namespace {

using css::uno::Reference;
using css::uno::UNO_QUERY;

constexpr const char* kSource = "Pressmark Publisher server";
constexpr int32_t kErrPublisher = static_cast<int32_t>(0x80004005u);  // E_FAIL, as Publisher reports
[[noreturn]] void fail(const std::string& description) {
  raise(kErrPublisher, description, kSource);
}

class Publication : public Dispatch {
 public:
  Publication(Reference<css::lang::XComponent> m, uint64_t gen, std::string path, bool presentation)
      : model_(std::move(m), gen, std::move(path)), presentation_(presentation) {}
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable table("Document");
      Members<Publication> m(table);
      m.get("ActivePrinter", {}, &Publication::GetPrinter)
          .let("ActivePrinter", {P("value").byVal()}, &Publication::LetPrinter)
          .method("PrintOut",
                  {P("From").opt(), P("To").opt(), P("PrintToFile").opt(), P("Copies").opt(), P("Collate").opt()},
                  &Publication::PrintOut)
          .method(
              "ExportAsFixedFormat",
              {P("Format"), P("Filename").path(), P("Intent").opt(), P("IncludeDocumentProperties").opt(),
               P("ColorDownsampleTarget").opt(), P("ColorDownsampleThreshold").opt(), P("OneBitDownsampleTarget").opt(),
               P("OneBitDownsampleThreshold").opt(), P("From").opt(), P("To").opt(), P("Copies").opt(),
               P("Collate").opt(), P("PrintStyle").opt(), P("DocStructureTags").opt(), P("BitmapMissingFonts").opt(),
               P("UseISO19005_1").opt(), P("ExternalExporter").opt()},
              &Publication::ExportAsFixedFormat)
          .method("Close", {}, &Publication::Close)
          .get("FullName", {}, &Publication::FullName);
      return table;
    }();
    return &t;
  }
  std::string typeName() const override { return "Document"; }

  Variant GetPrinter(Frame&) {
    requireOpen();
    return Variant(printer_);
  }
  Variant LetPrinter(Frame& f) {
    requireOpen();
    std::string name = CStr(f["value"]);
    if (!printerKnown(name)) fail("The printer \"" + name + "\" is not installed.");
    printer_ = name;
    return {};
  }
  // PrintOut(From, To, PrintToFile, ...): pages From to To (omitted: all).
  Variant PrintOut(Frame& f) {
    requireOpen();
    if (!f.missing("Copies") && CLng(f["Copies"]) != 1) fail("PrintOut: only one copy can be printed to a file.");
    PrintJob job;
    job.filter = presentation_ ? "impress_pdf_Export" : "draw_pdf_Export";
    job.pageRange = pages(f.missing("From") ? 0 : CLng(f["From"]), f.missing("To") ? 0 : CLng(f["To"]), "PrintOut");
    printToPostScript(model_, job, f.missing("PrintToFile") ? std::string() : CStr(f["PrintToFile"]), kErrPublisher,
                      kSource);
    return {};
  }
  // ExportAsFixedFormat(Format, Filename, Intent, ..., From, To, Copies,
  // ...): the office's own PDF (pbFixedFormatTypePDF 2) of pages From to To
  // (omitted: all), written beside Filename and renamed into place when
  // complete; no printer takes part.
  Variant ExportAsFixedFormat(Frame& f) {
    constexpr int32_t kFormatPdf = 2;
    requireOpen();
    if (CLng(f["Format"]) != kFormatPdf)
      fail("ExportAsFixedFormat: only PDF (Format 2) can be written by this server.");
    if (!f.missing("Copies") && CLng(f["Copies"]) != 1) fail("ExportAsFixedFormat: only one copy can be exported.");
    PrintJob job;
    job.filter = presentation_ ? "impress_pdf_Export" : "draw_pdf_Export";
    job.pageRange =
        pages(f.missing("From") ? 0 : CLng(f["From"]), f.missing("To") ? 0 : CLng(f["To"]), "ExportAsFixedFormat");
    exportToPdf(model_, job, CStr(f["Filename"]), kErrPublisher, kSource);
    return {};
  }
  Variant Close(Frame&) {
    model_.close();
    return {};
  }
  Variant FullName(Frame&) { return Variant(model_.path()); }
  void closeQuietly() { model_.close(); }
  void requireOpen() const {
    if (!model_.isOpen()) fail("The publication " + model_.path() + " is closed.");
  }

 private:
  // The export's page range of pages from to to (0: the first or the last).
  static std::string pages(int32_t from, int32_t to, const std::string& member) {
    if (from < 0 || to < 0 || (from && to && to < from)) fail(member + ": the pages From/To are not valid.");
    if (!from && !to) return {};
    return std::to_string(from ? from : 1) + "-" + (to ? std::to_string(to) : std::string());
  }

  OpenModel model_;
  bool presentation_;
  std::string printer_ = kGenericPostScript;
};

class PublisherApp : public Dispatch {
 public:
  ~PublisherApp() override {
    if (active_) active_->closeQuietly();
  }
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable table("Application");
      Members<PublisherApp> m(table);
      m.method("Open", {P("Filename").path(), P("ReadOnly").opt(), P("AddToRecentFiles").opt(), P("SaveChanges").opt()},
               &PublisherApp::Open)
          .get("ActiveDocument", {}, &PublisherApp::ActiveDocument)
          .method("Quit", {}, &PublisherApp::Quit)
          .get("Name", {}, &PublisherApp::Name);
      return table;
    }();
    return &t;
  }
  std::string typeName() const override { return kPublisherProgId; }

  // Publisher shows one publication at a time: opening another closes the
  // one before.
  Variant Open(Frame& f) {
    if (quit_) fail("The application has quit.");
    std::string path = CStr(f["Filename"]);
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      fail("Publisher cannot find the file " + path + ".");
    Reference<css::lang::XComponent> model;
    uint64_t gen = 0;
    bool presentation = false;
    LoadFailure why;
    OfficeBridge::instance().run("opening " + path, [&](Session& s) {
      model = loadHidden(s, path, {}, why);
      gen = s.generation;
      Reference<css::lang::XServiceInfo> info(model, UNO_QUERY);
      presentation = info.is() && info->supportsService("com.sun.star.presentation.PresentationDocument");
      bool drawing = presentation || (info.is() && info->supportsService("com.sun.star.drawing.DrawingDocument"));
      if (model.is() && !(drawing && Reference<css::drawing::XDrawPagesSupplier>(model, UNO_QUERY).is())) {
        closeModel(model);
        model.clear();
        why.why = "it opens as another kind of document";
      }
    });
    if (!model.is())
      fail("Publisher cannot open the file " + path +
           ": the office has no import filter that reads it as a publication" +
           (why.why.empty() ? "." : " (" + why.why + ")."));
    if (active_) active_->closeQuietly();
    active_ = std::make_shared<Publication>(model, gen, path, presentation);
    return Variant(ObjectRef(active_));
  }
  Variant ActiveDocument(Frame&) {
    if (!active_) fail("There is no active publication.");
    return Variant(ObjectRef(active_));
  }
  Variant Quit(Frame&) {
    if (active_) active_->closeQuietly();
    active_.reset();
    quit_ = true;
    return {};
  }
  Variant Name(Frame&) { return Variant("Microsoft Publisher"); }

 private:
  std::shared_ptr<Publication> active_;
  bool quit_ = false;
};

const RegisterClass reg(
    kPublisherProgId, "", [] { return std::make_shared<PublisherApp>(); }, "Publications through LibreOffice Draw");

}  // namespace
}  // namespace pm::office
