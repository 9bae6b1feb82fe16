// PowerPoint presentations to PostScript or PDF: CreatePDFfromPowerPoint,
// CreatePDFfromPowerPoint2, CreatePSfromPowerPoint, CreatePSfromPowerPoint2.
#include "automation/surfaces/Office.h"
#include "component/frame/CreatePDF.h"
#include "component/convert/PrintFileWait.h"
#include "component/convert/WordPrint.h"

namespace pm::convert {
namespace {

struct SlideArgs {
  Variant* output;
  Variant* document;
  Variant* printer;  // strPrinter ("2") or strDistiller
  Variant* start;
  Variant* end;
  Variant* horizontal;
  Variant* blackAndWhite = nullptr;  // "2" only
  Variant* showWindow = nullptr;
  Variant* spoolJobs = nullptr;
  Variant* jobOptions = nullptr;
  Variant* applySecurity = nullptr;
};

// Null and anything that is not True read as False.
bool horizontal(const Variant& v) {
  bool yes = false;
  ignoreErrors([&] { yes = !v.isNull() && CBool(v); });
  return yes;
}

// Both slide numbers left at -1: the whole presentation.
bool everySlide(const Variant& start, const Variant& end) {
  bool all = false;
  ignoreErrors([&] { all = CLng(start) == -1 && CLng(end) == -1; });
  return all;
}

void convertSlides(CreatePDF& self, bool pdf, bool second, const SlideArgs& a) {
  requireInput(*a.document);
  WordRun run;
  officeTrap(
      self, run, pdf && !second,
      [&] {
        run.app = CreateObject(office::kPowerPointProgId);
        let(run.app, "Visible", Variant(int16_t{-1}));
        let(run.app, "WindowState", Variant(int16_t{2}));
        ObjectRef presentations = objectOf(get(run.app, "Presentations"));
        run.doc = objectOf(call(presentations, "Open", {Arg(*a.document)}));
        presentations.reset();
        ObjectRef options = objectOf(get(run.doc, "PrintOptions"));
        auto orientation = [&] {
          ObjectRef setup = objectOf(get(run.doc, "PageSetup"));
          let(setup, "SlideOrientation", Variant(int16_t{horizontal(*a.horizontal) ? int16_t{1} : int16_t{2}}));
        };
        std::string saved;
        if (!second) {
          // The caller's strDistiller is not changed.
          let(options, "PrintInBackground", Variant(int16_t{0}));
          let(options, "PrintColorType", Variant(int16_t{1}));
          orientation();
          saved = CStr(get(options, "ActivePrinter"));
          let(options, "ActivePrinter", Variant(printerFor(self, *a.printer)));
        } else {
          orientation();
          saved = CStr(get(options, "ActivePrinter"));
          let(options, "ActivePrinter", *a.printer);
          // Black and white keeps the presentation's own colour type.
          bool colour = false;
          ignoreErrors([&] { colour = Compare(*a.blackAndWhite, Variant(false)) == 0; });
          if (colour) let(options, "PrintColorType", Variant(int16_t{1}));
          let(options, "PrintInBackground", Variant(int16_t{0}));
        }
        // A PDF of every slide in colour is the office's own export, which the
        // Distiller takes as it is: no PostScript is made only to be turned
        // back. A slide range or black and white still prints.
        bool colour = !second;
        if (second) ignoreErrors([&] { colour = Compare(*a.blackAndWhite, Variant(false)) == 0; });
        const bool exportPdf = pdf && colour && everySlide(*a.start, *a.end);
        PrintTarget printTo(pdf, *a.output, exportPdf ? ".pdf" : ".ps");
        const std::string& out = printTo.path();
        constexpr int16_t kFixedFormatPdf = 2;
        if (exportPdf)
          call(run.doc, "ExportAsFixedFormat",
               {Named("Path", Variant(out)), Named("FixedFormatType", Variant(kFixedFormatPdf))});
        else  // slide numbers as the caller gave them
          call(run.doc, "PrintOut", {Named("PrintToFile", Variant(out)), Named("From", *a.start), Named("To", *a.end)});
        if (!pdf && second) waitForPrintFile(out);
        let(options, "ActivePrinter", Variant(saved));
        options.reset();
        call(run.doc, "Close");
        run.doc.reset();
        call(run.app, "Quit");
        run.app.reset();
        if (!pdf) return printTo.printed();
        std::string target = CStr(*a.output);
        distill(self, run, out, target, *a.showWindow, *a.spoolJobs, *a.jobOptions, *a.applySecurity);
      },
      {});  // a presentation closes without arguments
}

Variant CreatePDFfromPowerPoint(CreatePDF& self, Frame& f) {
  convertSlides(self, true, false,
                {&f["strPDFFile"], &f["strPPDocument"], &f["strDistiller"], &f["lngStartSlide"], &f["lngEndSlide"],
                 &f["blnHorizontalOrientation"], nullptr, &f["blnShowWindow"], &f["blnSpoolJobs"],
                 &f["strJobOptionsFile"], &f["blnApplySecurity"]});
  return {};
}
Variant CreatePDFfromPowerPoint2(CreatePDF& self, Frame& f) {
  convertSlides(self, true, true,
                {&f["strPDFFile"], &f["strPPDocument"], &f["strPrinter"], &f["lngStartSlide"], &f["lngEndSlide"],
                 &f["blnHorizontalOrientation"], &f["blnBlackAndWhite"], &f["blnShowWindow"], &f["blnSpoolJobs"],
                 &f["strJobOptionsFile"], &f["blnApplySecurity"]});
  return {};
}
Variant CreatePSfromPowerPoint(CreatePDF& self, Frame& f) {
  convertSlides(self, false, false,
                {&f["strPSFile"], &f["strPPDocument"], &f["strDistiller"], &f["lngStartSlide"], &f["lngEndSlide"],
                 &f["blnHorizontalOrientation"]});
  return {};
}
Variant CreatePSfromPowerPoint2(CreatePDF& self, Frame& f) {
  convertSlides(self, false, true,
                {&f["strPSFile"], &f["strPPDocument"], &f["strPrinter"], &f["lngStartSlide"], &f["lngEndSlide"],
                 &f["blnHorizontalOrientation"], &f["blnBlackAndWhite"]});
  return {};
}

void describe(Members<CreatePDF>& m) {
  const ParamSpec start = P("lngStartSlide").opt(int16_t{-1}), end = P("lngEndSlide").opt(int16_t{-1});
  const ParamSpec horizontal = P("blnHorizontalOrientation").opt(false);
  const ParamSpec printer = P("strPrinter").path().opt("Generic PostScript Printer");
  m.method("CreatePDFfromPowerPoint",
           {P("strPDFFile").path(), P("strPPDocument").path(), start, end, horizontal, P("strDistiller").path().opt(""),
            P("blnShowWindow").opt(false), P("blnSpoolJobs").opt(false), P("strJobOptionsFile").path().opt(""),
            P("blnApplySecurity").opt(false)},
           &CreatePDFfromPowerPoint,
           "Print a PowerPoint presentation through the Distiller printer and distill it into a PDF file.")
      .method("CreatePDFfromPowerPoint2",
              {P("strPDFFile").path(), P("strPPDocument").path(), printer, start, end, horizontal,
               P("blnBlackAndWhite").opt(false), P("blnShowWindow").opt(false), P("blnSpoolJobs").opt(false),
               P("strJobOptionsFile").path().opt(""), P("blnApplySecurity").opt(false)},
              &CreatePDFfromPowerPoint2,
              "Print a PowerPoint presentation through a PostScript printer and distill it into a PDF file.")
      .method(
          "CreatePSfromPowerPoint",
          {P("strPSFile").path(), P("strPPDocument").path(), start, end, horizontal, P("strDistiller").path().opt("")},
          &CreatePSfromPowerPoint,
          "Print a PowerPoint presentation to a PostScript file through the Distiller printer.")
      .method("CreatePSfromPowerPoint2",
              {P("strPSFile").path(), P("strPPDocument").path(), printer, start, end, horizontal,
               P("blnBlackAndWhite").opt(false)},
              &CreatePSfromPowerPoint2,
              "Print a PowerPoint presentation to a PostScript file through a PostScript printer.");
}

const CreatePDFMembers::Register reg("convert_powerpoint", &describe);

}  // namespace
}  // namespace pm::convert
