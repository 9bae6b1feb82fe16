// "Powerpoint.Application" over LibreOffice Impress: the members the
// presentation conversions call. Printing goes through the office's PDF
// export and Ghostscript's ps2write, as for the other office servers, and
// returns when the file is complete (foreground printing, always); the
// fixed-format export hands on the office's PDF as it is.
#include <sys/stat.h>

#include <com/sun/star/drawing/XDrawPage.hpp>
#include <com/sun/star/drawing/XDrawPages.hpp>
#include <com/sun/star/drawing/XDrawPagesSupplier.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>

#include "automation/Automation.h"
#include "automation/surfaces/Office.h"
#include "servers/office/OpenModel.h"
#include "servers/office/UnoUtil.h"

namespace pm::office {
namespace {

using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using XPropSet = css::beans::XPropertySet;

constexpr const char* kSource = "Pressmark PowerPoint server";
// PowerPoint reports its faults as one HRESULT with a description.
constexpr int32_t kErrPowerPoint = static_cast<int32_t>(0x80048240u);
[[noreturn]] void fail(const std::string& description) {
  raise(kErrPowerPoint, description, kSource);
}

double points(int32_t v) {
  return static_cast<double>(v) * 72.0 / 2540.0;
}

class PowerPointApp;

class Presentation : public Dispatch {
 public:
  Presentation(Reference<css::lang::XComponent> m, uint64_t gen, std::string path)
      : model_(std::move(m), gen, std::move(path)) {}
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return "Presentation"; }

  void with(const std::string& what, const std::function<void(const Reference<css::lang::XComponent>&)>& body) const {
    model_.with(what, body, kErrPowerPoint, kSource);
  }
  static Reference<css::drawing::XDrawPages> pages(const Reference<css::lang::XComponent>& m) {
    return Reference<css::drawing::XDrawPagesSupplier>(m, UNO_QUERY_THROW)->getDrawPages();
  }
  int32_t slideCount() const {
    int32_t n = 0;
    with("counting the slides", [&](const Reference<css::lang::XComponent>& m) { n = pages(m)->getCount(); });
    return n;
  }

  Variant PrintOptions(Frame&);
  Variant PageSetup(Frame&);
  Variant Slides(Frame&) { return Variant(slideCount()); }
  Variant FullName(Frame&) { return Variant(model_.path()); }
  // PrintOut(From, To, PrintToFile, Copies, Collate): slides From to To
  // (-1 or omitted: the first or the last), into the file PrintToFile.
  Variant PrintOut(Frame& f) {
    int32_t from = f.missing("From") ? -1 : CLng(f["From"]), to = f.missing("To") ? -1 : CLng(f["To"]);
    std::string out = f.missing("PrintToFile") ? std::string() : CStr(f["PrintToFile"]);
    if (!f.missing("Copies") && CLng(f["Copies"]) != 1)
      fail("Presentation.PrintOut : only one copy can be printed to a file.");
    if (!printerKnown(activePrinter))
      fail("Presentation.PrintOut : the printer \"" + activePrinter + "\" is not installed.");
    int32_t n = slideCount();
    int32_t first = from == -1 ? 1 : from, last = to == -1 ? n : to;
    if (first < 1 || last > n || first > last)
      fail("Presentation.PrintOut : Integer out of range. " + std::to_string(from) + " to " + std::to_string(to) +
           " is not within the " + std::to_string(n) + " slides.");
    PrintJob job;
    job.filter = "impress_pdf_Export";
    if (first != 1 || last != n) job.pageRange = std::to_string(first) + "-" + std::to_string(last);
    job.gray = colorType != 1;
    printToPostScript(model_, job, out, kErrPowerPoint, kSource);
    return {};
  }
  // ExportAsFixedFormat(Path, FixedFormatType, Intent, FrameSlides,
  // HandoutOrder, OutputType, PrintHiddenSlides, PrintRange, RangeType, ...):
  // every slide (ppPrintAll) as the office's own PDF (ppFixedFormatTypePDF
  // 2), written beside Path and renamed into place when complete. The print
  // options are not the export's: it keeps the colours and needs no printer.
  Variant ExportAsFixedFormat(Frame& f) {
    constexpr int32_t kTypePdf = 2, kRangeAll = 1, kOutputSlides = 1;
    std::string out = CStr(f["Path"]);
    if (Trim(out).empty()) fail("Presentation.ExportAsFixedFormat : give the Path.");
    if (CLng(f["FixedFormatType"]) != kTypePdf)
      fail("Presentation.ExportAsFixedFormat : only PDF (FixedFormatType 2) can be written by this server.");
    if (!f.missing("OutputType") && CLng(f["OutputType"]) != kOutputSlides)
      fail("Presentation.ExportAsFixedFormat : only slides (OutputType 1) can be exported by this server.");
    if (!f.missing("RangeType") && CLng(f["RangeType"]) != kRangeAll)
      fail("Presentation.ExportAsFixedFormat : only every slide (RangeType 1) can be exported by this server.");
    if (slideCount() < 1) fail("Presentation.ExportAsFixedFormat : the presentation has no slides.");
    PrintJob job;
    job.filter = "impress_pdf_Export";
    exportToPdf(model_, job, out, kErrPowerPoint, kSource);
    return {};
  }
  Variant Close(Frame&) {
    model_.close();
    return {};
  }
  void closeQuietly() { model_.close(); }
  bool isOpen() const { return model_.isOpen(); }

  // The print options of this presentation.
  int32_t printInBackground = -1;
  int32_t colorType = 1;  // ppPrintColor 1, ppPrintBlackAndWhite 2, ppPrintPureBlackAndWhite 3
  std::string activePrinter = kGenericPostScript;

 private:
  OpenModel model_;
};
using PresentationRef = std::shared_ptr<Presentation>;

class PrintOptionsObject : public Dispatch {
 public:
  explicit PrintOptionsObject(PresentationRef p) : p_(std::move(p)) {}
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable table("PrintOptions");
      Members<PrintOptionsObject> m(table);
      m.get("PrintInBackground", {}, &PrintOptionsObject::GetBackground)
          .let("PrintInBackground", {P("value").byVal()}, &PrintOptionsObject::LetBackground)
          .get("PrintColorType", {}, &PrintOptionsObject::GetColor)
          .let("PrintColorType", {P("value").byVal()}, &PrintOptionsObject::LetColor)
          .get("ActivePrinter", {}, &PrintOptionsObject::GetPrinter)
          .let("ActivePrinter", {P("value").byVal()}, &PrintOptionsObject::LetPrinter);
      return table;
    }();
    return &t;
  }
  std::string typeName() const override { return "PrintOptions"; }
  // Printing always finishes before PrintOut returns; background printing
  // is accepted and has nothing to change.
  Variant GetBackground(Frame&) { return Variant(p_->printInBackground); }
  Variant LetBackground(Frame& f) {
    int32_t v = CLng(f["value"]);
    if (v != 0 && v != -1 && v != 1) fail("PrintOptions.PrintInBackground : Invalid enumeration value.");
    p_->printInBackground = v;
    return {};
  }
  Variant GetColor(Frame&) { return Variant(p_->colorType); }
  Variant LetColor(Frame& f) {
    int32_t v = CLng(f["value"]);
    if (v < 1 || v > 3) fail("PrintOptions.PrintColorType : Invalid enumeration value.");
    p_->colorType = v;
    return {};
  }
  Variant GetPrinter(Frame&) { return Variant(p_->activePrinter); }
  Variant LetPrinter(Frame& f) {
    std::string name = CStr(f["value"]);
    if (!printerKnown(name)) fail("PrintOptions.ActivePrinter : the printer \"" + name + "\" is not installed.");
    p_->activePrinter = name;
    return {};
  }

 private:
  PresentationRef p_;
};

// msoOrientationHorizontal 1 (wider than tall), msoOrientationVertical 2.
class SlidePageSetup : public Dispatch {
 public:
  explicit SlidePageSetup(PresentationRef p) : p_(std::move(p)) {}
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable table("PageSetup");
      Members<SlidePageSetup> m(table);
      m.get("SlideOrientation", {}, &SlidePageSetup::GetOrientation)
          .let("SlideOrientation", {P("value").byVal()}, &SlidePageSetup::LetOrientation)
          .get("SlideWidth", {}, &SlidePageSetup::Width)
          .get("SlideHeight", {}, &SlidePageSetup::Height);
      return table;
    }();
    return &t;
  }
  std::string typeName() const override { return "PageSetup"; }
  void size(int32_t& w, int32_t& h) {
    p_->with("reading the slide size", [&](const Reference<css::lang::XComponent>& m) {
      Reference<XPropSet> page(Presentation::pages(m)->getByIndex(0), UNO_QUERY_THROW);
      w = getProp<sal_Int32>(page, "Width");
      h = getProp<sal_Int32>(page, "Height");
    });
  }
  Variant GetOrientation(Frame&) {
    int32_t w = 0, h = 0;
    size(w, h);
    return Variant(int32_t{w >= h ? 1 : 2});
  }
  Variant LetOrientation(Frame& f) {
    int32_t o = CLng(f["value"]);
    if (o != 1 && o != 2) fail("PageSetup.SlideOrientation : Invalid enumeration value.");
    p_->with("setting the slide orientation", [&](const Reference<css::lang::XComponent>& m) {
      Reference<css::drawing::XDrawPages> pages = Presentation::pages(m);
      for (sal_Int32 i = 0; i < pages->getCount(); ++i) {
        Reference<XPropSet> page(pages->getByIndex(i), UNO_QUERY_THROW);
        sal_Int32 w = getProp<sal_Int32>(page, "Width"), h = getProp<sal_Int32>(page, "Height");
        if ((o == 1 && w < h) || (o == 2 && w > h)) {
          setProp(page, "Width", h);
          setProp(page, "Height", w);
        }
      }
    });
    return {};
  }
  Variant Width(Frame&) {
    int32_t w = 0, h = 0;
    size(w, h);
    return Variant(static_cast<float>(points(w)));
  }
  Variant Height(Frame&) {
    int32_t w = 0, h = 0;
    size(w, h);
    return Variant(static_cast<float>(points(h)));
  }

 private:
  PresentationRef p_;
};

Variant Presentation::PrintOptions(Frame&) {
  return Variant(
      ObjectRef(std::make_shared<PrintOptionsObject>(std::static_pointer_cast<Presentation>(shared_from_this()))));
}
Variant Presentation::PageSetup(Frame&) {
  return Variant(
      ObjectRef(std::make_shared<SlidePageSetup>(std::static_pointer_cast<Presentation>(shared_from_this()))));
}

const MemberTable* Presentation::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("Presentation");
    Members<Presentation> m(table);
    m.get("PrintOptions", {}, &Presentation::PrintOptions)
        .get("PageSetup", {}, &Presentation::PageSetup)
        .get("SlideCount", {}, &Presentation::Slides)
        .get("FullName", {}, &Presentation::FullName)
        .method("PrintOut",
                {P("From").opt(), P("To").opt(), P("PrintToFile").opt(), P("Copies").opt(), P("Collate").opt()},
                &Presentation::PrintOut)
        .method("ExportAsFixedFormat",
                {P("Path").path(), P("FixedFormatType"), P("Intent").opt(), P("FrameSlides").opt(),
                 P("HandoutOrder").opt(), P("OutputType").opt(), P("PrintHiddenSlides").opt(), P("PrintRange").opt(),
                 P("RangeType").opt(), P("SlideShowName").opt(), P("IncludeDocProperties").opt(),
                 P("KeepIRMSettings").opt(), P("DocStructureTags").opt(), P("BitmapMissingFonts").opt(),
                 P("UseISO19005_1").opt(), P("ExternalExporter").opt()},
                &Presentation::ExportAsFixedFormat)
        .method("Close", {}, &Presentation::Close);
    return table;
  }();
  return &t;
}

class PowerPointApp : public Dispatch {
 public:
  ~PowerPointApp() override { closeAll(); }
  const MemberTable* memberTable() const override;
  std::string typeName() const override { return kPowerPointProgId; }
  void closeAll() {
    for (auto& w : presentations_)
      if (auto p = w.lock()) p->closeQuietly();
    presentations_.clear();
  }
  void requireRunning() const {
    if (quit_) fail("Application : the application has quit.");
  }
  // No window is ever shown; the values are kept for the client.
  Variant GetVisible(Frame&) { return Variant(visible_); }
  Variant LetVisible(Frame& f) {
    visible_ = CLng(f["value"]);
    return {};
  }
  Variant GetWindowState(Frame&) { return Variant(windowState_); }
  Variant LetWindowState(Frame& f) {
    int32_t v = CLng(f["value"]);
    if (v < 1 || v > 3) fail("Application.WindowState : Invalid enumeration value.");
    windowState_ = v;
    return {};
  }
  Variant Presentations(Frame&);
  Variant Quit(Frame&) {
    closeAll();
    quit_ = true;
    return {};
  }
  Variant Name(Frame&) { return Variant("Microsoft PowerPoint"); }
  Variant Version(Frame&) { return Variant("16.0"); }

  PresentationRef open(const std::string& path) {
    requireRunning();
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      fail("Presentations.Open : PowerPoint could not open the file " + path + ".");
    Reference<css::lang::XComponent> model;
    uint64_t gen = 0;
    LoadFailure why;
    OfficeBridge::instance().run("opening " + path, [&](Session& s) {
      model = loadHidden(s, path, {}, why);
      gen = s.generation;
      Reference<css::lang::XServiceInfo> info(model, UNO_QUERY);
      if (model.is() && !(info.is() && info->supportsService("com.sun.star.presentation.PresentationDocument"))) {
        closeModel(model);
        model.clear();
        why.why = "the file is not a presentation";
      }
    });
    if (!model.is())
      fail("Presentations.Open : PowerPoint could not open the file " + path +
           (why.why.empty() ? "." : ": " + why.why));
    auto p = std::make_shared<Presentation>(model, gen, path);
    presentations_.push_back(p);
    return p;
  }
  int32_t count() const {
    int32_t n = 0;
    for (auto& w : presentations_)
      if (auto p = w.lock(); p && p->isOpen()) ++n;
    return n;
  }

 private:
  std::vector<std::weak_ptr<Presentation>> presentations_;
  int32_t visible_ = 0, windowState_ = 1;
  bool quit_ = false;
};

class PresentationsObject : public Dispatch {
 public:
  explicit PresentationsObject(std::shared_ptr<PowerPointApp> app) : app_(std::move(app)) {}
  const MemberTable* memberTable() const override {
    static const MemberTable t = [] {
      MemberTable table("Presentations");
      Members<PresentationsObject> m(table);
      m.method("Open", {P("FileName").path(), P("ReadOnly").opt(), P("Untitled").opt(), P("WithWindow").opt()},
               &PresentationsObject::Open)
          .get("Count", {}, &PresentationsObject::Count);
      return table;
    }();
    return &t;
  }
  std::string typeName() const override { return "Presentations"; }
  Variant Open(Frame& f) { return Variant(ObjectRef(app_->open(CStr(f["FileName"])))); }
  Variant Count(Frame&) { return Variant(app_->count()); }

 private:
  std::shared_ptr<PowerPointApp> app_;
};

Variant PowerPointApp::Presentations(Frame&) {
  requireRunning();
  return Variant(
      ObjectRef(std::make_shared<PresentationsObject>(std::static_pointer_cast<PowerPointApp>(shared_from_this()))));
}

const MemberTable* PowerPointApp::memberTable() const {
  static const MemberTable t = [] {
    MemberTable table("Application");
    Members<PowerPointApp> m(table);
    m.get("Visible", {}, &PowerPointApp::GetVisible)
        .let("Visible", {P("value").byVal()}, &PowerPointApp::LetVisible)
        .get("WindowState", {}, &PowerPointApp::GetWindowState)
        .let("WindowState", {P("value").byVal()}, &PowerPointApp::LetWindowState)
        .get("Presentations", {}, &PowerPointApp::Presentations)
        .method("Quit", {}, &PowerPointApp::Quit)
        .get("Name", {}, &PowerPointApp::Name)
        .get("Version", {}, &PowerPointApp::Version);
    return table;
  }();
  return &t;
}

const RegisterClass reg(
    kPowerPointProgId, "", [] { return std::make_shared<PowerPointApp>(); },
    "Presentations through LibreOffice Impress");

}  // namespace
}  // namespace pm::office
